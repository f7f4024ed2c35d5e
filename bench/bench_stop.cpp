// 2. Stop latency: stopRecording() until the new file is first in fileList, next
// to the same FFmpeg run by hand and stopped with "q" on its standard input,
// alternated in the same run; real ffmpeg on the 1280x720 test screen.
#include "benchsupport.h"
#include "benches.h"

#include "recorder/screenrecorder.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <QStorageInfo>
#include <QVariantMap>

using namespace Bench;

namespace {

constexpr int kRecordMs = 3000;

struct ProgramStop {
    double toListed = -1;   // stopRecording() -> new file first in fileList
    double toIdle = -1;     // stopRecording() -> isRecording false
    QString file;
};

QString firstListed(const ScreenRecorder &recorder)
{
    const QVariantList list = recorder.fileList();
    return list.isEmpty() ? QString() : list.first().toMap().value(QStringLiteral("name")).toString();
}

ProgramStop programStop(ScreenRecorder &recorder)
{
    ProgramStop r;
    QSignalSpy orders(&recorder, &ScreenRecorder::startWorkerRecording);
    resetFfmpegLog();
    recorder.startRecording(QStringLiteral("Full"));
    if (orders.isEmpty() || !waitUntil([&] { return recorder.isRecording(); }, 10000))
        return r;
    r.file = orders.first().at(0).toString();
    if (!waitUntil([] { return ffmpegProgressMs() >= kRecordMs; }, 30000, 10))
        return r;

    const QString name = QFileInfo(r.file).fileName();
    QElapsedTimer clock;
    clock.start();
    qint64 t0 = 0, t1 = 0, idle = -1;
    // isRecordingChanged(false) comes just before the folder is read again.
    const QMetaObject::Connection c = QObject::connect(&recorder, &ScreenRecorder::isRecordingChanged, [&] {
        if (!recorder.isRecording() && idle < 0)
            idle = clock.nsecsElapsed();
    });
    const bool ok = waitForSignal(
            &recorder, &ScreenRecorder::fileListChanged, [&] { return firstListed(recorder) == name; },
            [&] {
                t0 = clock.nsecsElapsed();
                recorder.stopRecording();
            },
            clock, &t1, 15000);
    QObject::disconnect(c);
    if (ok) {
        r.toListed = double(t1 - t0) / 1e6;
        r.toIdle = idle >= 0 ? double(idle - t0) / 1e6 : -1;
    }
    waitUntil([&] { return !recorder.isRecording(); }, 10000);
    return r;
}

double handStop(const QString &program, const QString &file)
{
    HandFfmpeg hand;
    hand.start(program, fullArguments(file));
    if (!hand.process().waitForStarted(10000))
        return -1;
    if (!waitUntil([&] { return hand.progressMs() >= kRecordMs; }, 30000, 10)) {
        hand.process().kill();
        hand.process().waitForFinished(5000);
        return -1;
    }
    QElapsedTimer clock;
    clock.start();
    hand.process().write("q\n");
    const bool ended = hand.process().waitForFinished(15000);
    const double elapsed = double(clock.nsecsElapsed()) / 1e6;
    return ended && hand.process().exitCode() == 0 ? elapsed : -1;
}

} // namespace

int benchStop(const Options &options)
{
    PrivateHome home;
    useRealFfmpeg();
    const int runs = options.quick ? 3 : 8;
    constexpr double kGoalRatio = 1.10;

    ScreenRecorder recorder;
    const QString program = ffmpegProgram();
    std::vector<double> listed, idle, hand;
    int validProgram = 0, validHand = 0, failures = 0;
    for (int i = 0; i < runs; ++i) {
        const ProgramStop p = programStop(recorder);
        const QString handFile = home.path() + QStringLiteral("/hand-%1.mp4").arg(i);
        const double h = handStop(program, handFile);
        if (p.toListed < 0 || h < 0) {
            ++failures;
            continue;
        }
        listed.push_back(p.toListed);
        idle.push_back(p.toIdle);
        hand.push_back(h);
        validProgram += probe(p.file).videoFrames > 0;
        validHand += probe(handFile).videoFrames > 0;
    }

    // The work the program does on the main thread after FFmpeg has ended.
    std::vector<double> refresh, storage;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer t;
        t.start();
        recorder.refreshFileList();
        refresh.push_back(double(t.nsecsElapsed()) / 1e6);
        t.restart();
        recorder.refreshStorageInfo();
        storage.push_back(double(t.nsecsElapsed()) / 1e6);
    }

    const double ratio = median(hand) > 0 ? median(listed) / median(hand) : 0;
    Table table(QStringLiteral("2. Stop latency: stopRecording() until the new file is first in fileList"),
                QStringLiteral("Caprello"), QStringLiteral("FFmpeg by hand: \"q\" -> exit"));
    table.goal(QStringLiteral("median of %1 stops, ~%2 s recordings at 1280x720").arg(listed.size()).arg(kRecordMs / 1000),
               ms(median(listed)) + QStringLiteral(" (ratio %1)").arg(ratio, 0, 'f', 2), ms(median(hand)),
               QStringLiteral("ratio at most %1").arg(kGoalRatio, 0, 'f', 2), !listed.empty() && ratio <= kGoalRatio);
    table.info(QStringLiteral("max"), ms(maximum(listed)), ms(maximum(hand)));
    table.info(QStringLiteral("of which: until isRecording false, median"), ms(median(idle)));
    table.info(QStringLiteral("refreshFileList() alone (few files), median of 20"), ms(median(refresh), 2));
    table.info(QStringLiteral("refreshStorageInfo() alone, median of 20"), ms(median(storage), 2));
    table.info(QStringLiteral("files with video frames (ffprobe)"),
               QStringLiteral("%1 of %2").arg(validProgram).arg(listed.size()),
               QStringLiteral("%1 of %2").arg(validHand).arg(hand.size()));
    table.note(QStringLiteral("Each recording is stopped once FFmpeg reports %1 s of output; program and hand "
                              "alternate. The hand-run FFmpeg gets FfmpegCommand::arguments() for \"Full\" "
                              "(Platform::captureBackend(), Platform::screenName(), speakers.monitor, mic) and is "
                              "timed from writing \"q\\n\" to its exit (QProcess::waitForFinished).")
                       .arg(kRecordMs / 1000));
    if (failures)
        table.note(QStringLiteral("Failed rounds left out: %1.").arg(failures));
    table.print();
    return table.misses();
}
