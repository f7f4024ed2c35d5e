import QtQuick
import QtQuick.Controls
import QtQuick.Window
import io.vantor.recorder 1.0

ApplicationWindow {
    id: root
    width: 640
    height: 360
    visible: true
    title: "Caprello"

    ScreenRecorder {
        id: recorder
    }

    Label {
        anchors.centerIn: parent
        text: recorder.isRecording ? (recorder.isPaused ? "Paused" : "Recording") : "Idle"
    }
}
