// Real recordings: the Debian ffmpeg on the test desktop of scripts/test.sh, whose
// "speakers" sink plays 1000 Hz (the system sound, from its monitor) and whose
// "mic" source is a 440 Hz sine (the microphone). Run again on the Wayland desktop
// of scripts/wayland-desktop.sh, where the screen comes through the ScreenCast
// portal and a clock ticks in the middle of the screen.
#include "recorder/screenrecorder.h"
#include "support.h"

#include <QSignalSpy>

#include <cmath>
#include <numeric>

using namespace Support;

class TestEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void record_data();
    void record();

private:
    QTemporaryDir m_home;
    double m_rawGap = 0;  // 1000 Hz minus 440 Hz as the sources give them, dB
};

void TestEndToEnd::initTestCase()
{
    QVERIFY2(testDesktop(), "needs the test desktop that scripts/test.sh starts");
    qputenv("HOME", QFile::encodeName(m_home.path()));
    const double mic = toneLevel({"-f", "pulse", "-t", "2", "-i", "mic"}, 440);
    const double speakers = toneLevel({"-f", "pulse", "-t", "2", "-i", "speakers.monitor"}, 1000);
    QVERIFY2(mic > -40 && speakers > -40, qPrintable(QStringLiteral("sources: %1 dB, %2 dB").arg(mic).arg(speakers)));
    m_rawGap = speakers - mic;
}

void TestEndToEnd::record_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QRect>("area");
    QTest::addColumn<double>("speakerGain");
    QTest::addColumn<double>("micGain");
    QTest::addColumn<int>("pauseSeconds");  // 0: stopped while paused
    QTest::addColumn<QString>("streams");   // codecs and picture size
    QTest::newRow("Full, paused 4 s while something else plays")
            << "Full" << QRect() << 1.0 << 1.0 << 4 << "h264+aac 1280x720";
    QTest::newRow("Custom Area past the edge, stopped while paused")
            << "Custom Area" << QRect(400, 200, 1000, 600) << 2.0 << 1.0 << 0 << "h264+aac 880x520";
    QTest::newRow("MP3 only, paused 1 s") << "MP3 only" << QRect() << 0.5 << 2.0 << 1 << "mp3 0x0";
}

void TestEndToEnd::record()
{
    QFETCH(QString, mode);
    QFETCH(QRect, area);
    QFETCH(double, speakerGain);
    QFETCH(double, micGain);
    QFETCH(int, pauseSeconds);
    QFETCH(QString, streams);

    ScreenRecorder r;
    r.setSpeakerVolume(speakerGain);
    r.setMicVolume(micGain);
    QSignalSpy orders(&r, &ScreenRecorder::startWorkerRecording);
    QElapsedTimer wall;
    wall.start();
    r.startRecording(mode, area.x(), area.y(), area.width(), area.height());
    QTRY_VERIFY(r.isRecording());
    QTRY_VERIFY_WITH_TIMEOUT(r.clockText() != "Starting...", 20000);
    qInfo("first frame %lld ms after START", wall.elapsed());
    // The inputs chosen on this server, by their PulseAudio names.
    QCOMPARE(orders.first().mid(1, 2), (QVariantList{"mic", "speakers.monitor"}));
    // FFmpeg probes its inputs first; a stop before its first frames leaves an empty file.
    QTRY_VERIFY_WITH_TIMEOUT(QTime::fromString(r.clockText(), "m:ss") >= QTime(0, 0, 2), 20000);
    const qint64 untilPause = wall.elapsed();
    r.pauseRecording();
    if (pauseSeconds > 1)  // a 1500 Hz tone on the speakers, only while paused
        QProcess::startDetached("sox", {"-q", "-n", "-t", "pulseaudio", "speakers", "synth",
                                        QString::number(pauseSeconds - 1), "sine", "1500"});
    QTest::qWait(qMax(pauseSeconds, 1) * 1000);
    if (pauseSeconds > 0) {
        r.resumeRecording();
        // Each input hands over what its stream held from the pause first: give
        // the microphone's stream time to be back.
        QTest::qWait(2000 + (pauseSeconds > 1 ? pauseSeconds * 1000 : 0));
    }
    // Stopped while paused, the file ends where the pause began.
    const qint64 recorded = pauseSeconds > 0 ? wall.elapsed() : untilPause;
    r.stopRecording();
    QTRY_VERIFY_WITH_TIMEOUT(!r.isRecording(), 10000);

    const QString file = orders.first().first().toString();
    const QString probed = probe(file);
    const double duration = probed.section(' ', 2).toDouble();
    QVERIFY2(probed.section(' ', 0, 1) == streams && duration > 1.8, qPrintable(probed));
    QCOMPARE(r.fileList().first().toMap().value("name").toString(), QFileInfo(file).fileName());
    qInfo("%.2f s recorded in %.2f s from START", duration, recorded / 1000.0);
    // The pause is in the file, and a stop while paused ends it where the pause began.
    if (!mode.startsWith("MP3"))
        QVERIFY2(qAbs(duration - recorded / 1000.0) < 0.5, "the video is not as long as the recording took");
    if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY") && !mode.startsWith("MP3")) {
        // A clock ticks on the screen: the picture moves, except while paused. (The
        // compositor of a busy 2-core test machine sends no new frame now and then.)
        const QList<double> still = stillSpans(file);
        const double paused = pauseSeconds > 1 ? pauseSeconds : 0;
        const double stillTotal = std::accumulate(still.begin(), still.end(), 0.0);
        qInfo("still spans: %s", qPrintable(QDebug::toString(still)));
        QVERIFY2(stillTotal - paused < (duration - paused) / 2, "the picture did not move");
        if (paused > 0)
            QVERIFY2(!still.isEmpty() && *std::max_element(still.begin(), still.end()) > paused - 1.0, "the pause is not a still picture");
    }

    // Both sounds are there, and the gap between them moved by the gains' ratio.
    const double mic = toneLevel({"-i", file}, 440);
    const double speakers = toneLevel({"-i", file}, 1000);
    const double expectedGap = m_rawGap + 20 * std::log10(speakerGain / micGain);
    qInfo("%s: %.2f s, 440 Hz %.1f dB, 1000 Hz %.1f dB, gap %.1f dB (expected %.1f)", qPrintable(streams),
          duration, mic, speakers, speakers - mic, expectedGap);
    QVERIFY2(mic > -40 && speakers > -40, "a sound source is missing");
    QVERIFY2(qAbs(speakers - mic - expectedGap) < 2.0, "the gains were not applied");
    if (pauseSeconds < 4)
        return;

    // The pause is in the file as silence: the microphone before, nothing, the microphone after.
    QString levels;  // per second, 440 Hz: '+' present, '.' silent, '~' partly
    for (int second = 0; second + 1 <= duration; ++second) {
        const QStringList span = {"-ss", QString::number(second), "-t", "1", "-i", file};
        const double level = toneLevel(span, 440), paused = toneLevel(span, 1500);
        levels += level > -30 ? '+' : level < -50 ? '.' : '~';
        qInfo("second %d: 440 Hz (microphone) %.1f dB, 1500 Hz (played while paused) %.1f dB", second, level, paused);
    }
    // 1500 Hz at full level is -10 dB; what the other tones leak into its band is near -42 dB.
    QVERIFY2(toneLevel({"-i", file}, 1500) < -35, "what played during the pause was recorded");
    QVERIFY2(QRegularExpression(QStringLiteral("^\\+{2,}[~.]*\\.[~.]*\\+")).match(levels).hasMatch(), qPrintable(levels));
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
