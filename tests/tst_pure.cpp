// What can be decided without a process or a device: the FFmpeg command, which
// audio inputs are recorded, file names, what stays of a recording cut off.
#include "platform/recordingfinish.h"
#include "recorder/devicechoice.h"
#include "recorder/screenrecorder.h"
#include "recorder/storageestimate.h"
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
    void texts_data();
    void texts();
    void wholeFragments();
};

void TestPure::command_data()
{
    QTest::addColumn<CaptureBackend>("backend");
    QTest::addColumn<FfmpegCommand::Order>("order");
    QTest::addColumn<QString>("expected");  // arguments joined by '|'
    QTest::addColumn<FfmpegCommand::Screen>("screen");
    QTest::addColumn<QString>("base");  // the input time the file's time counts from

    const auto win = CaptureBackend::GdiDirectShow;
    const auto lin = CaptureBackend::X11Pulse;
    const QString file = "C:/Users/Jo Ann/Desktop/ScreenRecordings/rec_2024-01-31_14-05-09.mp4";
    const auto order = [&](const QString &mode, double speaker, double mic, QRect area = {}) {
        return FfmpegCommand::Order{file, "Microphone (USB \"2\")", "Stereo Mix (Realtek)", mic, speaker, mode,
                                    area.x(), area.y(), area.width(), area.height(), 1706709909.1256};
    };
    const FfmpegCommand::Screen x11{":7"};
    // The expressions ('…' here) are checked by real recordings; what they count from, below.
    const QString drop = "astats=metadata=1:reset=1:measure_perchannel=none:measure_overall=Peak_level,ametadata=mode=select:key=lavfi.astats.Overall.Peak_level:value=-1000:function=greater,";
    const QString cut = "aresample=async=100:min_hard_comp=1:flags=res,asetpts='…',aeval='…':c=same:enable='…',asetnsamples=n=4800:p=0," + drop
        + "asetnsamples=n=120:p=0," + drop + "asetpts='…',aresample=async=1:min_hard_comp=0:first_pts=0,volume=";
    const QString sound = "[%1:a]asetpts='…'," + cut + "%2[a_spk]; [%3:a]asetpts='…'," + cut + "%4[a_mic]; [a_spk][a_mic]amix=inputs=2:duration=longest[aout]";
    // Windows mutes nothing, and its shipped ffmpeg.exe has neither fps nor the silence drop's filters.
    const QString winCut = "aresample=async=100:min_hard_comp=1:flags=res,asetpts='…',asetpts='…',aresample=async=1:min_hard_comp=0:first_pts=0,volume=";
    const QString winSound = "[1:a]asetpts='…'," + winCut + "%1[a_spk]; [2:a]asetpts='…'," + winCut + "%2[a_mic]; [a_spk][a_mic]amix=inputs=2:duration=longest[aout]";
    const QString dshow = "-f|dshow|-audio_buffer_size|50|-i|audio=Stereo Mix (Realtek)|"
                          "-f|dshow|-audio_buffer_size|50|-i|audio=Microphone (USB \"2\")|-filter_complex|[0:v]";
    const QString video = "|-map|[vout]|-map|[aout]|-fps_mode|passthrough|-c:v|libx264|-preset|ultrafast|-crf|28|-c:a|aac|-b:a|192k|-pix_fmt|yuv420p|"
        "-movflags|+frag_keyframe+empty_moov+default_base_moof+delay_moov|-frag_duration|1000000|-flush_packets|1|";
    const QString winVideo = QString(video).replace("passthrough|", "passthrough|-enc_time_base:v|1:1000|");
    QTest::newRow("Full") << win << order("Full", 1.0, 1.0) << "-thread_queue_size|32|-f|gdigrab|-i|desktop|" + dshow + "setpts='…'[vout];"
        + winSound.arg("1.0", "1.0") + winVideo + "-y|" + file << x11 << "0";
    QTest::newRow("Custom Area, German gains") << win << order("Custom Area", 0.5, 1.5, {100, 50, 800, 600})
        << "-thread_queue_size|32|-f|gdigrab|-i|desktop|" + dshow + "crop=w=min(800\\,iw-100):h=min(600\\,ih-50):x=100:y=50,setpts='…'[vout];"
        + winSound.arg("0.5", "1.5") + winVideo + "-y|" + file << x11 << "0";
    QTest::newRow("Linux MP3 only") << lin << order("MP3 only", 2.0, 0.0)
        << "-nofind_stream_info|-thread_queue_size|1024|-f|pulse|-i|Stereo Mix (Realtek)|-thread_queue_size|1024|-f|pulse|-i|Microphone (USB \"2\")|-filter_complex|"
           + sound.arg(0).arg("2.0").arg(1).arg("0.0") + "|-c:a|libmp3lame|-q:a|2|-map|[aout]|-y|" + file << x11 << "1706709909.126";
    // The shared screen starts at 1280,0 on the desktop: the area is cut relative to it.
    QTest::newRow("Wayland area on a second screen")
        << CaptureBackend::PortalPulse << order("Custom Area", 1.0, 1.0, {1380, 50, 800, 600})
        << "-nofind_stream_info|-thread_queue_size|32|-f|rawvideo|-use_wallclock_as_timestamps|1|-pixel_format|bgr0|-video_size|1920x1080|"
           "-framerate|1000|-i|/dev/fd/9|-thread_queue_size|1024|-f|pulse|-i|Stereo Mix (Realtek)|-thread_queue_size|1024|-f|pulse|-i|Microphone (USB \"2\")|-filter_complex|"
           "[0:v]crop=w=min(800\\,iw-100):h=min(600\\,ih-50):x=100:y=50,setpts='…',fps=30[vout];" + sound.arg(1).arg("1.0").arg(2).arg("1.0")
           + video + "-y|" + file
        << FfmpegCommand::Screen{{}, 9, 1920, 1080, 1280, 0} << "1706709909.126";
    // On X the file keeps each grab's time: no fps filter rounds it to a grid.
    QTest::newRow("X11 through GStreamer")
        << CaptureBackend::X11Feed << order("Full", 1.0, 1.0)
        << "-nofind_stream_info|-thread_queue_size|32|-f|rawvideo|-use_wallclock_as_timestamps|1|-pixel_format|bgr0|-video_size|1280x720|"
           "-framerate|1000|-i|/dev/fd/6|-thread_queue_size|1024|-f|pulse|-i|Stereo Mix (Realtek)|-thread_queue_size|1024|-f|pulse|-i|Microphone (USB \"2\")|-filter_complex|"
           "[0:v]setpts='…'[vout];" + sound.arg(1).arg("1.0").arg(2).arg("1.0") + video + "-y|" + file
        << FfmpegCommand::Screen{":7", 6, 1280, 720, 0, 0} << "1706709909.126";
}

void TestPure::command()
{
    QFETCH(CaptureBackend, backend);
    QFETCH(FfmpegCommand::Order, order);
    QFETCH(QString, expected);
    QFETCH(FfmpegCommand::Screen, screen);
    QFETCH(QString, base);
    QLocale::setDefault(QLocale::German);  // a decimal comma must never reach FFmpeg
    QString args = FfmpegCommand::arguments(order, backend, screen).join('|');
    QCOMPARE(args.count("T-" + base), order.mode.startsWith("MP3") ? 4 : 5);  // the picture's time and each input's two
    QCOMPARE(args.replace(QRegularExpression("'[^']*'"), "'…'"), expected);
    QLocale::setDefault(QLocale::c());
}

void TestPure::deviceChoice_data()
{
    // Inputs as "flags:description": d default, m monitor, s monitor of the default output.
    QTest::addColumn<QStringList>("inputs");
    QTest::addColumn<QString>("mic");
    QTest::addColumn<QString>("speaker");  // empty: none found
    QTest::newRow("no microphone by name: the default input")
            << QStringList{":Line In", "d:Headset", ":what u hear", ":Wave Out Mix"} << "Headset" << "what u hear";
    QTest::newRow("Linux: what the speakers play") << QStringList{"m:Monitor of HDMI", "s:Monitor of Speakers", "d:Sine"}
                                                   << "Sine" << "Monitor of Speakers";
    QTest::newRow("no system sound") << QStringList{"d:Microphone Array", ":Line In"} << "Microphone Array" << "";
    // The default input is often not the microphone (a webcam, Line In): the name decides.
    QTest::newRow("microphone not the default input") << QStringList{"d:Line In", ":Microphone (USB)", ":STEREO MIX"}
                                                      << "Microphone (USB)" << "STEREO MIX";
    QTest::newRow("two microphones: the default one") << QStringList{":Microphone (USB)", "d:microphone array"}
                                                      << "microphone array" << "";
    QTest::newRow("two microphones, neither default: the first")
            << QStringList{"d:Webcam", ":Microphone (USB)", ":Microphone Array", ":Stereo Mix"} << "Microphone (USB)" << "Stereo Mix";
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

void TestPure::texts_data()
{
    // What the gallery's size column and the information bar read for a byte count, and
    // whether a recording of 10 MB so far goes on with that many bytes free.
    QTest::addColumn<QString>("text");  // "size", "space", "predict" or "goes on"
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("expected");
    const qint64 gib = qint64(1) << 30, hour = StorageEstimate::kBytesPerSecond * 3600;
    const qint64 minuteAndCopy = StorageEstimate::kBytesPerSecond * 60 + 10000000;
    const QList<std::tuple<const char *, qint64, const char *>> rows = {
        {"size", 1023, "1023 B"}, {"size", 1024, "1.0 KB"}, {"size", 1048575, "1024.0 KB"},
        {"size", 1048576, "1.00 MB"}, {"size", 123456789, "117.74 MB"}, {"size", 1073741823, "1024.00 MB"},
        {"size", 1610612736, "1.50 GB"}, {"size", gib * 1024, "1024.00 GB"},
        {"space", -1, "?"}, {"space", gib - 1, "0GB"}, {"space", 76 * gib + 5, "76GB"},
        {"predict", -1, "?"}, {"predict", 45 * hour - 1, "44Hour"}, {"predict", 45 * hour, "45Hour"},
        {"goes on", -1, "yes"}, {"goes on", minuteAndCopy - 1, "no"}, {"goes on", minuteAndCopy, "yes"},
    };
    for (const auto &[text, bytes, expected] : rows)
        QTest::addRow("%s %lld", text, bytes) << text << bytes << expected;
}

void TestPure::texts()
{
    QFETCH(QString, text);
    QFETCH(qint64, bytes);
    QFETCH(QString, expected);
    QLocale::setDefault(QLocale::German);  // sizes keep their point
    const QString goesOn = StorageEstimate::roomToGoOn(bytes, 10000000) ? "yes" : "no";
    QCOMPARE(text == "goes on" ? goesOn : text == "size" ? ScreenRecorder::formatFileSize(bytes)
             : text == "space" ? StorageEstimate::spaceText(bytes) : StorageEstimate::predictText(bytes), expected);
    QLocale::setDefault(QLocale::c());
}

void TestPure::wholeFragments()
{
    // Recordings FFmpeg could not end, as their MP4s' top-level boxes of 40 bytes ("*": the
    // file ends halfway into it, "0": its length says "to the end"), and the bytes that stay.
    const QList<QPair<QString, int>> rows = {{"ftyp moov moof mdat moof mdat", 240}, {"ftyp moov moof mdat moof*", 160},
        {"ftyp moov moof mdat moof mdat*", 160}, {"ftyp moov moof mdat moof", 160}, {"ftyp moov mdat0", 120}, {"ftyp moov*", 60}};
    QTemporaryDir dir;
    for (const auto &[boxes, kept] : rows) {
        QByteArray bytes;
        for (const QString &type : boxes.split(' ')) {
            const QByteArray box = QByteArray::fromHex(type.endsWith('0') ? "00000000" : "00000028") + type.left(4).toLatin1() + QByteArray(32, 'x');
            bytes += type.endsWith('*') ? box.left(20) : box;
        }
        QFile file(dir.filePath(boxes));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush());
        RecordingFinish::keepWholeFragments(file.fileName());
        QVERIFY2(file.size() == kept, qPrintable(boxes));
    }
}

QTEST_MAIN(TestPure)
#include "tst_pure.moc"
