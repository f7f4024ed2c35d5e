// Real recordings: the Debian ffmpeg, an X server and a PulseAudio server whose
// "speakers" sink plays a 1000 Hz tone (system sound, grabbed from its monitor)
// and whose "mic" source is a 440 Hz sine (the microphone). scripts/test.sh sets
// all of that up; without it the test is skipped unless CAPRELLO_E2E_REQUIRED is set.
#include "recorder/devicechoice.h"
#include "recorder/screenrecorder.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cmath>

namespace {

// Mean level in dB of the sound around `hz`; -1000 when there is none.
// `input` is FFmpeg's input arguments: a file, or a PulseAudio source.
double toneLevel(const QStringList &input, int hz)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"),
            QStringList{"-hide_banner", "-nostats"} + input
                    + QStringList{"-vn", "-af", QStringLiteral("bandpass=f=%1:width_type=h:w=50,volumedetect").arg(hz),
                                  "-f", "null", "-"});
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
    if (msg.startsWith(QLatin1String("[ffmpeg]:"))) {
        const int ms = TestSupport::progressMs(msg);
        if (ms > g_progressMs)
            g_progressMs = ms;
    }
    g_previousHandler(type, context, msg);
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void audioInputsOnTheServer();
    void record_data();
    void record();

private:
    QTemporaryDir m_home;
    double m_rawMicLevel = 0;      // the 440 Hz sine straight from the source, dB
    double m_rawSpeakerLevel = 0;  // the 1000 Hz tone straight from the monitor, dB
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
    qputenv("HOME", QFile::encodeName(m_home.path()));
    g_previousHandler = qInstallMessageHandler(watchProgress);

    // The two tones as the sources give them, to compare the recordings' gains against.
    m_rawMicLevel = toneLevel({"-f", "pulse", "-t", "2", "-i", "mic"}, 440);
    m_rawSpeakerLevel = toneLevel({"-f", "pulse", "-t", "2", "-i", "speakers.monitor"}, 1000);
    qInfo("sources: 440 Hz on mic %.1f dB, 1000 Hz on speakers.monitor %.1f dB", m_rawMicLevel, m_rawSpeakerLevel);
    QVERIFY(m_rawMicLevel > -40 && m_rawSpeakerLevel > -40);
}

void TestEndToEnd::audioInputsOnTheServer()
{
    // Straight from PulseAudio: the monitor that Qt Multimedia leaves out is there.
    const Platform::AudioInputs devices = Platform::audioInputs();
    QStringList names;
    for (const Platform::AudioInput &input : devices.inputs) {
        names << input.name;
        qInfo("input %s: \"%s\"%s%s%s", qPrintable(input.name), qPrintable(input.description),
              input.isDefault ? " default" : "", input.isMonitor ? " monitor" : "",
              input.monitorsDefaultSink ? " (of the default sink)" : "");
    }
    QVERIFY(names.contains("speakers.monitor"));
    QVERIFY(names.contains("mic"));
    const Platform::AudioInput monitor = devices.inputs.at(names.indexOf("speakers.monitor"));
    QCOMPARE(monitor.description, QStringLiteral("Monitor of Speakers"));
    QVERIFY(monitor.isMonitor && monitor.monitorsDefaultSink && !monitor.isDefault);
    const Platform::AudioInput mic = devices.inputs.at(names.indexOf("mic"));
    QCOMPARE(mic.description, QStringLiteral("Sine source at 440 Hz"));
    QVERIFY(mic.isDefault && !mic.isMonitor);
    QCOMPARE(devices.defaultInput, mic);

    const DeviceChoice::Choice choice = DeviceChoice::choose(devices.inputs, devices.defaultInput);
    QCOMPARE(choice.mic.name, QStringLiteral("mic"));
    QCOMPARE(choice.speaker.name, QStringLiteral("speakers.monitor"));
}

void TestEndToEnd::record_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QRect>("area");
    QTest::addColumn<double>("speakerGain");
    QTest::addColumn<double>("micGain");
    QTest::addColumn<bool>("pauseAndResume");
    QTest::addColumn<bool>("stopWhilePaused");
    QTest::addColumn<QStringList>("codecs");
    QTest::addColumn<QSize>("size");

    QTest::newRow("Full, paused and resumed")
            << "Full" << QRect() << 1.0 << 1.0 << true << false << QStringList{"h264", "aac"} << QSize(1280, 720);
    QTest::newRow("Custom Area, stopped while paused")
            << "Custom Area" << QRect(100, 60, 640, 360) << 1.0 << 0.5 << false << true
            << QStringList{"h264", "aac"} << QSize(640, 360);
    QTest::newRow("Custom Area past the edge is cut")
            << "Custom Area" << QRect(1000, 600, 640, 360) << 2.0 << 1.0 << false << false
            << QStringList{"h264", "aac"} << QSize(280, 120);
    QTest::newRow("MP3 only") << "MP3 only" << QRect() << 0.5 << 2.0 << true << false << QStringList{"mp3"}
                              << QSize();
}

void TestEndToEnd::record()
{
    QFETCH(QString, mode);
    QFETCH(QRect, area);
    QFETCH(double, speakerGain);
    QFETCH(double, micGain);
    QFETCH(bool, pauseAndResume);
    QFETCH(bool, stopWhilePaused);
    QFETCH(QStringList, codecs);
    QFETCH(QSize, size);

    g_progressMs = 0;
    ScreenRecorder recorder;
    recorder.setSpeakerVolume(speakerGain);
    recorder.setMicVolume(micGain);
    QSignalSpy orders(&recorder, &ScreenRecorder::startWorkerRecording);
    QSignalSpy files(&recorder, &ScreenRecorder::fileListChanged);
    // The log names the inputs by their descriptions; FFmpeg gets the source names.
    QTest::ignoreMessage(QtDebugMsg, "Dynamic Mic Found: \"Sine source at 440 Hz\"");
    QTest::ignoreMessage(QtDebugMsg, "Dynamic Speaker Found: \"Monitor of Speakers\"");
    if (area.isValid())
        recorder.startRecording(mode, area.x(), area.y(), area.width(), area.height());
    else
        recorder.startRecording(mode);
    QCOMPARE(orders.count(), 1);
    const QString file = orders.first().at(0).toString();
    QCOMPARE(orders.first().at(1).toString(), QStringLiteral("mic"));
    QCOMPARE(orders.first().at(2).toString(), QStringLiteral("speakers.monitor"));
    QTRY_VERIFY(recorder.isRecording());

    // FFmpeg probes its inputs for a second or two before it records anything;
    // a stop before that leaves a file without frames.
    QTRY_VERIFY_WITH_TIMEOUT(g_progressMs >= 2000, 20000);
    if (pauseAndResume || stopWhilePaused) {
        recorder.pauseRecording();
        QTest::qWait(1000);
    }
    if (pauseAndResume) {
        recorder.resumeRecording();
        QTest::qWait(1500);
    }
    // Also after FFmpeg's PulseAudio input has reported errors, STOP stops it.
    QVERIFY(recorder.isRecording());
    recorder.stopRecording();
    QTRY_VERIFY_WITH_TIMEOUT(!recorder.isRecording(), 10000);
    QCOMPARE(files.count(), 1);  // rescanned after a clean end, never after a failure

    const TestSupport::Probe p = TestSupport::probe(file);
    QCOMPARE(p.codecs, codecs);
    if (size.isValid()) {
        QCOMPARE(p.width, size.width());
        QCOMPARE(p.height, size.height());
    }
    QVERIFY2(p.duration > 1.5, qPrintable(QString::number(p.duration)));

    const double mic = toneLevel({"-i", file}, 440);
    const double speakers = toneLevel({"-i", file}, 1000);
    // The mix scales both inputs alike, so the gap between the tones moves by the gains' ratio.
    const double expectedGap = (m_rawSpeakerLevel - m_rawMicLevel) + 20 * std::log10(speakerGain / micGain);
    qInfo("%s: %s %dx%d, %.2f s; gains speaker %.1f mic %.1f; 440 Hz (mic) %.1f dB, "
          "1000 Hz (system sound) %.1f dB, gap %.1f dB (expected %.1f)",
          qPrintable(QFileInfo(file).fileName()), qPrintable(p.codecs.join('+')), p.width, p.height,
          p.duration, speakerGain, micGain, mic, speakers, speakers - mic, expectedGap);
    QVERIFY2(mic > -40, "the microphone's tone is missing");
    QVERIFY2(speakers > -40, "the system sound's tone is missing");
    QVERIFY2(qAbs((speakers - mic) - expectedGap) < 2.0, "the gains were not applied");

    // The new file is listed first.
    QCOMPARE(recorder.fileList().first().toMap().value("name").toString(), QFileInfo(file).fileName());
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
