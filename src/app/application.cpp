#include "application.h"

#include "platform/platform.h"
#include "recorder/screenrecorder.h"

#include <QCoreApplication>
#include <QDebug>
#include <QGuiApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QUrl>

int runApplication(int argc, char **argv)
{
    Platform::prepareApplication();
    QQuickStyle::setStyle(QStringLiteral("Fusion"));
    QGuiApplication app(argc, argv);

    QIcon icon(QStringLiteral(":/app_icon.ico"));
    // A QIcon made from a file name is never null, even when the file is missing;
    // an icon without a single image is the one that failed to load.
    if (icon.isNull() || icon.availableSizes().isEmpty())
        qDebug() << "Icon failed to load! Check your resource path.";
    QGuiApplication::setWindowIcon(icon);

    qmlRegisterType<ScreenRecorder>("io.vantor.recorder", 1, 0, "ScreenRecorder");

    QQmlApplicationEngine engine;
    const QUrl url(QStringLiteral("qrc:/Main.qml"));
    // Queued: the check runs once the event loop turns, so a failed load ends exec() with -1.
    QObject::connect(
            &engine, &QQmlApplicationEngine::objectCreated, &app,
            [url](QObject *object, const QUrl &objectUrl) {
                if (!object && url == objectUrl)
                    QCoreApplication::exit(-1);
            },
            Qt::QueuedConnection);
    engine.addImportPath(QCoreApplication::applicationDirPath() + QStringLiteral("/qml"));
    engine.load(url);

    return app.exec();
}
