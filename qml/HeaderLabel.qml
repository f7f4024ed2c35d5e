import QtQuick 6.2
import QtQuick.Controls 6.2
import QtQuick.Layouts 6.2

// Column title in the gallery's header row.
Label {
    font.bold: true
    color: "#555"
}
