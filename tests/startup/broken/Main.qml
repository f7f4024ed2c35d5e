import QtQuick 6.2
import QtQuick.Controls 6.2

// Deliberately broken: start-up must end with -1 and leave no window.
ApplicationWindow {
    visible: true
    title: "Broken"
    Label { text: "never shown"
}
