// Runs the Qt Quick tests in tests/qml against the window's documents in qml/,
// with the controller registered as the program registers it, a fake ffmpeg
// first on PATH and a home folder of their own.
#include "recorder/screenrecorder.h"
#include "testsupport.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QtQuickTest>

// What the QML tests need from outside QML: files and the fake programs' traces.
class Support : public QObject
{
    Q_OBJECT
public:
    explicit Support(const QString &home, QObject *parent = nullptr)
        : QObject(parent), m_home(home)
    {
    }

    Q_INVOKABLE QString recordingsFolder() const { return ScreenRecorder::saveDirectoryPath(); }
    Q_INVOKABLE QString nativeRecordingsFolder() const { return QDir::toNativeSeparators(recordingsFolder()); }

    // A recording file of `bytes` bytes, modified `ageSeconds` ago.
    Q_INVOKABLE bool createRecording(const QString &name, int bytes, int ageSeconds)
    {
        QFile f(recordingsFolder() + QLatin1Char('/') + name);
        if (!f.open(QIODevice::WriteOnly))
            return false;
        f.write(QByteArray(bytes, 'x'));
        f.flush();  // or closing it would touch the time again
        return f.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds), QFileDevice::FileModificationTime);
    }
    Q_INVOKABLE bool clearRecordings() { return QDir(recordingsFolder()).removeRecursively(); }
    Q_INVOKABLE QStringList fileManagerArguments() const { return TestSupport::readLines(trace("filemanager")); }
    Q_INVOKABLE void clearTraces() { QFile::remove(trace("filemanager")); }

    QString trace(const QString &name) const { return m_home + QStringLiteral("/trace-") + name; }

private:
    QString m_home;
};

class Setup : public QObject
{
    Q_OBJECT
public slots:
    void applicationAvailable()
    {
        QQuickStyle::setStyle(QStringLiteral("Fusion"));
        QVERIFY(m_home.isValid());
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qunsetenv("XDG_CONFIG_HOME");
        // ffmpeg and the file manager are stand-ins; Qt's desktop service cannot open
        // folders on the offscreen platform, so "Open" reaches the file manager.
        qputenv("PATH", QByteArray(FAKE_FFMPEG_DIR ":" FAKE_FILEMANAGER_DIR ":") + qgetenv("PATH"));
        qputenv("FAKE_FFMPEG_BEHAVIOUR", "quit-on-q");
        qputenv("FAKE_FILEMANAGER_EXIT", "0");
        m_support = new Support(m_home.path(), this);
        qputenv("FAKE_FILEMANAGER_ARGS", QFile::encodeName(m_support->trace("filemanager")));
    }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        qmlRegisterType<ScreenRecorder>("io.vantor.recorder", 1, 0, "ScreenRecorder");
        engine->rootContext()->setContextProperty(QStringLiteral("support"), m_support);
    }

private:
    QTemporaryDir m_home;
    Support *m_support = nullptr;
};

QUICK_TEST_MAIN_WITH_SETUP(caprello_qml, Setup)
#include "tst_qml.moc"
