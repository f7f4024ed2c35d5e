// Real recordings: the Debian ffmpeg, an X server and a PulseAudio server whose
// "speakers" sink plays a 1000 Hz tone (system sound, grabbed from its monitor)
// and whose "mic" source is a 440 Hz sine (the microphone). scripts/test.sh sets
// all of that up; without it the test is skipped unless CAPRELLO_E2E_REQUIRED is set.
#include "recorder/screenrecorder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>

namespace {

struct Probe {
    QStringList codecs;  // in stream order
    int width = 0;
    int height = 0;
    double duration = 0;
};

Probe probe(const QString &file)
{
    QProcess p;
    p.start(QStringLiteral("ffprobe"),
            {"-v", "error", "-show_entries", "stream=codec_name,width,height:format=duration",
             "-of", "json", file});
    p.waitForFinished(30000);
    const QJsonObject root = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    Probe result;
    for (const QJsonValue &s : root.value("streams").toArray()) {
        const QJsonObject stream = s.toObject();
        result.codecs << stream.value("codec_name").toString();
        if (stream.contains("width")) {
            result.width = stream.value("width").toInt();
            result.height = stream.value("height").toInt();
        }
    }
    result.duration = root.value("format").toObject().value("duration").toString().toDouble();
    return result;
}

// Mean level in dB of the sound around `hz`; -inf when there is none.
double toneLevel(const QString &file, int hz)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"),
            {"-hide_banner", "-nostats", "-i", file, "-vn", "-af",
             QStringLiteral("bandpass=f=%1:width_type=h:w=50,volumedetect").arg(hz), "-f", "null", "-"});
    p.waitForFinished(60000);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("mean_volume: (-?[0-9.]+|-inf) dB")).match(err);
    if (!m.hasMatch() || m.captured(1) == QLatin1String("-inf"))
        return -1000;
    return m.captured(1).toDouble();
}

// The furthest output time FFmpeg has reported in its progress lines, in ms.
// The worker logs every stderr piece from its own thread, hence the atomic.
std::atomic<int> g_progressMs{0};
QtMessageHandler g_previousHandler = nullptr;

void watchProgress(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    static const QRegularExpression time(QStringLiteral("time=(\\d+):(\\d+):(\\d+)\\.(\\d+)"));
    if (msg.startsWith(QLatin1String("[ffmpeg]:"))) {
        QRegularExpressionMatchIterator it = time.globalMatch(msg);
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            const int ms = ((m.captured(1).toInt() * 60 + m.captured(2).toInt()) * 60 + m.captured(3).toInt()) * 1000
                    + m.captured(4).toInt() * 10;
            if (ms > g_progressMs)
                g_progressMs = ms;
        }
    }
    g_previousHandler(type, context, msg);
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void record_data();
    void record();

private:
    QTemporaryDir m_home;
};

void TestEndToEnd::initTestCase()
{
    const bool required = qEnvironmentVariableIsSet("CAPRELLO_E2E_REQUIRED");
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), {"list", "short", "sources"});
    const bool pulse = pactl.waitForFinished(5000) && pactl.exitCode() == 0
            && pactl.readAllStandardOutput().contains("speakers.monitor");
    const bool display = qEnvironmentVariableIsSet("DISPLAY");
    if (!pulse || !display) {
        if (required)
            QFAIL("needs DISPLAY and a PulseAudio server with the speakers sink and mic source");
        QSKIP("no X display or PulseAudio test server: run through scripts/test.sh");
    }
    QVERIFY(m_home.isValid());
    g_previousHandler = qInstallMessageHandler(watchProgress);
    qputenv("HOME", QFile::encodeName(m_home.path()));
}

void TestEndToEnd::record_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QRect>("area");
    QTest::addColumn<bool>("pauseAndResume");
    QTest::addColumn<bool>("stopWhilePaused");
    QTest::addColumn<QStringList>("codecs");
    QTest::addColumn<QSize>("size");

    QTest::newRow("Full, paused and resumed")
            << "Full" << QRect() << true << false << QStringList{"h264", "aac"} << QSize(1280, 720);
    QTest::newRow("Custom Area, stopped while paused")
            << "Custom Area" << QRect(100, 60, 640, 360) << false << true << QStringList{"h264", "aac"}
            << QSize(640, 360);
    QTest::newRow("Custom Area past the edge is cut")
            << "Custom Area" << QRect(1000, 600, 640, 360) << false << false << QStringList{"h264", "aac"}
            << QSize(280, 120);
    QTest::newRow("MP3 only") << "MP3 only" << QRect() << false << false << QStringList{"mp3"} << QSize();
}

void TestEndToEnd::record()
{
    QFETCH(QString, mode);
    QFETCH(QRect, area);
    QFETCH(bool, pauseAndResume);
    QFETCH(bool, stopWhilePaused);
    QFETCH(QStringList, codecs);
    QFETCH(QSize, size);

    g_progressMs = 0;
    ScreenRecorder recorder;
    QSignalSpy files(&recorder, &ScreenRecorder::fileListChanged);
    const QString ext = mode == QLatin1String("MP3 only") ? ".mp3" : ".mp4";
    const QString file = ScreenRecorder::saveDirectoryPath() + "/rec_" + QTest::currentDataTag() + ext;
    emit recorder.startWorkerRecording(file, "mic", "speakers.monitor", 1.0, 1.0, mode,
                                       area.x(), area.y(), area.width(), area.height());
    QTRY_VERIFY(recorder.isRecording());
    // FFmpeg probes its inputs for a second or two before it records anything;
    // a stop before that leaves a file without frames.
    QTRY_VERIFY_WITH_TIMEOUT(g_progressMs >= 2000, 20000);
    // FFmpeg's pulse input reports "pa_stream_get_latency() failed" while it runs on,
    // which drops the controller to idle; so drive the worker directly here.
    if (pauseAndResume || stopWhilePaused) {
        emit recorder.pauseWorkerRecording();
        QTest::qWait(1000);
    }
    if (pauseAndResume) {
        emit recorder.resumeWorkerRecording();
        QTest::qWait(1500);
    }
    emit recorder.stopWorkerRecording();
    // Rescanned after a clean end only, never after an error.
    QVERIFY(files.wait(10000));
    QVERIFY(!recorder.isRecording());

    const Probe p = probe(file);
    QCOMPARE(p.codecs, codecs);
    if (size.isValid()) {
        QCOMPARE(p.width, size.width());
        QCOMPARE(p.height, size.height());
    }
    QVERIFY2(p.duration > 1.5, qPrintable(QString::number(p.duration)));

    const double mic = toneLevel(file, 440);
    const double speakers = toneLevel(file, 1000);
    qInfo("%s: %s %dx%d, %.2f s, 440 Hz (mic) %.1f dB, 1000 Hz (system sound) %.1f dB",
          qPrintable(QFileInfo(file).fileName()), qPrintable(p.codecs.join('+')), p.width, p.height,
          p.duration, mic, speakers);
    QVERIFY2(mic > -40, "the microphone's tone is missing");
    QVERIFY2(speakers > -40, "the system sound's tone is missing");

    QCOMPARE(recorder.fileList().first().toMap().value("name").toString(), QFileInfo(file).fileName());
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
