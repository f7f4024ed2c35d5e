import QtQuick 6.2
import QtQuick.Controls 6.2
import io.vantor.recorder 1.0

// A bundle without app_icon.ico: start-up logs once and runs on.
ApplicationWindow {
    width: 320
    height: 200
    visible: true
    title: "Caprello without icon"

    ScreenRecorder { id: recorder }
    Label { anchors.centerIn: parent; text: recorder.isRecording ? "recording" : "idle" }
}
