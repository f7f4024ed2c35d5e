// The controller: its state machine and signal order, the gain setters, and the
// round trip through the worker thread to a fake ffmpeg and back.
#include "recorder/screenrecorder.h"
#include "testsupport.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace TestSupport;

namespace {

enum class State { Idle, Recording, Paused };
enum class Event { Stop, Pause, Resume, WorkerStarted, WorkerFinished, WorkerError };

// Records the controller's signals by name, in emission order.
class SignalLog : public QObject
{
public:
    explicit SignalLog(ScreenRecorder *r)
    {
        const auto log = [this](const char *name) { return [this, name] { names << QString::fromLatin1(name); }; };
        connect(r, &ScreenRecorder::fileListChanged, this, log("fileListChanged"));
        connect(r, &ScreenRecorder::isRecordingChanged, this, log("isRecordingChanged"));
        connect(r, &ScreenRecorder::isPausedChanged, this, log("isPausedChanged"));
        connect(r, &ScreenRecorder::micVolumeChanged, this, log("micVolumeChanged"));
        connect(r, &ScreenRecorder::speakerVolumeChanged, this, log("speakerVolumeChanged"));
        connect(r, &ScreenRecorder::stopWorkerRecording, this, log("stopWorkerRecording"));
        connect(r, &ScreenRecorder::pauseWorkerRecording, this, log("pauseWorkerRecording"));
        connect(r, &ScreenRecorder::resumeWorkerRecording, this, log("resumeWorkerRecording"));
        connect(r, &ScreenRecorder::startWorkerRecording, this, log("startWorkerRecording"));
    }
    QStringList names;
};

State stateOf(const ScreenRecorder &r)
{
    if (!r.isRecording()) {
        return State::Idle;
    }
    return r.isPaused() ? State::Paused : State::Recording;
}

} // namespace

Q_DECLARE_METATYPE(State)
Q_DECLARE_METATYPE(Event)

class TestScreenRecorder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void freshController();
    void volumeSetters_data();
    void volumeSetters();
    void transitions_data();
    void transitions();
    void doublePauseSendsOnce();
    void roundTripThroughWorkerThread();
    void failureReturnsToIdle();
    void destroyWhileRecording_data();
    void destroyWhileRecording();

private:
    QString recordingsDir() const { return m_home->filePath("Desktop/ScreenRecordings"); }
    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<QTemporaryDir> m_work;
};

void TestScreenRecorder::initTestCase()
{
    qputenv("DISPLAY", ":42");
    qunsetenv("XDG_CONFIG_HOME");
}

void TestScreenRecorder::init()
{
    // A home whose path has blanks and non-ASCII letters, like many real ones.
    m_home = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/caprello home é-XXXXXX"));
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid() && m_work->isValid());
    qputenv("HOME", QFile::encodeName(m_home->path()));
    useFakeFfmpeg();
    configureFake("quit-on-q");
    qputenv("FAKE_FFMPEG_PID", QFile::encodeName(m_work->filePath("pid")));
    qputenv("FAKE_FFMPEG_ARGS", QFile::encodeName(m_work->filePath("args")));
    qputenv("FAKE_FFMPEG_OUTPUT", QFile::encodeName(m_work->filePath("out.mp4")));
}

void TestScreenRecorder::freshController()
{
    QVERIFY(QDir().mkpath(recordingsDir()));
    QFile existing(recordingsDir() + QStringLiteral("/rec_2024-01-31_14-05-09.mp4"));
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write(QByteArray(1536, 'x'));
    existing.close();

    ScreenRecorder r;
    QCOMPARE(r.isRecording(), false);
    QCOMPARE(r.isPaused(), false);
    QCOMPARE(r.micVolume(), 1.0);
    QCOMPARE(r.speakerVolume(), 1.0);
    // Filled during construction, before anyone could ask for it.
    QCOMPARE(r.fileList().size(), 1);
    const QVariantMap entry = r.fileList().first().toMap();
    QCOMPARE(entry.value("name").toString(), QStringLiteral("rec_2024-01-31_14-05-09.mp4"));
    QCOMPARE(entry.value("size").toString(), QStringLiteral("1.5 KB"));
}

void TestScreenRecorder::volumeSetters_data()
{
    QTest::addColumn<double>("initial");
    QTest::addColumn<double>("written");
    QTest::addColumn<bool>("signalled");
    QTest::addColumn<double>("stored");

    QTest::newRow("same value") << 1.0 << 1.0 << false << 1.0;
    QTest::newRow("within fuzz is not stored") << 1.0 << 1.0 + 1e-13 << false << 1.0;
    QTest::newRow("half") << 1.0 << 0.5 << true << 0.5;
    QTest::newRow("zero to zero") << 0.0 << 0.0 << false << 0.0;
    QTest::newRow("zero to tiny") << 0.0 << 1e-9 << true << 1e-9;
    QTest::newRow("not clamped above") << 1.0 << 7.5 << true << 7.5;
    QTest::newRow("not clamped below") << 1.0 << -1.0 << true << -1.0;
}

void TestScreenRecorder::volumeSetters()
{
    QFETCH(double, initial);
    QFETCH(double, written);
    QFETCH(bool, signalled);
    QFETCH(double, stored);

    ScreenRecorder r;
    r.setMicVolume(initial);
    r.setSpeakerVolume(initial);
    QSignalSpy mic(&r, &ScreenRecorder::micVolumeChanged);
    QSignalSpy speaker(&r, &ScreenRecorder::speakerVolumeChanged);

    // Through the property system, as QML writes them.
    QVERIFY(r.setProperty("micVolume", written));
    r.setSpeakerVolume(written);
    QCOMPARE(mic.count(), signalled ? 1 : 0);
    QCOMPARE(speaker.count(), signalled ? 1 : 0);
    QCOMPARE(r.micVolume(), stored);
    QCOMPARE(r.property("speakerVolume").toDouble(), stored);
    QCOMPARE(speaker.count(), signalled ? 1 : 0);
}

void TestScreenRecorder::transitions_data()
{
    QTest::addColumn<State>("from");
    QTest::addColumn<Event>("event");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<State>("to");

    const QStringList none;
    QTest::newRow("idle: stop ignored") << State::Idle << Event::Stop << none << State::Idle;
    QTest::newRow("idle: pause ignored") << State::Idle << Event::Pause << none << State::Idle;
    QTest::newRow("idle: resume ignored") << State::Idle << Event::Resume << none << State::Idle;
    QTest::newRow("idle: worker started")
            << State::Idle << Event::WorkerStarted << QStringList{"isRecordingChanged"} << State::Recording;
    QTest::newRow("idle: worker finished still rescans")
            << State::Idle << Event::WorkerFinished << QStringList{"fileListChanged"} << State::Idle;
    QTest::newRow("idle: error only logs") << State::Idle << Event::WorkerError << none << State::Idle;

    QTest::newRow("recording: pause")
            << State::Recording << Event::Pause << QStringList{"isPausedChanged", "pauseWorkerRecording"}
            << State::Paused;
    QTest::newRow("recording: resume ignored") << State::Recording << Event::Resume << none << State::Recording;
    QTest::newRow("recording: stop waits for the worker")
            << State::Recording << Event::Stop << QStringList{"stopWorkerRecording"} << State::Recording;
    QTest::newRow("recording: worker started again") << State::Recording << Event::WorkerStarted << none
                                                     << State::Recording;
    QTest::newRow("recording: finished")
            << State::Recording << Event::WorkerFinished << QStringList{"isRecordingChanged", "fileListChanged"}
            << State::Idle;
    QTest::newRow("recording: error")
            << State::Recording << Event::WorkerError << QStringList{"isRecordingChanged"} << State::Idle;

    QTest::newRow("paused: pause ignored") << State::Paused << Event::Pause << none << State::Paused;
    QTest::newRow("paused: resume")
            << State::Paused << Event::Resume << QStringList{"isPausedChanged", "resumeWorkerRecording"}
            << State::Recording;
    QTest::newRow("paused: stop sent without resuming")
            << State::Paused << Event::Stop << QStringList{"stopWorkerRecording"} << State::Paused;
    QTest::newRow("paused: worker started clears pause")
            << State::Paused << Event::WorkerStarted << QStringList{"isPausedChanged"} << State::Recording;
    QTest::newRow("paused: finished, recording flag first")
            << State::Paused << Event::WorkerFinished
            << QStringList{"isRecordingChanged", "isPausedChanged", "fileListChanged"} << State::Idle;
    QTest::newRow("paused: error, recording flag first")
            << State::Paused << Event::WorkerError << QStringList{"isRecordingChanged", "isPausedChanged"}
            << State::Idle;
}

void TestScreenRecorder::transitions()
{
    QFETCH(State, from);
    QFETCH(Event, event);
    QFETCH(QStringList, expected);
    QFETCH(State, to);

    ScreenRecorder r;
    if (from != State::Idle)
        r.onRecordingStarted();
    if (from == State::Paused)
        r.pauseRecording();
    QCOMPARE(stateOf(r), from);

    SignalLog log(&r);
    const QVariantList filesBefore = r.fileList();
    switch (event) {
    case Event::Stop: r.stopRecording(); break;
    case Event::Pause: r.pauseRecording(); break;
    case Event::Resume: r.resumeRecording(); break;
    case Event::WorkerStarted: r.onRecordingStarted(); break;
    case Event::WorkerFinished: r.onRecordingFinished(); break;
    case Event::WorkerError:
        QTest::ignoreMessage(QtWarningMsg, "WORKER ERROR: \"device \\\"x\\\" failed\"");
        r.onError(QStringLiteral("device \"x\" failed"));
        QCOMPARE(r.fileList(), filesBefore);
        break;
    }
    QCOMPARE(log.names, expected);
    QCOMPARE(stateOf(r), to);
}

void TestScreenRecorder::doublePauseSendsOnce()
{
    ScreenRecorder r;
    r.onRecordingStarted();
    SignalLog log(&r);
    r.pauseRecording();
    r.pauseRecording();
    QCOMPARE(log.names, (QStringList{"isPausedChanged", "pauseWorkerRecording"}));
}

void TestScreenRecorder::roundTripThroughWorkerThread()
{
    ScreenRecorder r;
    QSignalSpy recording(&r, &ScreenRecorder::isRecordingChanged);
    QSignalSpy files(&r, &ScreenRecorder::fileListChanged);

    const QString out = recordingsDir() + QStringLiteral("/rec_test.mp4");
    qputenv("FAKE_FFMPEG_OUTPUT", QFile::encodeName(out));
    emit r.startWorkerRecording(out, "mic", "speakers.monitor", 0.5, 1.5, "Full", 0, 0, 0, 0);
    QTRY_VERIFY(r.isRecording());
    const qint64 pid = waitForPid(m_work->filePath("pid"));
    QVERIFY(pid > 0);
    QCOMPARE(readLines(m_work->filePath("args")).last(), out);

    r.pauseRecording();
    QTRY_COMPARE(processState(pid), 'T');
    r.resumeRecording();
    QTRY_COMPARE(processState(pid), 'S');
    r.pauseRecording();
    QTRY_COMPARE(processState(pid), 'T');

    // Stopped while paused: the worker lets FFmpeg run, it finishes the file and exits 0.
    r.stopRecording();
    QTRY_VERIFY(!r.isRecording());
    QVERIFY(!r.isPaused());
    QCOMPARE(recording.count(), 2);
    QCOMPARE(files.count(), 1);
    QCOMPARE(r.fileList().size(), 1);
    QCOMPARE(r.fileList().first().toMap().value("name").toString(), QStringLiteral("rec_test.mp4"));
}

void TestScreenRecorder::failureReturnsToIdle()
{
    ScreenRecorder r;
    QSignalSpy files(&r, &ScreenRecorder::fileListChanged);

    setPath(QString());
    QTest::ignoreMessage(QtWarningMsg, "WORKER ERROR: \"ffmpeg.exe process failed to start.\"");
    emit r.startWorkerRecording(m_work->filePath("a.mp4"), "", "", 1.0, 1.0, "Full", 0, 0, 0, 0);
    QTest::qWait(300);
    QVERIFY(!r.isRecording());

    useFakeFfmpeg();
    configureFake("exit", {}, "1");
    QTest::ignoreMessage(QtWarningMsg, "WORKER ERROR: \"FFMPEG crashed or exited with code 1\"");
    QSignalSpy recording(&r, &ScreenRecorder::isRecordingChanged);
    emit r.startWorkerRecording(m_work->filePath("a.mp4"), "", "", 1.0, 1.0, "Full", 0, 0, 0, 0);
    QTRY_COMPARE(recording.count(), 2); // on at the start, off at the failure
    QVERIFY(!r.isRecording());
    QCOMPARE(files.count(), 0); // no rescan after a failure
}

void TestScreenRecorder::destroyWhileRecording_data()
{
    QTest::addColumn<bool>("paused");
    QTest::newRow("recording") << false;
    QTest::newRow("paused") << true;
}

void TestScreenRecorder::destroyWhileRecording()
{
    QFETCH(bool, paused);
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));

    auto r = std::make_unique<ScreenRecorder>();
    emit r->startWorkerRecording(m_work->filePath("out.mp4"), "", "", 1.0, 1.0, "Full", 0, 0, 0, 0);
    QTRY_VERIFY(r->isRecording());
    const qint64 pid = waitForPid(m_work->filePath("pid"));
    if (paused) {
        r->pauseRecording();
        QTRY_COMPARE(processState(pid), 'T');
    }
    r.reset();
    // Closing the program finished the file instead of killing FFmpeg.
    QVERIFY(QFile::exists(m_work->filePath("out.mp4")));
    QTRY_VERIFY(!processExists(pid));
}

QTEST_GUILESS_MAIN(TestScreenRecorder)
#include "tst_screenrecorder.moc"
