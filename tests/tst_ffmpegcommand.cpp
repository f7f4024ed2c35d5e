// The FFmpeg command for every capture mode on both platforms, without running anything.
#include "worker/ffmpegcommand.h"

#include <QLocale>
#include <QtTest>

#include <clocale>

using Platform::CaptureBackend;
using FfmpegCommand::Order;

Q_DECLARE_METATYPE(CaptureBackend)

namespace {

const QString kMixVideo11 = QStringLiteral(
        "[1:a]volume=1.0[a_spk]; [2:a]volume=1.0[a_mic]; [a_spk][a_mic]amix=inputs=2:duration=longest[aout]");
const QString kMixAudio11 = QStringLiteral(
        "[0:a]volume=1.0[a_spk]; [1:a]volume=1.0[a_mic]; [a_spk][a_mic]amix=inputs=2:duration=longest[aout]");

QStringList videoTail(const QString &filter, const QString &videoMap, const QString &file)
{
    return {"-filter_complex", filter, "-map", videoMap, "-map", "[aout]",
            "-c:v", "libx264", "-preset", "ultrafast", "-crf", "28",
            "-c:a", "aac", "-b:a", "192k", "-pix_fmt", "yuv420p", "-y", file};
}

QStringList audioTail(const QString &filter, const QString &file)
{
    return {"-filter_complex", filter, "-c:a", "libmp3lame", "-q:a", "2", "-map", "[aout]", "-y", file};
}

Order order(const QString &mode, const QString &speaker, const QString &mic,
            int x = 0, int y = 0, int w = 0, int h = 0)
{
    Order o;
    o.fileName = QStringLiteral("C:/Users/ann/Desktop/ScreenRecordings/rec_2024-01-31_14-05-09.mp4");
    o.speakerDevice = speaker;
    o.micDevice = mic;
    o.mode = mode;
    o.x = x;
    o.y = y;
    o.w = w;
    o.h = h;
    return o;
}

const QString kFile = QStringLiteral("C:/Users/ann/Desktop/ScreenRecordings/rec_2024-01-31_14-05-09.mp4");
const QString kCrop800 = QStringLiteral(
        "[0:v]crop=w=min(800\\,iw-100):h=min(600\\,ih-50):x=100:y=50[vout]");
const QString kCropDefault = QStringLiteral(
        "[0:v]crop=w=min(1280\\,iw-0):h=min(720\\,ih-0):x=0:y=0[vout]");

} // namespace

class TestFfmpegCommand : public QObject
{
    Q_OBJECT

private slots:
    void argumentList_data();
    void argumentList();
    void crop_data();
    void crop();
    void gainFormatting_data();
    void gainFormatting();
    void sameTailOnBothPlatforms_data();
    void sameTailOnBothPlatforms();
};

void TestFfmpegCommand::argumentList_data()
{
    QTest::addColumn<CaptureBackend>("backend");
    QTest::addColumn<Order>("order");
    QTest::addColumn<QStringList>("expected");

    const auto win = CaptureBackend::GdiDirectShow;
    const auto lin = CaptureBackend::X11Pulse;
    const QStringList winFull = {"-f", "gdigrab", "-i", "desktop",
                                 "-f", "dshow", "-i", "audio=Stereo Mix (Realtek Audio)",
                                 "-f", "dshow", "-i", "audio=Microphone (USB)"};
    const QStringList winAudio = {"-f", "dshow", "-i", "audio=Stereo Mix (Realtek Audio)",
                                  "-f", "dshow", "-i", "audio=Microphone (USB)"};
    const QStringList linFull = {"-f", "x11grab", "-i", ":99",
                                 "-f", "pulse", "-i", "speakers.monitor",
                                 "-f", "pulse", "-i", "mic"};
    const QStringList linAudio = {"-f", "pulse", "-i", "speakers.monitor", "-f", "pulse", "-i", "mic"};
    const QString spk = QStringLiteral("Stereo Mix (Realtek Audio)");
    const QString mic = QStringLiteral("Microphone (USB)");

    QTest::newRow("windows Full") << win << order("Full", spk, mic)
                                  << winFull + videoTail(kMixVideo11, "0:v", kFile);
    QTest::newRow("windows Custom Area") << win << order("Custom Area", spk, mic, 100, 50, 800, 600)
                                         << winFull + videoTail(kCrop800 + ";" + kMixVideo11, "[vout]", kFile);
    QTest::newRow("windows Area") << win << order("Area", spk, mic, 100, 50, 800, 600)
                                  << winFull + videoTail(kCrop800 + ";" + kMixVideo11, "[vout]", kFile);
    QTest::newRow("windows MP3 only") << win << order("MP3 only", spk, mic)
                                      << winAudio + audioTail(kMixAudio11, kFile);
    QTest::newRow("windows Audio Only") << win << order("Audio Only", spk, mic)
                                        << winAudio + audioTail(kMixAudio11, kFile);
    QTest::newRow("windows other text records the desktop") << win << order("Window", spk, mic)
                                                            << winFull + videoTail(kMixVideo11, "0:v", kFile);
    QTest::newRow("windows mp3 only in other case is not audio") << win << order("mp3 only", spk, mic)
                                                                 << winFull + videoTail(kMixVideo11, "0:v", kFile);
    QTest::newRow("windows blanks around MP3 only are not trimmed") << win << order(" MP3 only", spk, mic)
                                                                    << winFull + videoTail(kMixVideo11, "0:v", kFile);
    QTest::newRow("windows empty mode") << win << order("", spk, mic)
                                        << winFull + videoTail(kMixVideo11, "0:v", kFile);
    QTest::newRow("windows empty devices keep their place")
            << win << order("MP3 only", "", "")
            << QStringList{"-f", "dshow", "-i", "audio=", "-f", "dshow", "-i", "audio="} + audioTail(kMixAudio11, kFile);
    QTest::newRow("windows empty speaker, video")
            << win << order("Full", "", mic)
            << QStringList{"-f", "gdigrab", "-i", "desktop", "-f", "dshow", "-i", "audio=",
                           "-f", "dshow", "-i", "audio=Microphone (USB)"} + videoTail(kMixVideo11, "0:v", kFile);
    QTest::newRow("windows device text with quotes and =")
            << win << order("MP3 only", "Line \"A\"=1: x\\y", "Mikrofon (Ünïcode)")
            << QStringList{"-f", "dshow", "-i", "audio=Line \"A\"=1: x\\y",
                           "-f", "dshow", "-i", "audio=Mikrofon (Ünïcode)"} + audioTail(kMixAudio11, kFile);

    QTest::newRow("linux Full") << lin << order("Full", "speakers.monitor", "mic")
                                << linFull + videoTail(kMixVideo11, "0:v", kFile);
    QTest::newRow("linux Custom Area") << lin << order("Custom Area", "speakers.monitor", "mic", 100, 50, 800, 600)
                                       << linFull + videoTail(kCrop800 + ";" + kMixVideo11, "[vout]", kFile);
    QTest::newRow("linux Area without size") << lin << order("Area", "speakers.monitor", "mic", 30, 40, 0, 0)
                                             << linFull + videoTail(kCropDefault + ";" + kMixVideo11, "[vout]", kFile);
    QTest::newRow("linux MP3 only") << lin << order("MP3 only", "speakers.monitor", "mic")
                                    << linAudio + audioTail(kMixAudio11, kFile);
    QTest::newRow("linux Audio Only") << lin << order("Audio Only", "speakers.monitor", "mic")
                                      << linAudio + audioTail(kMixAudio11, kFile);
    QTest::newRow("linux mp3 only in other case") << lin << order("mp3 only", "speakers.monitor", "mic")
                                                  << linFull + videoTail(kMixVideo11, "0:v", kFile);
    QTest::newRow("linux empty devices open the default source")
            << lin << order("Full", "", "")
            << QStringList{"-f", "x11grab", "-i", ":99", "-f", "pulse", "-i", "default",
                           "-f", "pulse", "-i", "default"} + videoTail(kMixVideo11, "0:v", kFile);
}

void TestFfmpegCommand::argumentList()
{
    QFETCH(CaptureBackend, backend);
    QFETCH(Order, order);
    QFETCH(QStringList, expected);

    const QStringList args = FfmpegCommand::arguments(order, backend, QStringLiteral(":99"));
    QCOMPARE(args, expected);
    // Counts the worker relies on: 18 for sound only, 32 with video.
    QVERIFY(args.size() == 18 || args.size() == 32);
}

void TestFfmpegCommand::crop_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<QString>("expected");

    QTest::newRow("given region") << 100 << 50 << 800 << 600 << kCrop800;
    QTest::newRow("zero width falls back to 1280x720 at origin")
            << 300 << 200 << 0 << 600 << kCropDefault;
    QTest::newRow("zero height falls back") << 300 << 200 << 640 << 0 << kCropDefault;
    QTest::newRow("negative size falls back") << 10 << 10 << -640 << -480 << kCropDefault;
    QTest::newRow("negative x becomes 0")
            << -20 << 10 << 640 << 480
            << QStringLiteral("[0:v]crop=w=min(640\\,iw-0):h=min(480\\,ih-10):x=0:y=10[vout]");
    QTest::newRow("negative y becomes 0")
            << 16 << -8 << 320 << 240
            << QStringLiteral("[0:v]crop=w=min(320\\,iw-16):h=min(240\\,ih-0):x=16:y=0[vout]");
    QTest::newRow("odd sizes are passed as given")
            << 1 << 3 << 641 << 479
            << QStringLiteral("[0:v]crop=w=min(641\\,iw-1):h=min(479\\,ih-3):x=1:y=3[vout]");
    QTest::newRow("large screen offsets")
            << 2560 << 1440 << 1920 << 1080
            << QStringLiteral("[0:v]crop=w=min(1920\\,iw-2560):h=min(1080\\,ih-1440):x=2560:y=1440[vout]");
}

void TestFfmpegCommand::crop()
{
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(QString, expected);

    QCOMPARE(FfmpegCommand::cropFilter(x, y, w, h), expected);
    // And it reaches the region command as the first half of argument 14.
    const QStringList args = FfmpegCommand::arguments(order("Custom Area", "s", "m", x, y, w, h),
                                                      CaptureBackend::GdiDirectShow, QString());
    QVERIFY(args.at(13).startsWith(expected + ";[1:a]volume="));
}

void TestFfmpegCommand::gainFormatting_data()
{
    QTest::addColumn<double>("speaker");
    QTest::addColumn<double>("mic");
    QTest::addColumn<QString>("speakerText");
    QTest::addColumn<QString>("micText");

    QTest::newRow("unity") << 1.0 << 1.0 << "1.0" << "1.0";
    QTest::newRow("half on the microphone") << 1.0 << 0.5 << "1.0" << "0.5";
    QTest::newRow("whole number keeps .0") << 2.0 << 0.0 << "2.0" << "0.0";
    QTest::newRow("0.96 rounds up") << 0.96 << 0.04 << "1.0" << "0.0";
    QTest::newRow("not clamped") << 3.5 << -0.5 << "3.5" << "-0.5";
    QTest::newRow("slider midpoint noise") << 0.7500000001 << 1.4999999 << "0.8" << "1.5";
}

void TestFfmpegCommand::gainFormatting()
{
    QFETCH(double, speaker);
    QFETCH(double, mic);
    QFETCH(QString, speakerText);
    QFETCH(QString, micText);

    // A comma-decimal locale must not leak into FFmpeg's filter text.
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const char *previousC = std::setlocale(LC_NUMERIC, nullptr);
    const QByteArray savedC = previousC ? QByteArray(previousC) : QByteArray("C");
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");

    Order o = order("MP3 only", "s", "m");
    o.speakerVolume = speaker;
    o.micVolume = mic;
    const QStringList audio = FfmpegCommand::arguments(o, CaptureBackend::X11Pulse, QString());
    o.mode = QStringLiteral("Full");
    const QStringList video = FfmpegCommand::arguments(o, CaptureBackend::GdiDirectShow, QString());

    std::setlocale(LC_NUMERIC, savedC.constData());
    QLocale::setDefault(previous);

    const QString tail = QStringLiteral("[a_mic]; [a_spk][a_mic]amix=inputs=2:duration=longest[aout]");
    QCOMPARE(audio.at(9), QStringLiteral("[0:a]volume=%1[a_spk]; [1:a]volume=%2").arg(speakerText, micText) + tail);
    QCOMPARE(video.at(13), QStringLiteral("[1:a]volume=%1[a_spk]; [2:a]volume=%2").arg(speakerText, micText) + tail);
}

void TestFfmpegCommand::sameTailOnBothPlatforms_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("Full") << "Full";
    QTest::newRow("Custom Area") << "Custom Area";
    QTest::newRow("MP3 only") << "MP3 only";
}

void TestFfmpegCommand::sameTailOnBothPlatforms()
{
    QFETCH(QString, mode);
    // Only the inputs differ between the platforms; filters, maps and encoders do not.
    Order o = order(mode, "spk", "mic", 8, 6, 320, 200);
    o.micVolume = 0.3;
    o.speakerVolume = 1.7;
    const QStringList win = FfmpegCommand::arguments(o, CaptureBackend::GdiDirectShow, QString());
    const QStringList lin = FfmpegCommand::arguments(o, CaptureBackend::X11Pulse, QStringLiteral(":0"));
    QCOMPARE(win.size(), lin.size());
    const int inputs = mode == QLatin1String("MP3 only") ? 8 : 12;
    QCOMPARE(win.mid(inputs), lin.mid(inputs));
    QCOMPARE(win.at(inputs), QStringLiteral("-filter_complex"));
    for (int i = 0; i < inputs; i += 4) {
        QCOMPARE(win.at(i), QStringLiteral("-f"));
        QCOMPARE(lin.at(i), QStringLiteral("-f"));
        QCOMPARE(win.at(i + 2), QStringLiteral("-i"));
        QCOMPARE(lin.at(i + 2), QStringLiteral("-i"));
    }
}

QTEST_APPLESS_MAIN(TestFfmpegCommand)
#include "tst_ffmpegcommand.moc"
