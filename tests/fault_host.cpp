// A stand-in for the program in the fault tests: starts one recording with the
// given mode through the controller, prints "started <file>" once FFmpeg runs,
// and waits to be killed.
#include "recorder/screenrecorder.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("Full");
    ScreenRecorder recorder;
    QString file;
    QObject::connect(&recorder, &ScreenRecorder::startWorkerRecording, &recorder,
                     [&file](const QString &fileName) { file = fileName; });
    QObject::connect(&recorder, &ScreenRecorder::isRecordingChanged, &recorder, [&] {
        if (recorder.isRecording()) {
            std::printf("started %s\n", qPrintable(file));
            std::fflush(stdout);
        }
    });
    recorder.startRecording(mode);
    return app.exec();
}
