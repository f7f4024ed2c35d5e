import QtQuick 6.2
import QtQuick.Controls 6.2

// Same size as the program's window; the label sits in the middle so that the corner
// the start-up probe samples shows the window's own background.
ApplicationWindow {
    width: 960
    height: 640
    visible: true
    title: "Minimal window"
    Label { anchors.centerIn: parent; text: "Minimal window" }
}
