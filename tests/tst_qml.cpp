// Runs the Qt Quick tests in tests/qml against the window's documents, with the
// controller registered as the program registers it, the fake ffmpeg first on
// PATH and a home folder of their own.
#include "recorder/screenrecorder.h"
#include "support.h"

#include <QQmlEngine>
#include <QQuickStyle>
#include <QtQuickTest>

class Setup : public QObject
{
    Q_OBJECT
public slots:
    void applicationAvailable()
    {
        QQuickStyle::setStyle(QStringLiteral("Fusion"));
        qputenv("HOME", QFile::encodeName(m_home.path()));
        Support::putFirstOnPath(FAKE_FFMPEG_DIR);
        qmlRegisterType<ScreenRecorder>("io.vantor.recorder", 1, 0, "ScreenRecorder");
    }

private:
    QTemporaryDir m_home;
};

QUICK_TEST_MAIN_WITH_SETUP(caprello_qml, Setup)
#include "tst_qml.moc"
