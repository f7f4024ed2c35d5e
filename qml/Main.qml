import QtQuick 6.2
import QtQuick.Controls 6.2
import QtQuick.Layouts 6.2
import io.vantor.recorder 1.0

ApplicationWindow {
    id: window

    // The last rectangle the area selector confirmed, in physical pixels;
    // present only while cropW and cropH are both positive.
    property int cropX: 0
    property int cropY: 0
    property int cropW: 0
    property int cropH: 0

    width: 960
    height: 640
    minimumWidth: 800
    minimumHeight: 600
    visible: true
    title: "Caprello"
    color: "#f8f9fa"
    flags: Qt.Window | Qt.FramelessWindowHint

    ScreenRecorder {
        id: recorder
        objectName: "recorder"
    }

    // The selector window is made when it is first needed: the window shows sooner.
    Loader {
        id: areaSelector
        objectName: "areaSelector"
        active: false
        sourceComponent: AreaSelector {
            onSelectionConfirmed: (x, y, w, h) => {
                window.cropX = x
                window.cropY = y
                window.cropW = w
                window.cropH = h
                console.log("Area Selected: " + w + "x" + h)
            }
        }

        function show() {
            active = true
            // A Wayland compositor places windows itself: only full screen covers the screen.
            if (Qt.platform.pluginName === "wayland")
                item.showFullScreen()
            else
                item.visible = true
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 5

        // Title bar of our own: the window has no system frame.
        Rectangle {
            id: titleBar
            objectName: "titleBar"
            Layout.fillWidth: true
            Layout.preferredHeight: 48
            color: "#ffffff"

            MouseArea {
                id: dragArea
                property point pressPosition
                anchors.fill: parent
                // On Wayland only the compositor may move a window: it is asked to.
                readonly property bool systemMove: Qt.platform.pluginName === "wayland"
                onPressed: (mouse) => {
                    pressPosition = Qt.point(mouse.x, mouse.y)
                    if (systemMove)
                        window.startSystemMove()
                }
                // The pressed point is kept: moving the window brings the pointer back to it.
                onPositionChanged: (mouse) => {
                    if (systemMove)
                        return
                    window.setX(window.x + mouse.x - pressPosition.x)
                    window.setY(window.y + mouse.y - pressPosition.y)
                }
            }

            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: 16
                anchors.rightMargin: 8

                Label {
                    text: "Caprello"
                    font.pixelSize: 16
                    font.bold: true
                    color: "#333"
                }
                Item { Layout.fillWidth: true }
                RoundButton {
                    objectName: "minimiseButton"
                    text: "\u2014"
                    font.bold: true
                    Layout.preferredWidth: 32
                    Layout.preferredHeight: 32
                    onClicked: window.showMinimized()
                }
                RoundButton {
                    objectName: "maximiseButton"
                    text: "\u25A1"
                    font.bold: true
                    Layout.preferredWidth: 32
                    Layout.preferredHeight: 32
                    onClicked: window.visibility === Window.Maximized ? window.showNormal() : window.showMaximized()
                }
                RoundButton {
                    id: closeButton
                    objectName: "closeButton"
                    text: "\u2715"
                    font.bold: true
                    Layout.preferredWidth: 32
                    Layout.preferredHeight: 32
                    background: Rectangle {
                        radius: closeButton.radius
                        color: closeButton.hovered ? "#e74c3c" : "transparent"
                    }
                    contentItem: Text {
                        text: closeButton.text
                        font: closeButton.font
                        color: closeButton.hovered ? "#fff" : "#333"
                        horizontalAlignment: Text.AlignHCenter
                        verticalAlignment: Text.AlignVCenter
                    }
                    onClicked: window.close()
                }
            }
        }

        // Controls: capture mode, gains, START/STOP and PAUSE/RESUME.
        Rectangle {
            Layout.fillWidth: true
            Layout.preferredHeight: 200
            color: "#ffffff"
            border.color: "#eeeeee"
            border.width: 1

            RowLayout {
                anchors.fill: parent
                anchors.margins: 20
                spacing: 20

                ColumnLayout {
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    spacing: 15

                    RowLayout {
                        spacing: 20
                        Layout.fillWidth: true
                        Layout.fillHeight: true

                        ControlBox {
                            id: modeSelector
                            objectName: "modeSelector"
                            title: "Full"
                            icon: "\u26F6"
                            optionsModel: ["Full", "Custom Area", "MP3 only"]
                            onCurrentSelectionChanged: {
                                if (currentSelection === "Custom Area") {
                                    window.cropW = 0
                                    areaSelector.show()
                                }
                            }
                        }
                        ControlBox {
                            title: "Speaker"
                            icon: "\uD83D\uDD0A"
                        }
                        ControlBox {
                            title: "Microphone"
                            icon: "\uD83C\uDFA4"
                        }
                    }

                    GridLayout {
                        columns: 4
                        columnSpacing: 10
                        Layout.fillWidth: true

                        Label {
                            text: "\uD83D\uDD0A"
                            font.pixelSize: 20
                        }
                        Slider {
                            id: speakerSlider
                            objectName: "speakerSlider"
                            Layout.fillWidth: true
                            from: 0.0
                            to: 2.0
                            stepSize: 0
                            orientation: Qt.Horizontal
                            value: recorder.speakerVolume
                            onValueChanged: recorder.speakerVolume = value
                        }
                        Label {
                            text: "\uD83C\uDFA4"
                            font.pixelSize: 20
                        }
                        Slider {
                            id: micSlider
                            objectName: "micSlider"
                            Layout.fillWidth: true
                            from: 0.0
                            to: 2.0
                            stepSize: 0
                            orientation: Qt.Horizontal
                            value: recorder.micVolume
                            onValueChanged: recorder.micVolume = value
                        }
                    }
                }

                // How long the file is so far, beside STOP / PAUSE.
                Label {
                    objectName: "clockLabel"
                    text: recorder.clockText
                    visible: text !== ""
                    font.pixelSize: 22
                    font.bold: true
                    color: recorder.isPaused ? "#7f8c8d" : "#e74c3c"
                    Layout.alignment: Qt.AlignVCenter
                }

                Item {
                    Layout.preferredWidth: 160
                    Layout.fillHeight: true

                    ColumnLayout {
                        anchors.centerIn: parent
                        spacing: 15

                        Button {
                            id: startButton
                            objectName: "startButton"
                            property bool isRecording: recorder.isRecording
                            text: isRecording ? "STOP" : "START"
                            font.pixelSize: 24
                            font.bold: true
                            Layout.alignment: Qt.AlignHCenter
                            Layout.preferredWidth: 100
                            Layout.preferredHeight: 100
                            background: Rectangle {
                                color: startButton.isRecording ? "#e74c3c" : "#3498db"
                                border.color: startButton.isRecording ? "#c0392b" : "#2980b9"
                                border.width: 2
                                radius: 12
                            }
                            contentItem: Text {
                                text: startButton.text
                                font: startButton.font
                                color: "#ffffff"
                                horizontalAlignment: Text.AlignHCenter
                                verticalAlignment: Text.AlignVCenter
                            }
                            onClicked: {
                                if (isRecording) {
                                    recorder.stopRecording()
                                } else if (modeSelector.currentSelection === "Custom Area") {
                                    if (window.cropW > 0 && window.cropH > 0)
                                        recorder.startRecording("Custom Area", window.cropX, window.cropY,
                                                                window.cropW, window.cropH)
                                    else
                                        areaSelector.show()
                                } else {
                                    recorder.startRecording(modeSelector.currentSelection)
                                }
                            }
                        }

                        Button {
                            id: pauseButton
                            objectName: "pauseButton"
                            text: recorder.isPaused ? "RESUME" : "PAUSE"
                            visible: recorder.isRecording
                            font.pixelSize: 20
                            font.bold: true
                            Layout.alignment: Qt.AlignHCenter
                            Layout.preferredWidth: 100
                            Layout.preferredHeight: 40
                            background: Rectangle {
                                color: "#3498db"
                                border.color: "#ccc"
                                border.width: 1
                                radius: 6
                            }
                            contentItem: Text {
                                text: pauseButton.text
                                font: pauseButton.font
                                color: "#ffffff"
                                horizontalAlignment: Text.AlignHCenter
                                verticalAlignment: Text.AlignVCenter
                            }
                            onClicked: recorder.isPaused ? recorder.resumeRecording() : recorder.pauseRecording()
                        }
                    }
                }
            }
        }

        // Where recordings go and how much fits there.
        Rectangle {
            Layout.fillWidth: true
            Layout.preferredHeight: 40
            color: "transparent"

            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: 20
                anchors.rightMargin: 20

                Label {
                    objectName: "folderLabel"
                    text: "Folder: " + recorder.saveFolder
                    elide: Text.ElideMiddle
                    Layout.maximumWidth: window.width / 2
                }
                Item { Layout.fillWidth: true }
                Label {
                    objectName: "spaceLabel"
                    text: "Space: " + recorder.spaceText
                }
                Item { Layout.fillWidth: true }
                Label {
                    objectName: "predictLabel"
                    text: "Predict: " + recorder.predictText
                }
            }
        }

        // The last thing that went wrong or that the user must know, until the next start.
        Label {
            objectName: "statusLabel"
            text: recorder.statusText
            visible: text !== ""
            color: "#c0392b"
            elide: Text.ElideRight
            Layout.fillWidth: true
            Layout.leftMargin: 20
            Layout.rightMargin: 20
        }

        TabBar {
            id: tabBar
            Layout.fillWidth: true
            background: Item {}

            TabButton { text: "Gallery" }
            TabButton { text: "Setting" }
        }

        StackLayout {
            id: contentStack
            Layout.fillWidth: true
            Layout.fillHeight: true
            currentIndex: tabBar.currentIndex

            // Made after the window's first frame: the window shows sooner.
            Loader {
                id: mediaTab
                asynchronous: true

                sourceComponent: ListView {
                    id: mediaListView
                    objectName: "mediaListView"
                    anchors.fill: parent
                    anchors.margins: 20
                    clip: true
                    model: recorder.fileList
                    // Rows scrolled out are kept and refilled instead of being made anew:
                    // scrolling through thousands of recordings costs the GUI thread
                    // about a tenth of the time.
                    reuseItems: true

                    header: Rectangle {
                        width: mediaListView.width
                        height: 40
                        color: "#f0f0f0"

                        RowLayout {
                            anchors.fill: parent
                            anchors.leftMargin: 10

                            CheckBox { id: selectAllCheck }
                            HeaderLabel { text: "Name"; Layout.preferredWidth: 200 }
                            HeaderLabel { text: "Duration"; Layout.preferredWidth: 120 }
                            HeaderLabel { text: "Size"; Layout.preferredWidth: 100 }
                            HeaderLabel { text: "Create Time"; Layout.preferredWidth: 180 }
                            Item { Layout.fillWidth: true }
                            HeaderLabel { text: "Action"; Layout.preferredWidth: 80 }
                        }
                    }

                    delegate: Rectangle {
                        required property int index
                        required property var modelData
                        width: mediaListView.width
                        height: 50
                        color: index % 2 === 0 ? "#ffffff" : "#fdfdfd"
                        border.color: "#eee"
                        border.width: 1

                        // A reused row starts unticked, as a newly made one would.
                        ListView.onReused: rowCheck.checked = false

                        RowLayout {
                            anchors.left: parent.left
                            anchors.right: parent.right
                            anchors.verticalCenter: parent.verticalCenter
                            anchors.leftMargin: 10

                            CheckBox { id: rowCheck; objectName: "rowCheck" }
                            DelegateLabel { text: modelData.name; Layout.preferredWidth: 200 }
                            DelegateLabel { text: modelData.duration; Layout.preferredWidth: 120 }
                            DelegateLabel { text: modelData.size; Layout.preferredWidth: 100 }
                            DelegateLabel { text: modelData.createTime; Layout.preferredWidth: 180 }
                            Item { Layout.fillWidth: true }
                            Button {
                                objectName: "openButton"
                                text: "Open"
                                onClicked: recorder.openSaveDirectory()
                            }
                        }
                    }
                }
            }

            Item {
                Label {
                    anchors.centerIn: parent
                    text: "Settings View"
                    font.pixelSize: 24
                }
            }
        }
    }
}
