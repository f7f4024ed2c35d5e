// What can be decided without a process or a device: the FFmpeg command, which
// audio inputs are recorded, file names.
#include "recorder/devicechoice.h"
#include "recorder/screenrecorder.h"
#include "support.h"
#include "worker/ffmpegcommand.h"

using Platform::CaptureBackend;
Q_DECLARE_METATYPE(CaptureBackend)
Q_DECLARE_METATYPE(FfmpegCommand::Screen)

class TestPure : public QObject
{
    Q_OBJECT
private slots:
    void command_data();
    void command();
    void deviceChoice_data();
    void deviceChoice();
    void names();
};

void TestPure::command_data()
{
    QTest::addColumn<CaptureBackend>("backend");
    QTest::addColumn<FfmpegCommand::Order>("order");
    QTest::addColumn<QString>("expected");  // arguments joined by '|'
    QTest::addColumn<FfmpegCommand::Screen>("screen");

    const auto win = CaptureBackend::GdiDirectShow;
    const auto lin = CaptureBackend::X11Pulse;
    const QString file = "C:/Users/Jo Ann/Desktop/ScreenRecordings/rec_2024-01-31_14-05-09.mp4";
    const auto order = [&](const QString &mode, double speaker, double mic, QRect area = {}) {
        return FfmpegCommand::Order{file, "Microphone (USB \"2\")", "Stereo Mix (Realtek)", mic, speaker, mode,
                                    area.x(), area.y(), area.width(), area.height()};
    };
    const FfmpegCommand::Screen x11{":7"};
    const QString dshow = "-f|dshow|-i|audio=Stereo Mix (Realtek)|-f|dshow|-i|audio=Microphone (USB \"2\")|";
    const QString video = "|-c:v|libx264|-preset|ultrafast|-crf|28|-c:a|aac|-b:a|192k|-pix_fmt|yuv420p|-y|" + file;
    QTest::newRow("Full") << win << order("Full", 1.0, 1.0)
        << "-f|gdigrab|-i|desktop|" + dshow + "-filter_complex|[1:a]volume=1.0[a_spk]; [2:a]volume=1.0[a_mic]; "
           "[a_spk][a_mic]amix=inputs=2:duration=longest[aout]|-map|0:v|-map|[aout]" + video << x11;
    QTest::newRow("Custom Area, German gains") << win << order("Custom Area", 0.5, 1.5, {100, 50, 800, 600})
        << "-f|gdigrab|-i|desktop|" + dshow + "-filter_complex|[0:v]crop=w=min(800\\,iw-100):h=min(600\\,ih-50):"
           "x=100:y=50[vout];[1:a]volume=0.5[a_spk]; [2:a]volume=1.5[a_mic]; "
           "[a_spk][a_mic]amix=inputs=2:duration=longest[aout]|-map|[vout]|-map|[aout]" + video << x11;
    QTest::newRow("Linux MP3 only") << lin << order("MP3 only", 2.0, 0.0)
        << "-f|pulse|-i|Stereo Mix (Realtek)|-f|pulse|-i|Microphone (USB \"2\")|-filter_complex|[0:a]volume=2.0[a_spk]; "
           "[1:a]volume=0.0[a_mic]; [a_spk][a_mic]amix=inputs=2:duration=longest[aout]|-c:a|libmp3lame|-q:a|2|-map|[aout]|-y|" + file << x11;
    // The shared screen starts at 1280,0 on the desktop: the area is cut relative to it.
    QTest::newRow("Wayland area on a second screen")
        << CaptureBackend::PortalPulse << order("Custom Area", 1.0, 1.0, {1380, 50, 800, 600})
        << "-f|rawvideo|-use_wallclock_as_timestamps|1|-pixel_format|bgr0|-video_size|1920x1080|-framerate|30|-i|/dev/fd/9|"
           "-f|pulse|-i|Stereo Mix (Realtek)|-f|pulse|-i|Microphone (USB \"2\")|-filter_complex|"
           "[0:v]crop=w=min(800\\,iw-100):h=min(600\\,ih-50):x=100:y=50[vout];[1:a]volume=1.0[a_spk]; "
           "[2:a]volume=1.0[a_mic]; [a_spk][a_mic]amix=inputs=2:duration=longest[aout]|-map|[vout]|-map|[aout]" + video
        << FfmpegCommand::Screen{{}, 9, 1920, 1080, 1280, 0};
}

void TestPure::command()
{
    QFETCH(CaptureBackend, backend);
    QFETCH(FfmpegCommand::Order, order);
    QFETCH(QString, expected);
    QFETCH(FfmpegCommand::Screen, screen);
    QLocale::setDefault(QLocale::German);  // a decimal comma must never reach FFmpeg
    QCOMPARE(FfmpegCommand::arguments(order, backend, screen).join('|'), expected);
    QLocale::setDefault(QLocale::c());
}

void TestPure::deviceChoice_data()
{
    // Inputs as "flags:description": d default, m monitor, s monitor of the default output.
    QTest::addColumn<QStringList>("inputs");
    QTest::addColumn<QString>("mic");
    QTest::addColumn<QString>("speaker");  // empty: none found
    QTest::newRow("Windows") << QStringList{":Stereo Mix (Realtek)", "d:Microphone (Realtek)"}
                             << "Microphone (Realtek)" << "Stereo Mix (Realtek)";
    QTest::newRow("no microphone by name: the default input")
            << QStringList{":Line In", "d:Headset", ":what u hear", ":Wave Out Mix"} << "Headset" << "what u hear";
    QTest::newRow("Linux: what the speakers play") << QStringList{"m:Monitor of HDMI", "s:Monitor of Speakers", "d:Sine"}
                                                   << "Sine" << "Monitor of Speakers";
    QTest::newRow("no system sound") << QStringList{"d:Microphone Array", ":Line In"} << "Microphone Array" << "";
}

void TestPure::deviceChoice()
{
    QFETCH(QStringList, inputs);
    QFETCH(QString, mic);
    QFETCH(QString, speaker);
    Platform::AudioInputs devices;
    for (const QString &input : inputs) {
        const QString flags = input.section(':', 0, 0), description = input.section(':', 1);
        devices.inputs.append({description, description + "#name", flags.contains('d'), !QString(flags).remove('d').isEmpty(),
                               flags.contains('s')});
        if (devices.inputs.last().isDefault)
            devices.defaultInput = devices.inputs.last();
    }
    const DeviceChoice::Choice choice = DeviceChoice::choose(devices.inputs, devices.defaultInput);
    // FFmpeg opens the names; with no system sound, the microphone stands in.
    QCOMPARE(QStringList({choice.mic.name, choice.speaker.name, choice.speakerFound ? "found" : "none"}),
             QStringList({mic + "#name", (speaker.isEmpty() ? mic : speaker) + "#name", speaker.isEmpty() ? "none" : "found"}));
}

void TestPure::names()
{
    // A second recording in the same second never overwrites the first.
    QTemporaryDir dir;
    QStringList names;
    for (int i = 0; i < 3; ++i) {
        names << ScreenRecorder::recordingFilePath(dir.path(), {QDate(2024, 1, 31), QTime(14, 5, 9)}, ".mp4").section('/', -1);
        QFile(dir.filePath(names.last())).open(QIODevice::WriteOnly);
    }
    QCOMPARE(names.join(' '), "rec_2024-01-31_14-05-09.mp4 rec_2024-01-31_14-05-09_2.mp4 rec_2024-01-31_14-05-09_3.mp4");
}

QTEST_MAIN(TestPure)
#include "tst_pure.moc"
