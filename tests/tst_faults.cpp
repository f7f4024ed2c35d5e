// Faults and bad input: FFmpeg missing, failing, crashing, deaf to "q" or flooding
// its error output; a recordings folder that is read-only, full or deleted; the
// program closed or killed while it records; many cycles in a row. Every case checks
// that the window's state is true, the log says what happened, and that no earlier
// recording is touched.
#include "recorder/screenrecorder.h"
#include "testsupport.h"

#include <QCryptographicHash>
#include <QMutex>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <memory>

#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace TestSupport;

namespace {

// Everything logged, from any thread. FFmpeg's own pieces are not passed on to the
// test log, and only ordinary-sized ones are kept, so that a flood floods neither.
QMutex g_logMutex;
QStringList g_log;
std::atomic<int> g_progressMs{0};
std::atomic<qint64> g_ffmpegLogBytes{0};
std::atomic<int> g_workerErrors{0};
QtMessageHandler g_previousHandler = nullptr;

void captureMessages(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    const bool ffmpegPiece = msg.startsWith(QLatin1String("[ffmpeg]:")) || msg.startsWith(QLatin1String("WORKER ERROR: \"\\xFF"))
            || (msg.startsWith(QLatin1String("WORKER ERROR:")) && msg.size() > 2000);
    if (msg.startsWith(QLatin1String("WORKER ERROR:")))
        ++g_workerErrors;
    if (ffmpegPiece) {
        g_ffmpegLogBytes += msg.size();
        const int ms = progressMs(msg);
        if (ms > g_progressMs)
            g_progressMs = ms;
    }
    {
        QMutexLocker lock(&g_logMutex);
        if (!ffmpegPiece || msg.size() < 4096)
            g_log << msg;
    }
    if (!ffmpegPiece)
        g_previousHandler(type, context, msg);
}

bool logged(const QString &text)
{
    QMutexLocker lock(&g_logMutex);
    for (const QString &line : std::as_const(g_log)) {
        if (line.contains(text))
            return true;
    }
    return false;
}

// AddressSanitizer keeps freed memory in quarantine: resident size says nothing there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryMeasurable = false;
#else
constexpr bool kMemoryMeasurable = true;
#endif

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Processes whose parent is this test: nothing may be left behind.
QList<qint64> childProcesses()
{
    QList<qint64> children;
    const QString self = QString::number(QCoreApplication::applicationPid());
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields.at(1) == self.toLatin1() && fields.at(0) != "Z")
            children << pid;
    }
    return children;
}

QByteArray fileHash(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void processFaults_data();
    void processFaults();
    void stderrFlood();
    void folderDeletedWhileRecording();
    void soak();

    // With the real ffmpeg, an X display and a PulseAudio server.
    void folderReadOnly();
    void folderFull();
    void closeWhileRecording_data();
    void closeWhileRecording();
    void programKilledWhileRecording();
    void longRecording();

private:
    bool realDevices();
    QString folder() const { return m_home->path() + QStringLiteral("/Desktop/ScreenRecordings"); }
    void startAndWait(ScreenRecorder &r, const QString &mode = QStringLiteral("Full"));
    void expectIdleAndUntouched(ScreenRecorder &r);
    void mountTmpfs(const QString &options);

    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<QTemporaryDir> m_work;
    QString m_earlier;
    QByteArray m_earlierHash;
    bool m_mounted = false;
};

void TestFaults::initTestCase()
{
    g_previousHandler = qInstallMessageHandler(captureMessages);
}

void TestFaults::init()
{
    // A home and desktop with blanks, quotes and letters beyond ASCII.
    m_home = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/Jo \"Q\" O'Brien Åsa-XXXXXX"));
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid() && m_work->isValid());
    qputenv("HOME", QFile::encodeName(m_home->path()));
    qunsetenv("XDG_CONFIG_HOME");
    useFakeFfmpeg();
    configureFake("quit-on-q");
    qputenv("FAKE_FFMPEG_PID", QFile::encodeName(m_work->filePath("pid")));
    qputenv("FAKE_FFMPEG_FLOOD_COUNT", QFile::encodeName(m_work->filePath("flood")));
    {
        QMutexLocker lock(&g_logMutex);
        g_log.clear();
    }
    g_progressMs = 0;

    // An earlier recording that nothing may touch.
    QVERIFY(QDir().mkpath(folder()));
    m_earlier = folder() + QStringLiteral("/rec_2020-01-01_00-00-00.mp4");
    QFile f(m_earlier);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("an earlier recording ") + QByteArray(4000, 'e'));
    f.close();
    m_earlierHash = fileHash(m_earlier);
}

void TestFaults::cleanup()
{
    if (m_mounted) {
        ::umount2(QFile::encodeName(folder()).constData(), MNT_DETACH);
        m_mounted = false;
    }
    const qint64 pid = readLines(m_work->filePath("pid")).value(0).toLongLong();
    if (pid > 0 && processExists(pid))
        ::kill(pid_t(pid), SIGKILL);
    QTRY_COMPARE(childProcesses(), QList<qint64>());
}

bool TestFaults::realDevices()
{
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), {"list", "short", "sources"});
    const bool pulse = pactl.waitForFinished(5000) && pactl.exitCode() == 0
            && pactl.readAllStandardOutput().contains("speakers.monitor");
    return pulse && qEnvironmentVariableIsSet("DISPLAY") && !QStandardPaths::findExecutable("ffmpeg").isEmpty();
}

#define REQUIRE_REAL_DEVICES()                                                                   \
    do {                                                                                         \
        if (!realDevices()) {                                                                    \
            if (qEnvironmentVariableIsSet("CAPRELLO_E2E_REQUIRED"))                              \
                QFAIL("needs ffmpeg, DISPLAY and the PulseAudio test server");                   \
            QSKIP("no X display or PulseAudio test server: run through scripts/test.sh");        \
        }                                                                                        \
        setPath(QFileInfo(QStandardPaths::findExecutable("ffmpeg", {"/usr/bin", "/usr/local/bin"})).path()); \
    } while (false)

void TestFaults::startAndWait(ScreenRecorder &r, const QString &mode)
{
    r.startRecording(mode);
    QTRY_VERIFY(r.isRecording());
}

void TestFaults::expectIdleAndUntouched(ScreenRecorder &r)
{
    QTRY_VERIFY_WITH_TIMEOUT(!r.isRecording(), 10000);
    QVERIFY(!r.isPaused());
    QCOMPARE(fileHash(m_earlier), m_earlierHash);
}

void TestFaults::mountTmpfs(const QString &options)
{
    if (::geteuid() != 0)
        QSKIP("mounting a small file system needs root");
    const int rc = ::mount("tmpfs", QFile::encodeName(folder()).constData(), "tmpfs", 0,
                           options.toLatin1().constData());
    if (rc != 0)
        QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs here: %1").arg(qt_error_string(errno))));
    m_mounted = true;
    // The earlier recording lives on the small file system too.
    QFile f(m_earlier);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("an earlier recording ") + QByteArray(4000, 'e'));
    f.close();
    m_earlierHash = fileHash(m_earlier);
}

void TestFaults::processFaults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("logLine");

    QTest::newRow("no ffmpeg on PATH") << "missing" << "WORKER ERROR: \"ffmpeg.exe process failed to start.\"";
    QTest::newRow("exits at once with an error") << "exit" << "WORKER ERROR: \"FFMPEG crashed or exited with code 1\"";
    QTest::newRow("crashes mid-recording") << "crash" << "WORKER ERROR: \"FFMPEG crashed or exited with code 11\"";
    QTest::newRow("ignores q") << "ignore-q" << "FFMPEG did not stop, killing process.";
}

void TestFaults::processFaults()
{
    QFETCH(QString, fault);
    QFETCH(QString, logLine);

    ScreenRecorder r;
    QSignalSpy recording(&r, &ScreenRecorder::isRecordingChanged);
    if (fault == "missing") {
        setPath(QString());
        r.startRecording("Full");
        QTRY_VERIFY(logged(logLine));
        QCOMPARE(recording.count(), 0);  // never claimed to record
    } else if (fault == "exit") {
        configureFake("exit", "Unknown encoder 'libx264'\n", "1");
        r.startRecording("Full");
        QTRY_VERIFY(logged(logLine));
    } else if (fault == "crash") {
        startAndWait(r);
        const qint64 pid = waitForPid(m_work->filePath("pid"));
        ::kill(pid_t(pid), SIGSEGV);
        QTRY_VERIFY(logged(logLine));
    } else if (fault == "ignore-q") {
        configureFake("ignore-q");
        startAndWait(r);
        r.stopRecording();
        QVERIFY(r.isRecording());  // still true while FFmpeg has not ended
        QTRY_VERIFY_WITH_TIMEOUT(logged(logLine), 8000);
        QTRY_VERIFY(logged("WORKER ERROR: \"FFMPEG crashed or exited with code 9\""));
    }
    expectIdleAndUntouched(r);

    // The program keeps working: the next recording goes through.
    useFakeFfmpeg();
    configureFake("quit-on-q");
    QSignalSpy files(&r, &ScreenRecorder::fileListChanged);
    startAndWait(r);
    r.stopRecording();
    QVERIFY(files.wait(5000));
    QCOMPARE(r.fileList().size(), 2);
    expectIdleAndUntouched(r);
}

void TestFaults::stderrFlood()
{
    configureFake("flood");
    ScreenRecorder r;
    startAndWait(r);
    const qint64 before = residentKiB();
    g_ffmpegLogBytes = 0;
    g_workerErrors = 0;
    QTest::qWait(3000);
    const int pieces = readLines(m_work->filePath("flood")).value(0).toInt();
    const qint64 after = residentKiB();
    qInfo("flood: %d pieces of 256 KB written in 3 s (%.1f MB/s), %lld KiB logged; resident %lld -> %lld KiB",
          pieces, pieces * 0.25 / 3, g_ffmpegLogBytes / 1024, before, after);
    // A writer blocked on a full pipe would stall; unblocked it manages about 20 a second.
    QVERIFY2(pieces >= 30, "FFmpeg was blocked on its error output");
    if (kMemoryMeasurable)
        QVERIFY2(after - before < 100 * 1024, "memory grew with the flood");

    // STOP still answers: FFmpeg reads the "q" (no kill) and the recording is listed.
    QSignalSpy files(&r, &ScreenRecorder::fileListChanged);
    r.stopRecording();
    QVERIFY(files.wait(5000));
    QVERIFY(!logged("FFMPEG did not stop, killing process."));
    QVERIFY(g_workerErrors > 0);  // the error phrase in the flood was reported
    expectIdleAndUntouched(r);
}

void TestFaults::folderDeletedWhileRecording()
{
    ScreenRecorder r;
    startAndWait(r);
    QVERIFY(QDir(folder()).removeRecursively());
    QSignalSpy files(&r, &ScreenRecorder::fileListChanged);
    r.stopRecording();
    QVERIFY(files.wait(5000));
    QVERIFY(!r.isRecording());
    // The folder is made again, and the log says where the recording went.
    QVERIFY(QFileInfo(folder()).isDir());
    QTRY_VERIFY(logged("the recording is not in its folder any more"));

    startAndWait(r);
    r.stopRecording();
    QVERIFY(files.wait(5000));
    QCOMPARE(r.fileList().size(), 1);
}

void TestFaults::soak()
{
    ScreenRecorder r;
    QSignalSpy recording(&r, &ScreenRecorder::isRecordingChanged);
    QSignalSpy paused(&r, &ScreenRecorder::isPausedChanged);
    qint64 residentAt50 = 0;
    constexpr int cycles = 200;
    for (int i = 0; i < cycles; ++i) {
        r.startRecording("Full");
        QVERIFY(recording.wait(5000));
        QVERIFY(r.isRecording());
        r.pauseRecording();
        r.resumeRecording();
        r.stopRecording();
        QVERIFY(recording.wait(5000));
        QVERIFY2(!r.isRecording() && !r.isPaused(), qPrintable(QStringLiteral("cycle %1").arg(i)));
        if (i == 49)
            residentAt50 = residentKiB();
    }
    const qint64 residentAt200 = residentKiB();
    qInfo("soak: %d cycles, resident %lld KiB after 50, %lld KiB after %d", cycles, residentAt50, residentAt200, cycles);
    QCOMPARE(recording.count(), 2 * cycles);
    QCOMPARE(paused.count(), 2 * cycles);
    // 150 more cycles may not keep memory: allow for allocator noise only.
    if (kMemoryMeasurable)
        QVERIFY2(residentAt200 - residentAt50 < 4 * 1024, "memory grows with every recording");
    QTRY_COMPARE(childProcesses(), QList<qint64>());
    // All recordings listed (same-second starts get "_2", "_3"...), the earlier one untouched.
    QCOMPARE(r.fileList().size(), cycles + 1);
    expectIdleAndUntouched(r);
}

void TestFaults::folderReadOnly()
{
    REQUIRE_REAL_DEVICES();
    mountTmpfs(QStringLiteral("size=1m"));
    QVERIFY(::mount("tmpfs", QFile::encodeName(folder()).constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0);

    ScreenRecorder r;
    r.startRecording("MP3 only");
    QTRY_VERIFY_WITH_TIMEOUT(logged("WORKER ERROR: \"FFMPEG crashed or exited with code"), 20000);
    QVERIFY(logged("Read-only file system"));
    expectIdleAndUntouched(r);
}

void TestFaults::folderFull()
{
    REQUIRE_REAL_DEVICES();
    // Room for the earlier recording and a few seconds of sound.
    mountTmpfs(QStringLiteral("size=48k"));

    ScreenRecorder r;
    startAndWait(r, "MP3 only");
    QTRY_VERIFY_WITH_TIMEOUT(!r.isRecording(), 60000);
    QVERIFY(logged("No space left on device"));
    QVERIFY(logged("WORKER ERROR: \"FFMPEG crashed or exited with code"));
    expectIdleAndUntouched(r);
}

void TestFaults::closeWhileRecording_data()
{
    QTest::addColumn<bool>("paused");
    QTest::newRow("recording") << false;
    QTest::newRow("paused") << true;
}

void TestFaults::closeWhileRecording()
{
    QFETCH(bool, paused);
    REQUIRE_REAL_DEVICES();

    auto r = std::make_unique<ScreenRecorder>();
    QSignalSpy orders(r.get(), &ScreenRecorder::startWorkerRecording);
    startAndWait(*r);
    const QString file = orders.first().first().toString();
    QTRY_VERIFY_WITH_TIMEOUT(g_progressMs >= 3000, 20000);
    if (paused) {
        r->pauseRecording();
        QTest::qWait(1000);
    }
    const int recordedMs = g_progressMs;
    r.reset();  // what closing the window does

    const Probe result = probe(file);
    const QStringList codecs = result.codecs;
    const double duration = result.duration;
    qInfo("closed while %s: %s, %.2f s (FFmpeg had reported %.2f s)", paused ? "paused" : "recording",
          qPrintable(codecs.join('+')), duration, recordedMs / 1000.0);
    QCOMPARE(codecs, (QStringList{"h264", "aac"}));
    QVERIFY2(duration >= recordedMs / 1000.0 - 0.5, "the file is shorter than what was recorded");
    QCOMPARE(fileHash(m_earlier), m_earlierHash);
}

void TestFaults::programKilledWhileRecording()
{
    REQUIRE_REAL_DEVICES();
    QProcess host;
    host.setStandardErrorFile(QProcess::nullDevice());
    host.start(QStringLiteral(FAULT_HOST), {"Full"});
    QVERIFY(host.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(host.canReadLine(), 20000);
    const QString line = QString::fromLocal8Bit(host.readLine()).trimmed();
    QVERIFY2(line.startsWith("started "), qPrintable(line));
    const QString file = line.mid(8);

    // FFmpeg is the host's child; let it record for a while.
    qint64 ffmpeg = 0;
    QTRY_VERIFY([&] {
        for (const QString &entry : QDir("/proc").entryList(QDir::Dirs)) {
            QFile stat("/proc/" + entry + "/stat");
            if (!stat.open(QIODevice::ReadOnly))
                continue;
            const QByteArray text = stat.readAll();
            const QList<QByteArray> f = text.mid(text.lastIndexOf(')') + 2).split(' ');
            if (text.contains("(ffmpeg)") && f.size() > 1 && f.at(1).toLongLong() == host.processId())
                ffmpeg = entry.toLongLong();
        }
        return ffmpeg > 0;
    }());
    // Wait until FFmpeg has really recorded (it probes its inputs first, longer on a
    // loaded machine): frames reach the file in 32 KB blocks.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(file).size() > 256 * 1024, 60000);
    QTest::qWait(1000);

    ::kill(pid_t(host.processId()), SIGKILL);
    QVERIFY(host.waitForFinished(5000));
    // FFmpeg is told and finishes its file instead of recording on forever.
    QTRY_VERIFY_WITH_TIMEOUT(!processExists(ffmpeg), 15000);
    const Probe result = probe(file);
    const QStringList codecs = result.codecs;
    const double duration = result.duration;
    qInfo("program killed: FFmpeg ended by itself, %s, %.2f s", qPrintable(codecs.join('+')), duration);
    QCOMPARE(codecs, (QStringList{"h264", "aac"}));
    QVERIFY(duration > 2.0);
    QCOMPARE(fileHash(m_earlier), m_earlierHash);
}

void TestFaults::longRecording()
{
    // Opt-in (ctest -L long): ten minutes at 1280x720 by default.
    const int seconds = qEnvironmentVariableIntValue("CAPRELLO_LONG_SECONDS");
    if (seconds <= 0)
        QSKIP("set CAPRELLO_LONG_SECONDS (ctest -L long does) to record that long");
    REQUIRE_REAL_DEVICES();

    ScreenRecorder r;
    QSignalSpy orders(&r, &ScreenRecorder::startWorkerRecording);
    r.startRecording("Full");
    QTRY_VERIFY(r.isRecording());
    // The wall time counts from FFmpeg's first frame, after it has probed its inputs.
    QTRY_VERIFY_WITH_TIMEOUT(g_progressMs > 0, 20000);
    QElapsedTimer wall;
    wall.start();
    const int startMs = g_progressMs;
    QTest::qWait(seconds * 1000);
    QSignalSpy files(&r, &ScreenRecorder::fileListChanged);
    r.stopRecording();
    QVERIFY(files.wait(10000));
    const double wallSeconds = wall.elapsed() / 1000.0 + startMs / 1000.0;

    const Probe result = probe(orders.first().first().toString());
    const QStringList codecs = result.codecs;
    const double duration = result.duration;
    qInfo("long recording: %s, %.2f s in the file, %.2f s of wall time (%.2f %%)", qPrintable(codecs.join('+')),
          duration, wallSeconds, 100.0 * (duration - wallSeconds) / wallSeconds);
    QCOMPARE(codecs, (QStringList{"h264", "aac"}));
    QVERIFY(qAbs(duration - wallSeconds) <= 0.02 * wallSeconds);
}

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
