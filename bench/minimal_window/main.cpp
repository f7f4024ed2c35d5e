// The reference window for start-up time and memory: what any Qt Quick Controls program
// pays before it shows a window, set up as the program sets itself up (Fusion style chosen
// before the application, the document loaded from resources).
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickStyle>

int main(int argc, char **argv)
{
    QQuickStyle::setStyle("Fusion");
    QGuiApplication app(argc, argv);
    QQmlApplicationEngine engine(QUrl("qrc:/Main.qml"));
    return app.exec();
}
