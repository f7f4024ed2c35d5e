// The real caprello program on the test desktop, driven through its window with
// xdotool as a person would, and ended in the ways a program ends. Run again on the
// Wayland desktop, as an XWayland client there, where it records through the portal.
#include "support.h"

#include <QElapsedTimer>
#include <QStorageInfo>

#include <signal.h>

using namespace Support;

class TestProgram : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY2(testDesktop(), "needs the test desktop that scripts/test.sh starts"); }
    void recordThenEnd_data();
    void recordThenEnd();
};

void TestProgram::recordThenEnd_data()
{
    QTest::addColumn<QString>("ending");
    QTest::addColumn<bool>("paused");
    QTest::newRow("close button while recording") << "close" << false;
    QTest::newRow("close button while paused") << "close" << true;
    QTest::newRow("SIGKILL while recording") << "kill" << false;
    QTest::newRow("SIGKILL while paused") << "kill" << true;
    QTest::newRow("SIGSEGV while recording") << "segv" << false;
    // The program lives on; the file plays up to FFmpeg's last fragment.
    QTest::newRow("FFmpeg killed while recording") << "ffmpeg" << false;
    // A small recordings volume that something else fills up while recording.
    QTest::newRow("disk nearly full: stopped in time") << "fill" << false;
    QTest::newRow("disk full: FFmpeg cannot write") << "fill-all" << false;
}

void TestProgram::recordThenEnd()
{
    QFETCH(QString, ending);
    QFETCH(bool, paused);
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));  // the program's environment
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("QT_FORCE_STDERR_LOGGING", "1");
    const QString folder = home.path() + "/Desktop/ScreenRecordings";
    const bool fill = ending.startsWith("fill");
    if (fill) {
        QVERIFY(QDir().mkpath(folder));
        if (!run("mount", {"-t", "tmpfs", "-o", "size=64m", "tmpfs", folder}, true).isEmpty())
            QSKIP("mounting a small volume needs root");
    }
    const auto unmount = qScopeGuard([&] { if (fill) run("umount", {"-l", folder}); });
    // How far FFmpeg has recorded, from the progress lines in the program's log, and since when.
    // Declared before the process, whose end (also after a failed check) still reports to them.
    QString log;
    double recorded = 0;
    QElapsedTimer sinceProgress;
    QProcess app;
    app.setWorkingDirectory(home.path());  // where a crash leaves its core
    connect(&app, &QProcess::readyReadStandardError, this, [&] {
        log += QString::fromUtf8(app.readAllStandardError());
        static const QRegularExpression time("time=(\\d+):(\\d+):(\\d+\\.\\d+)(?!.*time=)", QRegularExpression::DotMatchesEverythingOption);
        const QRegularExpressionMatch m = time.match(log, qMax(0, log.size() - 4096));
        const double t = m.captured(1).toInt() * 3600 + m.captured(2).toInt() * 60 + m.captured(3).toDouble();
        if (t > recorded) {
            recorded = t;
            sinceProgress.start();
        }
    });
    app.start(QStringLiteral(CAPRELLO_EXE), {});
    const QString window = run("xdotool", {"search", "--sync", "--onlyvisible", "--pid",
                                           QString::number(app.processId()), "--name", "^Caprello$"});
    QVERIFY(!window.isEmpty());
    const auto click = [&](const char *x, const char *y) { run("xdotool", {"mousemove", "--window", window, x, y, "click", "1"}); };

    click("860", "152");  // START, mode Full
    QTRY_VERIFY_WITH_TIMEOUT(recorded >= 2.0, 30000);
    const QString file = QDir(folder).entryInfoList({"*.mp4"}).value(0).filePath();
    // Done: no FFmpeg left for the file, neither recording nor making its ordinary MP4 (which
    // starts once the recording FFmpeg has ended), unless FFmpeg itself could not end it.
    const bool keepsFragments = ending == "ffmpeg" || ending == "fill-all";
    const auto settled = [&] { return run("pgrep", {"-f", folder}).isEmpty() && fragmented(file) == keepsFragments; };
    if (paused) {
        click("860", "210");  // PAUSE
        QTRY_VERIFY(log.contains("--- PAUSING"));
        // What feeds FFmpeg the screen (GStreamer) stops too, or its pictures of the pause would follow.
        for (const QString &feeder : run("pgrep", {"-f", "gst-launch-1.0"}).split('\n', Qt::SkipEmptyParts))
            QTRY_COMPARE(processState(feeder.toLongLong()), 'T');
        QTest::qWait(1000);
    }
    // Where the recording stands now; the pause may be in the file as a still picture.
    const double atEnd = recorded + sinceProgress.elapsed() / 1000.0;
    const double pause = paused ? sinceProgress.elapsed() / 1000.0 : 0;
    double atLeast = atEnd - pause - 1.0, atMost = atEnd + 1.0;
    if (ending == "ffmpeg" || fill) {
        if (ending == "ffmpeg")
            run("pkill", {"-KILL", "-f", folder});
        else if (ending == "fill")  // leaves 10 MB
            run("fallocate", {"-l", QString::number(QStorageInfo(folder).bytesAvailable() - (10 << 20)), folder + "/filler"});
        else  // leaves nothing, whatever FFmpeg writes meanwhile (a filler of the size free a moment ago may not fit)
            run("dd", {"if=/dev/zero", "of=" + folder + "/filler", "bs=1M"});
        atLeast = atEnd - 1.5;
        QTRY_VERIFY_WITH_TIMEOUT(log.contains(ending == "ffmpeg" ? "Status: The recording failed: FFmpeg ended with code"
                                              : "Status: The disk is full: the recording was stopped and saved."), 15000);
        // FFmpeg that cannot write is killed after 5 s; on a disk just filled the rest can be
        // slow (once in CI over 15 s, here the whole row takes 7 s; where it went is not known).
        QTRY_VERIFY_WITH_TIMEOUT(settled(), 30000);
        atMost = recorded + 1.0;
        if (ending == "ffmpeg") {  // START again records
            click("860", "152");
            QTRY_VERIFY_WITH_TIMEOUT(QDir(folder).entryList({"*.mp4"}).size() == 2 && !run("pgrep", {"-f", folder}).isEmpty(), 15000);
            QTest::qWait(1000);
        }
    }
    if (ending == "kill" || ending == "segv")
        ::kill(pid_t(app.processId()), ending == "kill" ? SIGKILL : SIGSEGV);
    else
        click("936", "24");  // the window's own close button
    QVERIFY(app.waitForFinished(20000));
    QVERIFY(!(log + app.readAllStandardError()).contains("Icon failed to load"));
    QCOMPARE(app.exitStatus() == QProcess::NormalExit && app.exitCode() == 0, ending != "kill" && ending != "segv");
    // FFmpeg finishes by itself, and its guardian (a copy of the program) goes with it.
    QTRY_VERIFY_WITH_TIMEOUT(settled(), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(run("pgrep", {"-f", "gst-launch-1.0"}).isEmpty(), 20000);  // what fed FFmpeg the screen
    QTRY_VERIFY(run("pgrep", {"-f", CAPRELLO_EXE}).isEmpty());
    const QString probed = probe(file);
    const double duration = probed.section(' ', 2).toDouble();
    qInfo("%s%s: %s s in the file, %.2f s recorded at the end", qPrintable(ending), paused ? " while paused" : "",
          qPrintable(probed), atEnd);
    QVERIFY2(probed.startsWith("h264+aac 1280x720 "), qPrintable(probed + " " + run("ffprobe", {file}, true).right(300) + log.right(3000)));
    QVERIFY2(duration > atLeast && duration < atMost, "the file does not hold what was recorded");
    // A pause's mute is not kept for FFmpeg's next recording by the sound server.
    QVERIFY(toneLevel({"-f", "pulse", "-t", "1", "-i", "mic"}, 440) > -40);
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
