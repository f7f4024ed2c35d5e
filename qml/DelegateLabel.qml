import QtQuick 6.2
import QtQuick.Controls 6.2
import QtQuick.Layouts 6.2

// Cell text in a gallery row; long names end in an ellipsis.
Label {
    color: "#333"
    elide: Text.ElideRight
}
