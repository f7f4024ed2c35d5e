// The real caprello program on the test desktop, driven through its window with
// xdotool as a person would, and ended in the ways a program ends.
#include "support.h"

#include <QElapsedTimer>

#include <signal.h>
#include <sys/resource.h>

using namespace Support;

namespace {
// The running processes whose command line holds `text`.
QList<qint64> running(const QString &text)
{
    QList<qint64> found;
    for (const QString &entry : QDir("/proc").entryList(QDir::Dirs)) {
        QFile cmdline("/proc/" + entry + "/cmdline");
        if (entry.toLongLong() > 0 && cmdline.open(QIODevice::ReadOnly)) {
            const QByteArray args = cmdline.readAll();
            if (args.contains(text.toUtf8()) && processState(entry.toLongLong()) != 'Z')
                found << entry.toLongLong();
        }
    }
    return found;
}

bool xdotool(const QStringList &args, QString *out = nullptr)
{
    QProcess p;
    p.start("xdotool", args);
    const bool ok = p.waitForFinished(40000) && p.exitCode() == 0;
    if (out)
        *out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    return ok;
}
} // namespace

class TestProgram : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { REQUIRE_TEST_DESKTOP(); }
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
}

void TestProgram::recordThenEnd()
{
    QFETCH(QString, ending);
    QFETCH(bool, paused);
    QTemporaryDir home;
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("QT_FORCE_STDERR_LOGGING", "1");
    app.setProcessEnvironment(env);
    app.setChildProcessModifier([] {
        const rlimit noCore = {0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
    });
    // What FFmpeg has recorded, from its progress lines in the program's log, and when that was read.
    QString log;
    double recorded = 0;
    QElapsedTimer sinceProgress;
    connect(&app, &QProcess::readyReadStandardError, this, [&] {
        log += QString::fromUtf8(app.readAllStandardError());
        static const QRegularExpression time("time=(\\d+):(\\d+):(\\d+\\.\\d+)");
        QRegularExpressionMatchIterator it = time.globalMatch(log, qMax(0, log.size() - 4096));
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            const double t = m.captured(1).toInt() * 3600 + m.captured(2).toInt() * 60 + m.captured(3).toDouble();
            if (t > recorded)
                sinceProgress.start();
            recorded = qMax(recorded, t);
        }
    });
    app.start(QStringLiteral(CAPRELLO_EXE), {});
    QString window;
    QVERIFY(xdotool({"search", "--sync", "--onlyvisible", "--pid", QString::number(app.processId()), "--name",
                     "^Caprello$"}, &window));
    const QString folder = home.path() + "/Desktop/ScreenRecordings";
    QVERIFY(QFileInfo(folder).isDir());

    QVERIFY(xdotool({"mousemove", "--window", window, "860", "152", "click", "1"}));  // START, mode Full
    QTRY_VERIFY_WITH_TIMEOUT(recorded >= 2.0, 30000);
    const QString file = QDir(folder).entryInfoList({"*.mp4"}).value(0).filePath();
    QVERIFY(!file.isEmpty());
    if (paused) {
        QVERIFY(xdotool({"mousemove", "--window", window, "860", "210", "click", "1"}));  // PAUSE
        QTRY_VERIFY(log.contains("--- PAUSING"));
        QTest::qWait(1000);
    }
    // Where the recording stands now; a pause may end up in the file as a still
    // picture, when FFmpeg runs on a moment before it stops.
    const double atEnd = recorded + sinceProgress.elapsed() / 1000.0;
    const double pause = paused ? sinceProgress.elapsed() / 1000.0 : 0;
    if (ending == "close") {
        QVERIFY(xdotool({"mousemove", "--window", window, "936", "24", "click", "1"}));
        QVERIFY(app.waitForFinished(20000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
    } else {
        ::kill(pid_t(app.processId()), ending == "kill" ? SIGKILL : SIGSEGV);
        QVERIFY(app.waitForFinished(20000));
        QCOMPARE(app.exitStatus(), QProcess::CrashExit);
    }
    // FFmpeg finishes by itself, and its guardian (a copy of the program) goes with it.
    QTRY_VERIFY_WITH_TIMEOUT(running(folder).isEmpty(), 20000);
    QTRY_VERIFY(running(CAPRELLO_EXE).isEmpty());
    const Probe p = probe(file);
    qInfo("%s%s: %s, %.2f s in the file, %.2f s recorded at the end", qPrintable(ending),
          paused ? " while paused" : "", qPrintable(p.codecs.join('+')), p.duration, atEnd);
    QCOMPARE(p.codecs, (QStringList{"h264", "aac"}));
    QVERIFY2(p.duration > atEnd - pause - 1.0 && p.duration < atEnd + 1.0, "the file does not hold what was recorded");
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
