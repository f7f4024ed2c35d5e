// The worker against a fake ffmpeg on PATH: launch, stop, kill, pause counting,
// the stderr scan and the end reports.
#include "testsupport.h"
#include "worker/ffmpegcommand.h"
#include "worker/recorderworker.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

#include <signal.h>

using namespace TestSupport;

class TestRecorderWorker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void passesTheCommandToFfmpeg_data();
    void passesTheCommandToFfmpeg();
    void stopEndsWithFinished();
    void stopIgnoredIsKilledAfterTimeout();
    void exitCodeIsReported_data();
    void exitCodeIsReported();
    void stderrPhrases_data();
    void stderrPhrases();
    void secondStartWhileBusyIsRefused();
    void startFailureLeavesWorkerFree();
    void requestsWithoutProcessDoNothing();
    void pausesCount();
    void stopWhilePausedFinishesTheFile();
    void destroyWithoutProcessIsSilent();
    void destroyStopsRunningProcess_data();
    void destroyStopsRunningProcess();

private:
    void start(RecorderWorker &worker, const QString &mode = QStringLiteral("Full"));
    QString path(const QString &name) const { return m_dir->filePath(name); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestRecorderWorker::initTestCase()
{
    qputenv("DISPLAY", ":42");
}

void TestRecorderWorker::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    useFakeFfmpeg();
    configureFake("quit-on-q");
    qputenv("FAKE_FFMPEG_ARGS", QFile::encodeName(path("args")));
    qputenv("FAKE_FFMPEG_PID", QFile::encodeName(path("pid")));
}

void TestRecorderWorker::cleanup()
{
    // A failed test must not leave a stopped fake behind.
    const qint64 pid = readLines(path("pid")).value(0).toLongLong();
    if (pid > 0 && processExists(pid)) {
        ::kill(pid_t(pid), SIGKILL);
    }
    m_dir.reset();
}

void TestRecorderWorker::start(RecorderWorker &worker, const QString &mode)
{
    QSignalSpy started(&worker, &RecorderWorker::recordingStarted);
    worker.doRecord(path("out.mp4"), QStringLiteral("mic"), QStringLiteral("speakers.monitor"),
                    1.0, 1.0, mode, 0, 0, 0, 0);
    QCOMPARE(started.count(), 1);
    QVERIFY(waitForPid(path("pid")) > 0);
}

void TestRecorderWorker::passesTheCommandToFfmpeg_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("count");
    QTest::newRow("Full") << "Full" << 32;
    QTest::newRow("Custom Area") << "Custom Area" << 32;
    QTest::newRow("MP3 only") << "MP3 only" << 18;
}

void TestRecorderWorker::passesTheCommandToFfmpeg()
{
    QFETCH(QString, mode);
    QFETCH(int, count);

    RecorderWorker worker;
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("Starting FFMPEG ( \"%1\" ) with command:").arg(mode)));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^\"/.*/ffmpeg\" \"-f .* -y .*quoted.* é\\.mp4\"$")));
    const QString file = path("my recording, \"quoted\" é.mp4");
    worker.doRecord(file, QStringLiteral("Mikrofon \"Ü1\" = x:\\y"), QStringLiteral("speakers.monitor"),
                    0.5, 2.0, mode, 10, 20, 640, 480);
    QVERIFY(waitForPid(path("pid")) > 0);
    QTRY_COMPARE(readLines(path("args")).size(), count);

    // Each argument arrives as one element, however many blanks, quotes and colons it holds.
    FfmpegCommand::Order order{file, QStringLiteral("Mikrofon \"Ü1\" = x:\\y"), QStringLiteral("speakers.monitor"),
                               0.5, 2.0, mode, 10, 20, 640, 480};
    QCOMPARE(readLines(path("args")), FfmpegCommand::arguments(order, Platform::CaptureBackend::X11Pulse,
                                                                QStringLiteral(":42")));
    worker.doStop();
}

void TestRecorderWorker::stopEndsWithFinished()
{
    RecorderWorker worker;
    start(worker);
    QSignalSpy finished(&worker, &RecorderWorker::recordingFinished);
    QSignalSpy errors(&worker, &RecorderWorker::errorOccurred);

    QTest::ignoreMessage(QtDebugMsg, "Sending 'q' to FFMPEG to stop gracefully...");
    QTest::ignoreMessage(QtDebugMsg, "FFMPEG process finished.");
    worker.doStop();
    // The end is handled inside the stop's wait.
    QCOMPARE(finished.count(), 1);
    QCOMPARE(errors.count(), 0);
    QVERIFY(QFile::exists(path("out.mp4")));

    // A second stop finds nothing to stop.
    worker.doStop();
    QTest::qWait(50);
    QCOMPARE(finished.count(), 1);
}

void TestRecorderWorker::stopIgnoredIsKilledAfterTimeout()
{
    configureFake("ignore-q");
    RecorderWorker worker;
    start(worker);
    const qint64 pid = readLines(path("pid")).first().toLongLong();
    QSignalSpy finished(&worker, &RecorderWorker::recordingFinished);
    QSignalSpy errors(&worker, &RecorderWorker::errorOccurred);

    QTest::ignoreMessage(QtDebugMsg, "FFMPEG did not stop, killing process.");
    QElapsedTimer timer;
    timer.start();
    worker.doStop();
    QVERIFY2(timer.elapsed() >= 4900, "the kill must come only after the 5000 ms wait");

    QVERIFY(errors.wait(5000));
    QCOMPARE(errors.count(), 1);
    QVERIFY(errors.first().first().toString().startsWith("FFMPEG crashed or exited with code "));
    QCOMPARE(finished.count(), 0);
    QTRY_VERIFY(!processExists(pid));

    // Free again for the next recording.
    configureFake("quit-on-q");
    start(worker);
    worker.doStop();
    QCOMPARE(finished.count(), 1);
}

void TestRecorderWorker::exitCodeIsReported_data()
{
    QTest::addColumn<QByteArray>("behaviour");
    QTest::addColumn<QByteArray>("exitCode");
    QTest::addColumn<QString>("expected");

    QTest::newRow("exits 1 at once") << QByteArray("exit") << QByteArray("1")
                                     << "FFMPEG crashed or exited with code 1";
    QTest::newRow("exits 255 at once") << QByteArray("exit") << QByteArray("255")
                                       << "FFMPEG crashed or exited with code 255";
    QTest::newRow("non-zero code after q") << QByteArray("quit-on-q") << QByteArray("3")
                                           << "FFMPEG crashed or exited with code 3";
    QTest::newRow("crashes") << QByteArray("crash") << QByteArray()
                             << "FFMPEG crashed or exited with code ";
}

void TestRecorderWorker::exitCodeIsReported()
{
    QFETCH(QByteArray, behaviour);
    QFETCH(QByteArray, exitCode);
    QFETCH(QString, expected);

    configureFake(behaviour, {}, exitCode);
    RecorderWorker worker;
    QSignalSpy started(&worker, &RecorderWorker::recordingStarted);
    QSignalSpy finished(&worker, &RecorderWorker::recordingFinished);
    QSignalSpy errors(&worker, &RecorderWorker::errorOccurred);
    worker.doRecord(path("out.mp4"), "m", "s", 1.0, 1.0, "Full", 0, 0, 0, 0);
    QCOMPARE(started.count(), 1);
    if (behaviour == "quit-on-q")
        worker.doStop();
    QTRY_COMPARE(errors.count(), 1);
    QVERIFY2(errors.first().first().toString().startsWith(expected), qPrintable(errors.first().first().toString()));
    QCOMPARE(finished.count(), 0);

    // The failure freed the worker.
    configureFake("quit-on-q");
    worker.doRecord(path("out.mp4"), "m", "s", 1.0, 1.0, "Full", 0, 0, 0, 0);
    QCOMPARE(started.count(), 2);
    worker.doStop();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(errors.count(), 1);
}

void TestRecorderWorker::stderrPhrases_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("reported");

    QTest::newRow("failed anywhere") << QByteArray("[dshow @ 0x1] Could not run graph: open failed\n") << true;
    QTest::newRow("Unknown error") << QByteArray("audio=Mic: Unknown error occurred\n") << true;
    QTest::newRow("path message") << QByteArray("Cannot find a part of the path 'C:\\x'\n") << true;
    QTest::newRow("two phrases, one report") << QByteArray("Unknown error; then it failed\n") << true;
    QTest::newRow("capital F only") << QByteArray("Failed to set value 'x'\n") << false;
    QTest::newRow("ordinary progress") << QByteArray("frame=  100 fps= 30 q=28.0 size=512kB\n") << false;
    QTest::newRow("lower-case unknown error") << QByteArray("unknown error\n") << false;
}

void TestRecorderWorker::stderrPhrases()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, reported);

    configureFake("quit-on-q", text);
    RecorderWorker worker;
    QSignalSpy errors(&worker, &RecorderWorker::errorOccurred);
    QSignalSpy finished(&worker, &RecorderWorker::recordingFinished);
    start(worker);
    // Let the piece arrive on its own while FFmpeg runs: the scan does not stop it.
    QTest::qWait(200);
    worker.doStop();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(errors.count(), reported ? 1 : 0);
    if (reported)
        QCOMPARE(errors.first().first().toString(), QString::fromLocal8Bit(text));
}

void TestRecorderWorker::secondStartWhileBusyIsRefused()
{
    RecorderWorker worker;
    start(worker);
    const qint64 pid = readLines(path("pid")).first().toLongLong();
    QSignalSpy started(&worker, &RecorderWorker::recordingStarted);
    QSignalSpy errors(&worker, &RecorderWorker::errorOccurred);

    worker.doRecord(path("other.mp4"), "m", "s", 1.0, 1.0, "Full", 0, 0, 0, 0);
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.first().first().toString(), QStringLiteral("A recording process is already running."));
    QCOMPARE(started.count(), 0);
    QVERIFY(processExists(pid));
    QCOMPARE(readLines(path("pid")).first().toLongLong(), pid);

    // Also while paused.
    worker.doPause();
    worker.doRecord(path("other.mp4"), "m", "s", 1.0, 1.0, "Full", 0, 0, 0, 0);
    QCOMPARE(errors.count(), 2);
    worker.doStop();
}

void TestRecorderWorker::startFailureLeavesWorkerFree()
{
    setPath(QString());
    RecorderWorker worker;
    QSignalSpy started(&worker, &RecorderWorker::recordingStarted);
    QSignalSpy errors(&worker, &RecorderWorker::errorOccurred);
    QSignalSpy finished(&worker, &RecorderWorker::recordingFinished);

    worker.doRecord(path("out.mp4"), "m", "s", 1.0, 1.0, "Full", 0, 0, 0, 0);
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.first().first().toString(), QStringLiteral("ffmpeg.exe process failed to start."));
    QCOMPARE(started.count(), 0);
    QTest::qWait(50);
    QCOMPARE(finished.count(), 0);
    QCOMPARE(errors.count(), 1);

    useFakeFfmpeg();
    start(worker);
    worker.doStop();
    QCOMPARE(finished.count(), 1);
}

void TestRecorderWorker::requestsWithoutProcessDoNothing()
{
    RecorderWorker worker;
    QSignalSpy started(&worker, &RecorderWorker::recordingStarted);
    QSignalSpy finished(&worker, &RecorderWorker::recordingFinished);
    QSignalSpy errors(&worker, &RecorderWorker::errorOccurred);
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
    QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &msg) {
        QFAIL(qPrintable(QStringLiteral("unexpected log line: ") + msg));
    });
    worker.doStop();
    worker.doPause();
    worker.doResume();
    qInstallMessageHandler(previous);
    QCOMPARE(started.count() + finished.count() + errors.count(), 0);
}

void TestRecorderWorker::pausesCount()
{
    RecorderWorker worker;
    start(worker);
    const qint64 pid = readLines(path("pid")).first().toLongLong();
    QTRY_COMPARE(processState(pid), 'S');

    QTest::ignoreMessage(QtDebugMsg, "--- RESUMING (POSIX signals) ---");
    worker.doResume(); // nothing to undo: keeps running
    QTest::qWait(50);
    QCOMPARE(processState(pid), 'S');

    QTest::ignoreMessage(QtDebugMsg, "--- PAUSING (POSIX signals) ---");
    worker.doPause();
    QTRY_COMPARE(processState(pid), 'T');
    worker.doResume();
    QTRY_COMPARE(processState(pid), 'S');

    // Two pauses need two resumes.
    worker.doPause();
    worker.doPause();
    worker.doResume();
    QTest::qWait(100);
    QCOMPARE(processState(pid), 'T');
    worker.doResume();
    QTRY_COMPARE(processState(pid), 'S');

    QSignalSpy finished(&worker, &RecorderWorker::recordingFinished);
    worker.doStop();
    QCOMPARE(finished.count(), 1);
}

void TestRecorderWorker::stopWhilePausedFinishesTheFile()
{
    RecorderWorker worker;
    start(worker);
    const qint64 pid = readLines(path("pid")).first().toLongLong();
    worker.doPause();
    worker.doPause();
    QTRY_COMPARE(processState(pid), 'T');

    QSignalSpy finished(&worker, &RecorderWorker::recordingFinished);
    QSignalSpy errors(&worker, &RecorderWorker::errorOccurred);
    QElapsedTimer timer;
    timer.start();
    worker.doStop();
    QVERIFY2(timer.elapsed() < 4000, "a paused FFmpeg must be let run and read the q, not be killed");
    QCOMPARE(finished.count(), 1);
    QCOMPARE(errors.count(), 0);
    QVERIFY(QFile::exists(path("out.mp4")));
}

void TestRecorderWorker::destroyWithoutProcessIsSilent()
{
    auto *worker = new RecorderWorker;
    QSignalSpy started(worker, &RecorderWorker::recordingStarted);
    QSignalSpy finished(worker, &RecorderWorker::recordingFinished);
    QSignalSpy errors(worker, &RecorderWorker::errorOccurred);
    QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &msg) {
        QFAIL(qPrintable(QStringLiteral("unexpected log line: ") + msg));
    });
    delete worker;
    qInstallMessageHandler(previous);
    QCOMPARE(started.count() + finished.count() + errors.count(), 0);
}

void TestRecorderWorker::destroyStopsRunningProcess_data()
{
    QTest::addColumn<QByteArray>("behaviour");
    QTest::addColumn<bool>("paused");
    QTest::addColumn<bool>("fileWritten");

    QTest::newRow("running") << QByteArray("quit-on-q") << false << true;
    QTest::newRow("paused") << QByteArray("quit-on-q") << true << true;
    QTest::newRow("ignores q") << QByteArray("ignore-q") << false << false;
}

void TestRecorderWorker::destroyStopsRunningProcess()
{
    QFETCH(QByteArray, behaviour);
    QFETCH(bool, paused);
    QFETCH(bool, fileWritten);

    configureFake(behaviour);
    auto *worker = new RecorderWorker;
    start(*worker);
    const qint64 pid = readLines(path("pid")).first().toLongLong();
    if (paused) {
        worker->doPause();
        QTRY_COMPARE(processState(pid), 'T');
    }
    QSignalSpy finished(worker, &RecorderWorker::recordingFinished);
    QSignalSpy errors(worker, &RecorderWorker::errorOccurred);
    delete worker;

    QCOMPARE(QFile::exists(path("out.mp4")), fileWritten);
    QTRY_VERIFY(!processExists(pid));
    // Nobody is told: the controller is going away with the worker.
    QCOMPARE(finished.count() + errors.count(), 0);
}

QTEST_GUILESS_MAIN(TestRecorderWorker)
#include "tst_recorderworker.moc"
