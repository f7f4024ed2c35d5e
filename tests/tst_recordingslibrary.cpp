// The recordings folder on the desktop, its listing, size texts, file names that
// never overwrite, and opening the folder.
#include "recorder/screenrecorder.h"
#include "recorder/storageestimate.h"
#include "testsupport.h"

#include <QDesktopServices>
#include <QStorageInfo>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace TestSupport;

namespace {

void writeFile(const QString &path, qint64 size, const QDateTime &modified)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
    f.resize(size);
    QVERIFY(f.setFileTime(modified, QFileDevice::FileModificationTime));
}

QStringList names(const QVariantList &list)
{
    QStringList result;
    for (const QVariant &v : list)
        result << v.toMap().value("name").toString();
    return result;
}

// Receives what QDesktopServices would have opened.
class UrlCatcher : public QObject
{
    Q_OBJECT
public slots:
    void openUrl(const QUrl &url) { urls << url; }
public:
    QList<QUrl> urls;
};

} // namespace

class TestRecordingsLibrary : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void formatFileSize_data();
    void formatFileSize();
    void missingFolderIsCreated();
    void listing();
    void listingOrder();
    void entryFields();
    void recordingFilePath_data();
    void recordingFilePath();
    void openSaveDirectory();
    void storageTexts_data();
    void storageTexts();
    void informationBarProperties();
    void openSaveDirectoryFallback();

private:
    QString folder() const { return m_home->path() + QStringLiteral("/Desktop/ScreenRecordings"); }
    std::unique_ptr<QTemporaryDir> m_home;
};

void TestRecordingsLibrary::init()
{
    // Blanks, quotes and non-ASCII letters in the home folder, as real ones have.
    m_home = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/Ann O'Neil \"Zoë\" Ünal-XXXXXX"));
    QVERIFY(m_home->isValid());
    qputenv("HOME", QFile::encodeName(m_home->path()));
    qunsetenv("XDG_CONFIG_HOME");
}

void TestRecordingsLibrary::formatFileSize_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("0") << qint64(0) << "0 B";
    QTest::newRow("1023") << qint64(1023) << "1023 B";
    QTest::newRow("1024") << qint64(1024) << "1.0 KB";
    QTest::newRow("1536") << qint64(1536) << "1.5 KB";
    QTest::newRow("1048575") << qint64(1048575) << "1024.0 KB";
    QTest::newRow("1048576") << qint64(1048576) << "1.00 MB";
    QTest::newRow("123456789") << qint64(123456789) << "117.74 MB";
    QTest::newRow("1073741823") << qint64(1073741823) << "1024.00 MB";
    QTest::newRow("1073741824") << qint64(1073741824) << "1.00 GB";
    QTest::newRow("1610612736") << qint64(1610612736) << "1.50 GB";
    QTest::newRow("1099511627776") << qint64(1099511627776) << "1024.00 GB";
}

void TestRecordingsLibrary::formatFileSize()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, text);
    // The decimal mark is a point whatever the user's locale.
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    const QString result = ScreenRecorder::formatFileSize(bytes);
    QLocale::setDefault(QLocale::c());
    QCOMPARE(result, text);
}

void TestRecordingsLibrary::missingFolderIsCreated()
{
    QVERIFY(!QFileInfo::exists(folder()));
    QCOMPARE(ScreenRecorder::saveDirectoryPath(), folder());
    QVERIFY(QFileInfo(folder()).isDir());

    // The constructor's refresh publishes the empty list.
    QVERIFY(QDir(folder()).removeRecursively());
    ScreenRecorder r;
    QVERIFY(QFileInfo(folder()).isDir());
    QVERIFY(r.fileList().isEmpty());
    QSignalSpy changed(&r, &ScreenRecorder::fileListChanged);
    r.refreshFileList();
    QCOMPARE(changed.count(), 1);
}

void TestRecordingsLibrary::listing()
{
    QVERIFY(QDir().mkpath(folder() + "/clips.mp4"));
    const QDateTime t = QDateTime::currentDateTime().addSecs(-100);
    writeFile(folder() + "/CLIP.MP4", 10, t);
    writeFile(folder() + "/song.Mp3", 10, t.addSecs(1));
    writeFile(folder() + "/notes.txt", 10, t.addSecs(2));
    writeFile(folder() + "/.hidden.mp4", 10, t.addSecs(3));
    writeFile(folder() + "/movie.mp4.part", 10, t.addSecs(4));
    writeFile(folder() + "/audio.wav", 10, t.addSecs(5));

    ScreenRecorder r;
    QCOMPARE(names(r.fileList()), (QStringList{"song.Mp3", "CLIP.MP4"}));
}

void TestRecordingsLibrary::listingOrder()
{
    QVERIFY(QDir().mkpath(folder()));
    const QDateTime t = QDateTime::currentDateTime().addSecs(-1000);
    // Created first but modified last: it comes first.
    writeFile(folder() + "/rec_2024-01-01_10-00-00.mp4", 100, t.addSecs(500));
    writeFile(folder() + "/rec_2024-01-02_10-00-00.mp4", 100, t.addSecs(100));
    // Same modification time: by name, upper-case letters first.
    writeFile(folder() + "/b.mp3", 100, t.addSecs(300));
    writeFile(folder() + "/B.mp3", 100, t.addSecs(300));
    writeFile(folder() + "/a.mp4", 100, t.addSecs(300));

    ScreenRecorder r;
    QCOMPARE(names(r.fileList()), (QStringList{"rec_2024-01-01_10-00-00.mp4", "B.mp3", "a.mp4", "b.mp3",
                                               "rec_2024-01-02_10-00-00.mp4"}));

    // A refresh replaces the list: a deleted file is gone, a new one listed first.
    QVERIFY(QFile::remove(folder() + "/a.mp4"));
    writeFile(folder() + "/new.mp4", 100, t.addSecs(900));
    QSignalSpy changed(&r, &ScreenRecorder::fileListChanged);
    r.refreshFileList();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(names(r.fileList()), (QStringList{"new.mp4", "rec_2024-01-01_10-00-00.mp4", "B.mp3", "b.mp3",
                                               "rec_2024-01-02_10-00-00.mp4"}));
}

void TestRecordingsLibrary::entryFields()
{
    const QString path = folder() + "/rec_2025-11-01_19-25-01.mp4";
    QVERIFY(QDir().mkpath(folder()));
    writeFile(path, 123456789, QDateTime::currentDateTime());

    ScreenRecorder r;
    QCOMPARE(r.fileList().size(), 1);
    const QVariantMap entry = r.fileList().first().toMap();
    QCOMPARE(entry.keys(), (QStringList{"createTime", "duration", "name", "size"}));
    QCOMPARE(entry.value("name"), QVariant(QStringLiteral("rec_2025-11-01_19-25-01.mp4")));
    QCOMPARE(entry.value("size"), QVariant(QStringLiteral("117.74 MB")));
    QCOMPARE(entry.value("duration"), QVariant(QStringLiteral("Recorded")));
    // A file system without birth times gives an empty text; one with them, a local time.
    const QDateTime birth = QFileInfo(path).fileTime(QFileDevice::FileBirthTime);
    const QString createTime = entry.value("createTime").toString();
    if (birth.isValid()) {
        QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d-\\d\\d-\\d\\d$").match(createTime).hasMatch());
        QVERIFY(qAbs(QDateTime::fromString(createTime, "yyyy-MM-dd HH-mm-ss").secsTo(QDateTime::currentDateTime())) < 60);
    } else {
        QCOMPARE(createTime, QString());
    }
}

void TestRecordingsLibrary::recordingFilePath_data()
{
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("expected");

    QTest::newRow("free") << QStringList{} << ".mp4" << "rec_2024-01-31_14-05-09.mp4";
    QTest::newRow("mp3") << QStringList{} << ".mp3" << "rec_2024-01-31_14-05-09.mp3";
    QTest::newRow("other extension does not collide")
            << QStringList{"rec_2024-01-31_14-05-09.mp3"} << ".mp4" << "rec_2024-01-31_14-05-09.mp4";
    QTest::newRow("taken") << QStringList{"rec_2024-01-31_14-05-09.mp4"} << ".mp4"
                           << "rec_2024-01-31_14-05-09_2.mp4";
    QTest::newRow("taken twice") << QStringList{"rec_2024-01-31_14-05-09.mp4", "rec_2024-01-31_14-05-09_2.mp4"}
                                 << ".mp4" << "rec_2024-01-31_14-05-09_3.mp4";
    QTest::newRow("a gap is reused") << QStringList{"rec_2024-01-31_14-05-09.mp3", "rec_2024-01-31_14-05-09_3.mp3"}
                                     << ".mp3" << "rec_2024-01-31_14-05-09_2.mp3";
    QTest::newRow("a folder of that name counts") << QStringList{"rec_2024-01-31_14-05-09.mp4/"} << ".mp4"
                                                  << "rec_2024-01-31_14-05-09_2.mp4";
}

void TestRecordingsLibrary::recordingFilePath()
{
    QFETCH(QStringList, existing);
    QFETCH(QString, extension);
    QFETCH(QString, expected);

    const QString dir = ScreenRecorder::saveDirectoryPath();
    for (const QString &name : existing) {
        if (name.endsWith('/'))
            QVERIFY(QDir(dir).mkdir(name));
        else
            writeFile(dir + "/" + name, 1, QDateTime::currentDateTime());
    }
    // 14:05:09 on 31 January 2024, local time, 24-hour clock.
    const QDateTime start(QDate(2024, 1, 31), QTime(14, 5, 9));
    QCOMPARE(ScreenRecorder::recordingFilePath(dir, start, extension), dir + "/" + expected);
}

void TestRecordingsLibrary::openSaveDirectory()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "openUrl");
    ScreenRecorder r;
    QVERIFY(QDir(folder()).removeRecursively());
    QTest::ignoreMessage(QtDebugMsg, qPrintable("Attempting to open folder: \"" + folder().replace('"', "\\\"") + "\""));
    QTest::failOnWarning(QRegularExpression("."));
    r.openSaveDirectory();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));

    // A deleted folder is made again (empty) and then opened.
    QVERIFY(QFileInfo(folder()).isDir());
    QCOMPARE(catcher.urls, QList<QUrl>{QUrl::fromLocalFile(folder())});
}

void TestRecordingsLibrary::openSaveDirectoryFallback()
{
    // No desktop service can open anything, so the file manager is started by hand.
    QTemporaryDir work;
    qputenv("FAKE_FILEMANAGER_ARGS", QFile::encodeName(work.filePath("args")));
    qputenv("FAKE_FILEMANAGER_EXIT", "1");
    setPath(QStringLiteral(FAKE_FILEMANAGER_DIR));
    ScreenRecorder r;
    QTest::ignoreMessage(QtWarningMsg, "Failed to open folder! Trying fallback method...");
    r.openSaveDirectory();
    QTRY_COMPARE(readLines(work.filePath("args")), QStringList{QDir::toNativeSeparators(folder())});
}

void TestRecordingsLibrary::storageTexts_data()
{
    QTest::addColumn<qint64>("freeBytes");
    QTest::addColumn<QString>("space");
    QTest::addColumn<QString>("predict");

    // Whole GiB, and whole hours at 500,000 bytes a second (1.8 GB an hour).
    QTest::newRow("unknown") << qint64(-1) << "?" << "?";
    QTest::newRow("full disk") << qint64(0) << "0GB" << "0Hour";
    QTest::newRow("just under 1 GiB") << qint64(1073741823) << "0GB" << "0Hour";
    QTest::newRow("1 GiB") << qint64(1073741824) << "1GB" << "0Hour";
    QTest::newRow("just under an hour") << qint64(1799999999) << "1GB" << "0Hour";
    QTest::newRow("one hour") << qint64(1800000000) << "1GB" << "1Hour";
    QTest::newRow("66 GiB") << qint64(66) * 1073741824 << "66GB" << "39Hour";
    QTest::newRow("4 TiB") << (qint64(4) << 40) << "4096GB" << "2443Hour";
}

void TestRecordingsLibrary::storageTexts()
{
    QFETCH(qint64, freeBytes);
    QFETCH(QString, space);
    QFETCH(QString, predict);
    QCOMPARE(StorageEstimate::spaceText(freeBytes), space);
    QCOMPARE(StorageEstimate::predictText(freeBytes), predict);
}

void TestRecordingsLibrary::informationBarProperties()
{
    ScreenRecorder r;
    QCOMPARE(r.saveFolder(), QDir::toNativeSeparators(folder()));
    const qint64 freeBytes = QStorageInfo(folder()).bytesAvailable();
    QVERIFY(freeBytes >= 0);
    // Allow for other programs writing meanwhile: a few GB either way.
    const qint64 shownGB = r.spaceText().chopped(2).toLongLong();
    QVERIFY2(qAbs(shownGB - freeBytes / 1073741824) <= 2, qPrintable(r.spaceText()));
    QVERIFY(r.predictText().endsWith("Hour"));
}

QTEST_MAIN(TestRecordingsLibrary)
#include "tst_recordingslibrary.moc"
