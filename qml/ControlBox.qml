import QtQuick 6.2
import QtQuick.Controls 6.2
import QtQuick.Layouts 6.2

// A rounded panel: a large symbol above a drop-down list of options.
Rectangle {
    id: root

    property string title: ""
    property string icon: ""
    property var optionsModel: [title]
    readonly property alias currentSelection: combo.currentText

    radius: 8
    color: "#f8f9fa"
    border.color: "#eeeeee"
    border.width: 1
    Layout.fillWidth: true
    Layout.fillHeight: true

    Column {
        anchors.centerIn: parent
        spacing: 8

        Label {
            anchors.horizontalCenter: parent.horizontalCenter
            text: root.icon
            font.pixelSize: 40
        }

        ComboBox {
            id: combo
            objectName: "combo"
            anchors.horizontalCenter: parent.horizontalCenter
            editable: false
            model: root.optionsModel
        }
    }
}
