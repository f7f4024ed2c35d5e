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
enum class Event { Start, Stop, Pause, Resume, WorkerStarted, WorkerFinished, WorkerError, WorkerErrorOutput };

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
    void errorReports_data();
    void errorReports();
    void doublePauseSendsOnce();
    void startOrder_data();
    void startOrder();
    void doubleStartSendsOneOrder();
    void errorOutputWhileRecordingKeepsStop();
    void refusalDoesNotEndTheRunningRecording();
    void startNeverOverwrites();
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
    QTest::newRow("recording: start ignored") << State::Recording << Event::Start << none << State::Recording;
    QTest::newRow("paused: start ignored") << State::Paused << Event::Start << none << State::Paused;
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
    // FFmpeg's error output while it records on: the recording is still there to stop.
    QTest::newRow("recording: error output") << State::Recording << Event::WorkerErrorOutput << none
                                             << State::Recording;
    QTest::newRow("paused: error output") << State::Paused << Event::WorkerErrorOutput << none << State::Paused;
    QTest::newRow("idle: error output") << State::Idle << Event::WorkerErrorOutput << none << State::Idle;
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
    case Event::Start:
        // Nothing at all: no log line either.
    {
        const QtMessageHandler previous = qInstallMessageHandler(
                [](QtMsgType, const QMessageLogContext &, const QString &msg) {
                    QFAIL(qPrintable(QStringLiteral("unexpected log line: ") + msg));
                });
        r.startRecording(QStringLiteral("Full"));
        qInstallMessageHandler(previous);
        break;
    }
    case Event::Stop: r.stopRecording(); break;
    case Event::Pause: r.pauseRecording(); break;
    case Event::Resume: r.resumeRecording(); break;
    case Event::WorkerStarted: r.onRecordingStarted(); break;
    case Event::WorkerFinished: r.onRecordingFinished(); break;
    case Event::WorkerError:
        QTest::ignoreMessage(QtWarningMsg, "WORKER ERROR: \"FFMPEG crashed or exited with code 1\"");
        r.onError(QStringLiteral("FFMPEG crashed or exited with code 1"));
        QCOMPARE(r.fileList(), filesBefore);
        break;
    case Event::WorkerErrorOutput:
        QTest::ignoreMessage(QtWarningMsg, "WORKER ERROR: \"device \\\"x\\\" failed\"");
        r.onError(QStringLiteral("device \"x\" failed"));
        QCOMPARE(r.fileList(), filesBefore);
        break;
    }
    QCOMPARE(log.names, expected);
    QCOMPARE(stateOf(r), to);
}

void TestScreenRecorder::errorReports_data()
{
    QTest::addColumn<QString>("error");
    QTest::addColumn<bool>("endsRecording");

    QTest::newRow("start failure") << "ffmpeg.exe process failed to start." << true;
    QTest::newRow("exit code") << "FFMPEG crashed or exited with code 1" << true;
    QTest::newRow("killed") << "FFMPEG crashed or exited with code 9" << true;
    QTest::newRow("negative code") << "FFMPEG crashed or exited with code -1073741819" << true;
    QTest::newRow("unsupported platform")
            << "Recording is not supported on this platform: it needs Windows (gdigrab, DirectShow) "
               "or Linux (X11, PulseAudio)." << true;
    QTest::newRow("refused second start") << "A recording process is already running." << false;
    QTest::newRow("stderr piece") << "[dshow @ 0x1] Unknown error\n" << false;
    QTest::newRow("stderr piece that quotes the exit text")
            << "FFMPEG crashed or exited with code 1 [x264 @ 0x1] failed\n" << false;
}

void TestScreenRecorder::errorReports()
{
    QFETCH(QString, error);
    QFETCH(bool, endsRecording);

    ScreenRecorder r;
    r.onRecordingStarted();
    r.pauseRecording();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^WORKER ERROR: "));
    r.onError(error);
    QCOMPARE(stateOf(r), endsRecording ? State::Idle : State::Paused);
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

void TestScreenRecorder::startOrder_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QList<int>>("area");  // the arguments given after the mode
    QTest::addColumn<QString>("extension");

    QTest::newRow("Full, mode alone") << "Full" << QList<int>{} << ".mp4";
    QTest::newRow("Custom Area") << "Custom Area" << QList<int>{100, 50, 800, 600} << ".mp4";
    QTest::newRow("two of four given") << "Custom Area" << QList<int>{-20, 10} << ".mp4";
    QTest::newRow("MP3 only") << "MP3 only" << QList<int>{} << ".mp3";
    QTest::newRow("mp3 only with blanks and other case") << " mp3 ONLY " << QList<int>{} << ".mp3";
    QTest::newRow("Audio Only is a video file name") << "Audio Only" << QList<int>{} << ".mp4";
    QTest::newRow("empty mode") << "" << QList<int>{} << ".mp4";
}

void TestScreenRecorder::startOrder()
{
    QFETCH(QString, mode);
    QFETCH(QList<int>, area);
    QFETCH(QString, extension);

    ScreenRecorder r;
    r.setMicVolume(0.3);
    r.setSpeakerVolume(1.7);
    QSignalSpy orders(&r, &ScreenRecorder::startWorkerRecording);
    const QList<int> full = area + QList<int>(4 - area.size(), 0);
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("Start Recording Requested. Mode: \"%1\"  Area: %2 x %3 at %4 , %5")
                                                        .arg(mode).arg(full[2]).arg(full[3]).arg(full[0]).arg(full[1])));
    // As QML calls it: with one to five arguments.
    switch (area.size()) {
    case 0: QVERIFY(QMetaObject::invokeMethod(&r, "startRecording", Q_ARG(QString, mode))); break;
    case 2: QVERIFY(QMetaObject::invokeMethod(&r, "startRecording", Q_ARG(QString, mode), Q_ARG(int, area[0]), Q_ARG(int, area[1]))); break;
    default: QVERIFY(QMetaObject::invokeMethod(&r, "startRecording", Q_ARG(QString, mode), Q_ARG(int, area[0]),
                                               Q_ARG(int, area[1]), Q_ARG(int, area[2]), Q_ARG(int, area[3])));
    }
    QCOMPARE(orders.count(), 1);
    const QList<QVariant> order = orders.first();
    const QString fileName = order.at(0).toString();
    QVERIFY2(QRegularExpression("^" + QRegularExpression::escape(ScreenRecorder::saveDirectoryPath())
                                + "/rec_\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d" + QRegularExpression::escape(extension) + "$")
                     .match(fileName).hasMatch(), qPrintable(fileName));
    QCOMPARE(order.at(3).toDouble(), 0.3);
    QCOMPARE(order.at(4).toDouble(), 1.7);
    QCOMPARE(order.at(5).toString(), mode);  // unchanged, blanks and case included
    QCOMPARE((QList<int>{order.at(6).toInt(), order.at(7).toInt(), order.at(8).toInt(), order.at(9).toInt()}), full);
    QTRY_VERIFY(r.isRecording());
}

void TestScreenRecorder::doubleStartSendsOneOrder()
{
    QTest::failOnWarning(QRegularExpression("WORKER ERROR"));
    ScreenRecorder r;
    QSignalSpy orders(&r, &ScreenRecorder::startWorkerRecording);
    QSignalSpy recording(&r, &ScreenRecorder::isRecordingChanged);
    r.startRecording("Full");
    r.startRecording("Full");  // the second click of a double click
    QTRY_VERIFY(r.isRecording());
    r.startRecording("MP3 only");
    QCOMPARE(orders.count(), 1);
    QTest::qWait(100);
    QVERIFY(r.isRecording());
    QCOMPARE(recording.count(), 1);

    // After a failed start the next request goes through again.
    r.stopRecording();
    QTRY_VERIFY(!r.isRecording());
    setPath(QString());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("WORKER ERROR: \"ffmpeg.exe process failed to start.\""));
    r.startRecording("Full");
    QCOMPARE(orders.count(), 2);
    QTest::qWait(300);
    useFakeFfmpeg();
    r.startRecording("Full");
    QCOMPARE(orders.count(), 3);
    QTRY_VERIFY(r.isRecording());
}

void TestScreenRecorder::errorOutputWhileRecordingKeepsStop()
{
    // What FFmpeg's PulseAudio input prints right after a resume, and records on.
    configureFake("quit-on-q", "[pulse @ 0x55d0] pa_stream_get_latency() failed\n");
    ScreenRecorder r;
    QSignalSpy recording(&r, &ScreenRecorder::isRecordingChanged);
    QSignalSpy files(&r, &ScreenRecorder::fileListChanged);
    QTest::ignoreMessage(QtWarningMsg, "WORKER ERROR: \"[pulse @ 0x55d0] pa_stream_get_latency() failed\\n\"");
    r.startRecording("Full");
    QTRY_VERIFY(r.isRecording());
    const qint64 pid = waitForPid(m_work->filePath("pid"));
    QTest::qWait(300);  // the report arrives and is logged
    QVERIFY(r.isRecording());
    QCOMPARE(recording.count(), 1);

    // The window still offers PAUSE and STOP, and they still work.
    r.pauseRecording();
    QTRY_COMPARE(processState(pid), 'T');
    r.resumeRecording();
    QTRY_COMPARE(processState(pid), 'S');
    r.stopRecording();
    QTRY_VERIFY(!r.isRecording());
    QCOMPARE(files.count(), 1);
    QVERIFY(!processExists(pid));
}

void TestScreenRecorder::refusalDoesNotEndTheRunningRecording()
{
    ScreenRecorder r;
    r.startRecording("Full");
    QTRY_VERIFY(r.isRecording());
    // An order that bypasses the controller's guard is refused by the worker;
    // the recording it refused goes on, and so does the window's state.
    QTest::ignoreMessage(QtWarningMsg, "WORKER ERROR: \"A recording process is already running.\"");
    emit r.startWorkerRecording(m_work->filePath("b.mp4"), "", "", 1.0, 1.0, "Full", 0, 0, 0, 0);
    QTest::qWait(200);
    QVERIFY(r.isRecording());
    r.stopRecording();
    QTRY_VERIFY(!r.isRecording());
}

void TestScreenRecorder::startNeverOverwrites()
{
    QVERIFY(QDir().mkpath(recordingsDir()));
    // Earlier recordings for this second and the next two, so the clock may tick meanwhile.
    const QDateTime now = QDateTime::currentDateTime();
    QStringList earlier;
    for (int s = 0; s < 3; ++s) {
        const QString path = recordingsDir() + "/rec_" + now.addSecs(s).toString("yyyy-MM-dd_HH-mm-ss") + ".mp4";
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("earlier recording");
        earlier << path;
    }

    ScreenRecorder r;
    QSignalSpy orders(&r, &ScreenRecorder::startWorkerRecording);
    r.startRecording("Full");
    QCOMPARE(orders.count(), 1);
    const QString fileName = orders.first().first().toString();
    QVERIFY2(fileName.endsWith("_2.mp4"), qPrintable(fileName));
    QVERIFY(earlier.contains(fileName.left(fileName.size() - 6) + ".mp4"));

    QTRY_VERIFY(r.isRecording());
    r.stopRecording();
    QTRY_VERIFY(!r.isRecording());
    for (const QString &path : earlier) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("earlier recording"));
    }
    QFile made(fileName);
    QVERIFY(made.open(QIODevice::ReadOnly));
    QCOMPARE(made.readAll(), QByteArray("fake recording"));
    QCOMPARE(r.fileList().size(), 4);
}

void TestScreenRecorder::roundTripThroughWorkerThread()
{
    ScreenRecorder r;
    QSignalSpy recording(&r, &ScreenRecorder::isRecordingChanged);
    QSignalSpy files(&r, &ScreenRecorder::fileListChanged);

    const QString out = recordingsDir() + QStringLiteral("/rec_test.mp4");
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
