// The controller and its worker thread with the fake ffmpeg: what a recording
// leaves behind, and how every kind of failure ends.
#include "recorder/screenrecorder.h"
#include "support.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QSignalSpy>
#include <QTimer>

#include <signal.h>

using namespace Support;

// A desktop's ScreenCast portal whose user cancels its dialog.
class CancellingPortal : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.ScreenCast")
    Q_PROPERTY(uint version READ version)
public:
    uint version() const { return 4; }
public slots:
    QDBusObjectPath CreateSession(const QVariantMap &o, const QDBusMessage &call)
    { return answer(call, o, 0, {{"session_handle", "/org/freedesktop/portal/desktop/session/1/caprello"}}); }
    QDBusObjectPath SelectSources(const QDBusObjectPath &, const QVariantMap &o, const QDBusMessage &call)
    { return answer(call, o, 1, {}); }

private:
    // Answers come as a Response signal on the request's path, after the call's reply.
    static QDBusObjectPath answer(const QDBusMessage &call, const QVariantMap &options, uint code, const QVariantMap &results)
    {
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                .arg(call.service().mid(1).replace('.', '_'), options.value("handle_token").toString());
        QDBusMessage response = QDBusMessage::createSignal(path, "org.freedesktop.portal.Request", "Response");
        response << code << results;
        QTimer::singleShot(0, [response] { QDBusConnection::sessionBus().send(response); });
        return QDBusObjectPath(path);
    }
};

class TestRecorder : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void record_data();
    void record();
    void failures_data();
    void failures();

private:
    QString trace(const char *name) const { return m_work.filePath(name); }
    qint64 ffmpegPid() const { return firstLine(trace("pid")).toLongLong(); }
    // A home with blanks, quotes and letters beyond ASCII: every path must reach FFmpeg whole.
    QTemporaryDir m_home{QDir::tempPath() + "/Jo \"Q\" O'Brien Åsa-XXXXXX"};
    QTemporaryDir m_work;
};

void TestRecorder::init()
{
    qputenv("HOME", QFile::encodeName(m_home.path()));
    qputenv("FAKE_FFMPEG_ARGS", QFile::encodeName(trace("args")));
    qputenv("FAKE_FFMPEG_PID", QFile::encodeName(trace("pid")));
    putFirstOnPath(FAKE_FFMPEG_DIR);
    qputenv("FAKE_FFMPEG_BEHAVIOUR", "quit-on-q");
    qunsetenv("FAKE_FFMPEG_STDERR");
    qunsetenv("WAYLAND_DISPLAY");
}

void TestRecorder::record_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("argument");  // a piece of an argument FFmpeg must get
    QTest::addColumn<QByteArray>("progress");  // FFmpeg's status line
    QTest::addColumn<QStringList>("clock");    // what the window's clock shows, in turn
    QTest::newRow("Full") << "Full" << "rawvideo"
            << QByteArray("frame= 1 fps=0.0 size= 0kB time=00:04:05.50 bitrate=1.0kbits/s\r")
            << QStringList{"Starting...", "4:05", "Paused", "4:05", ""};
    QTest::newRow("Custom Area") << "Custom Area" << "[0:v]crop=w=min(640\\,iw-10):h=min(480\\,ih-20):x=10:y=20,setpts="
            << QByteArray("size= 9kB time=01:02:03.00 bitrate=1.0kbits/s\r") << QStringList{"Starting...", "1:02:03", "Paused", "1:02:03", ""};
    QTest::newRow("MP3 only") << "MP3 only" << "libmp3lame" << QByteArray()
                              << QStringList{"Starting...", "Paused", "Starting...", ""};
}

void TestRecorder::record()
{
    QFETCH(QString, mode);
    QFETCH(QString, argument);
    QFETCH(QByteArray, progress);
    QFETCH(QStringList, clock);

    qputenv("FAKE_FFMPEG_STDERR", progress);
    ScreenRecorder r;
    QStringList clockShown;
    connect(&r, &ScreenRecorder::clockTextChanged, this, [&] { clockShown << r.clockText(); });
    QSignalSpy orders(&r, &ScreenRecorder::startWorkerRecording);
    r.startRecording(mode, 10, 20, 640, 480);
    r.startRecording(mode);  // a double click on START
    QTRY_VERIFY(r.isRecording());
    QCOMPARE(orders.count(), 1);
    const QString file = orders.first().first().toString();
    QStringList args;  // the fake writes them just after it has started
    QTRY_COMPARE((args = run("cat", {trace("args")}).split('\n')).last(), file);
    QVERIFY2(!args.filter(argument).isEmpty(), qPrintable(args.join(' ')));
    QVERIFY(file.startsWith(m_home.path() + "/Desktop/ScreenRecordings/rec_") && file.endsWith(mode == "MP3 only" ? ".mp3" : ".mp4"));

    // PAUSE freezes FFmpeg, RESUME lets it run.
    const qint64 pid = ffmpegPid();
    QTRY_COMPARE(clockShown.size(), clock.size() - 3);
    r.pauseRecording();
    QTRY_COMPARE(processState(pid), 'T');
    r.resumeRecording();
    QTRY_VERIFY(processState(pid) != 'T');
    QSignalSpy files(&r, &ScreenRecorder::fileListChanged);
    r.stopRecording();
    QVERIFY(files.wait(10000));
    QVERIFY(!r.isRecording() && !r.isPaused());
    // FFmpeg read the "q" (it was not killed), the finished copy replaced its file,
    // and the gallery shows the file first.
    QTRY_COMPARE(firstLine(file), mode == "MP3 only" ? QStringLiteral("fake recording") : QStringLiteral("fake recording finished"));
    QVERIFY(!QFile::exists(file + ".finishing"));
    QCOMPARE(r.fileList().first().toMap().value("name").toString(), QFileInfo(file).fileName());
    QCOMPARE(clockShown, clock);
}

void TestRecorder::failures_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("errorOutput");
    QTest::addColumn<QString>("then");    // what happens once it records
    QTest::addColumn<QString>("status");  // how the window's status line begins
    QTest::addColumn<int>("listed");      // new recordings in the gallery
    QTest::newRow("no ffmpeg but one planted in the working folder") << "planted" << QByteArray() << ""
            << "FFmpeg was not found. Caprello looks for it in the folders of PATH." << 0;
    QTest::newRow("folder cannot be written") << "folder" << QByteArray() << ""
                                              << "The recordings folder cannot be written: " << 0;
    QTest::newRow("exits at once") << "exit" << QByteArray("Unknown encoder 'libx264'\n") << ""
                                   << "The recording failed: FFmpeg ended with code 1 (Unknown encoder 'libx264')." << 0;
    QTest::newRow("disk full, then statistics") << "exit" << QByteArray("av_interleaved_write_frame(): No space left on device\n    Last message repeated 3 times\n"
            "[Parsed_astats_7 @ 0x5] Overall\nvideo:7766kB audio:71kB\n[libx264 @ 0x5] kb/s:7483.80\n[aac @ 0x5] Qavg: 124.9\n")
            << "" << "The disk is full: the recording was stopped and saved." << 0;
    QTest::newRow("crashes") << "quit-on-q" << QByteArray() << "crash"
                             << "The recording failed: FFmpeg ended with code 11." << 0;
    QTest::newRow("ignores q: killed") << "ignore-q" << QByteArray() << "stop"
                                       << "FFmpeg did not answer STOP and was ended after 5 seconds" << 0;
    QTest::newRow("error output, records on") << "quit-on-q"
            << QByteArray("[pulse @ 0x55] pa_stream_get_latency() failed\n") << "stop" << "" << 1;
    QTest::newRow("no system sound") << "no sound server" << QByteArray() << "stop"
                                     << "No system-sound input was found: only the microphone is recorded." << 1;
    QTest::newRow("Wayland: the user does not share the screen") << "cancel" << QByteArray() << ""
            << "The screen was not shared: nothing was recorded." << 0;
}

void TestRecorder::failures()
{
    QFETCH(QString, fault);
    QFETCH(QByteArray, errorOutput);
    QFETCH(QString, then);
    QFETCH(QString, status);
    QFETCH(int, listed);

    const QString folder = m_home.path() + "/Desktop/ScreenRecordings";
    if (fault == "folder")
        QVERIFY(QDir(folder).removeRecursively() && QFile(folder).open(QIODevice::WriteOnly));
    ScreenRecorder r;
    QSignalSpy recording(&r, &ScreenRecorder::isRecordingChanged);
    QSignalSpy statusChanges(&r, &ScreenRecorder::statusTextChanged);
    const int earlier = r.fileList().size();
    if (fault == "planted") {  // a bare name would run it: relative and empty PATH entries mean "here"
        QDir::setCurrent(FAKE_FFMPEG_DIR);
        qputenv("PATH", ":.:fake");
    }
    if (fault == "no sound server")
        qputenv("PULSE_SERVER", "/nonexistent");
    QProcess bus;  // a session bus of its own, with the portal on it
    CancellingPortal portal;
    if (fault == "cancel") {
        bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        QVERIFY(bus.waitForReadyRead(5000));
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus.readLine().trimmed());
        qputenv("WAYLAND_DISPLAY", "wayland-caprello-test");
        QDBusConnection session = QDBusConnection::sessionBus();
        QVERIFY(session.registerService("org.freedesktop.portal.Desktop")
                && session.registerObject("/org/freedesktop/portal/desktop", &portal,
                                          QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
    }
    qputenv("FAKE_FFMPEG_BEHAVIOUR", fault.toUtf8());
    qputenv("FAKE_FFMPEG_STDERR", errorOutput);
    r.startRecording("Full");
    qunsetenv("PULSE_SERVER");
    if (!then.isEmpty()) {
        QTRY_VERIFY(r.isRecording());
        QTest::qWait(300);
        QVERIFY(r.isRecording());  // FFmpeg's complaints alone do not end the recording
        if (then == "crash")
            ::kill(pid_t(ffmpegPid()), SIGSEGV);
        else
            r.stopRecording();
    }
    if (!status.isEmpty())
        QTRY_VERIFY_WITH_TIMEOUT(!statusChanges.isEmpty(), 10000);
    QDir::setCurrent(QDir::tempPath());
    QTRY_VERIFY_WITH_TIMEOUT(!r.isRecording() && !r.isPaused() && r.clockText().isEmpty(), 10000);
    QVERIFY2(status.isEmpty() ? r.statusText().isEmpty() : r.statusText().startsWith(status), qPrintable(r.statusText()));
    // Never claimed to record what could not start.
    QCOMPARE(recording.count(), fault == "planted" || fault == "folder" || fault == "cancel" ? 0 : 2);
    QCOMPARE(r.fileList().size(), earlier + listed);

    // The program keeps working: the next recording goes through and clears the status line.
    init();
    QFile::remove(folder);
    QSignalSpy files(&r, &ScreenRecorder::fileListChanged);
    r.startRecording("Full");
    QTRY_VERIFY(r.isRecording());
    QCOMPARE(r.statusText(), QString());
    r.stopRecording();
    QVERIFY(files.wait(10000));
    QCOMPARE(r.fileList().size(), earlier + listed + 1);
    bus.kill();
    bus.waitForFinished();
}

QTEST_GUILESS_MAIN(TestRecorder)
#include "tst_recorder.moc"
