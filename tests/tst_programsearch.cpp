// Which ffmpeg runs: never one planted in the current directory.
#include "platform/programsearch.h"
#include "recorder/screenrecorder.h"
#include "testsupport.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

class TestProgramSearch : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void find_data();
    void find();
    void plantedFfmpegInWorkingFolderDoesNotRun();

private:
    QString dir(const QString &name) const { return m_root->filePath(name); }
    void makeProgram(const QString &path, bool executable = true);
    std::unique_ptr<QTemporaryDir> m_root;
};

void TestProgramSearch::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
    for (const char *d : {"app", "bin1", "bin2", "cwd", "noexec"})
        QVERIFY(QDir().mkpath(dir(d)));
    makeProgram(dir("bin1/ffmpeg"));
    makeProgram(dir("bin2/ffmpeg"));
    makeProgram(dir("cwd/ffmpeg"));
    makeProgram(dir("noexec/ffmpeg"), false);
    QVERIFY(QDir().mkpath(dir("dironly/ffmpeg")));
}

void TestProgramSearch::makeProgram(const QString &path, bool executable)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\nexit 0\n");
    f.close();
    QFile::Permissions perms = QFile::ReadOwner | QFile::WriteOwner;
    if (executable)
        perms |= QFile::ExeOwner;
    QVERIFY(f.setPermissions(perms));
}

void TestProgramSearch::find_data()
{
    QTest::addColumn<QStringList>("preferred");
    QTest::addColumn<QString>("path");  // "@" stands for the temporary root
    QTest::addColumn<QString>("expected");

    QTest::newRow("first on PATH") << QStringList{} << "@/bin1:@/bin2" << "bin1/ffmpeg";
    QTest::newRow("order of PATH") << QStringList{} << "@/bin2:@/bin1" << "bin2/ffmpeg";
    QTest::newRow("preferred directory first") << QStringList{"@/bin2"} << "@/bin1" << "bin2/ffmpeg";
    QTest::newRow("empty preferred directory is passed over") << QStringList{"@/app"} << "@/bin1" << "bin1/ffmpeg";
    QTest::newRow("empty entry means the current directory: skipped") << QStringList{} << ":@/bin2" << "bin2/ffmpeg";
    QTest::newRow("dot: skipped") << QStringList{} << ".:@/bin2" << "bin2/ffmpeg";
    QTest::newRow("relative entry: skipped") << QStringList{} << "cwd:bin1:@/bin2" << "bin2/ffmpeg";
    QTest::newRow("not executable: skipped") << QStringList{} << "@/noexec:@/bin1" << "bin1/ffmpeg";
    QTest::newRow("a directory of that name: skipped") << QStringList{} << "@/dironly:@/bin1" << "bin1/ffmpeg";
    QTest::newRow("none at all") << QStringList{} << "@/app:@/noexec:.:cwd" << "";
    QTest::newRow("empty PATH") << QStringList{} << "" << "";
    QTest::newRow("messy absolute entry is cleaned") << QStringList{} << "@/app/../bin1/" << "bin1/ffmpeg";
}

void TestProgramSearch::find()
{
    QFETCH(QStringList, preferred);
    QFETCH(QString, path);
    QFETCH(QString, expected);

    // Relative entries are looked up from a working folder that holds an ffmpeg.
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_root->path()));
    for (QString &p : preferred)
        p.replace('@', m_root->path());
    const QString found = ProgramSearch::find("ffmpeg", preferred, path.replace('@', m_root->path()), ':');
    QDir::setCurrent(previous);
    QCOMPARE(found, expected.isEmpty() ? QString() : QDir::cleanPath(dir(expected)));
}

void TestProgramSearch::plantedFfmpegInWorkingFolderDoesNotRun()
{
    // A planted "ffmpeg" in the working folder that would leave a trace if it ran.
    QFile planted(dir("cwd/ffmpeg"));
    QVERIFY(planted.open(QIODevice::WriteOnly));
    planted.write(QStringLiteral("#!/bin/sh\ntouch '%1'\nexit 0\n").arg(dir("planted-ran")).toUtf8());
    planted.close();
    QVERIFY(planted.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    qputenv("HOME", QFile::encodeName(dir("home")));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir("cwd")));
    const QByteArray oldPath = qgetenv("PATH");
    // The current directory named three ways, and no real ffmpeg at all.
    qputenv("PATH", ":.:cwd");

    ScreenRecorder r;
    QSignalSpy recording(&r, &ScreenRecorder::isRecordingChanged);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("WORKER ERROR: \"ffmpeg.exe process failed to start.\""));
    r.startRecording("Full");
    QTest::qWait(500);

    qputenv("PATH", oldPath);
    QDir::setCurrent(previous);
    QVERIFY(!QFile::exists(dir("planted-ran")));
    QCOMPARE(recording.count(), 0);
    QVERIFY(!r.isRecording());
}

QTEST_GUILESS_MAIN(TestProgramSearch)
#include "tst_programsearch.moc"
