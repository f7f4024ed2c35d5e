import QtQuick 6.2
import QtQuick.Controls 6.2
import QtQuick.Layouts 6.2
import QtQuick.Window 2.15

// Full-screen, darkened window in which the user drags the rectangle to record.
// Reports it in physical pixels, global desktop coordinates, with even sizes.
Window {
    id: selectorWindow

    property int startX: 0
    property int startY: 0
    property int currentX: 0
    property int currentY: 0

    signal selectionConfirmed(int x, int y, int w, int h)
    signal cancelled()

    // Logical rectangle (global top-left rx, ry; size rw x rh) to physical pixels.
    // Qt keeps a screen's top-left corner where the system puts it and scales only
    // from there, so a point on a screen at (sx, sy) of logical size sw x sh lies at
    // sx + (gx - sx) * dpr physically. The result stays inside that screen's area
    // (which the screen grabber captures), with whole, even sizes also when
    // sw * dpr is fractional. `ok` is false when nothing positive is left.
    function toPhysical(rx, ry, rw, rh, dpr, sx, sy, sw, sh) {
        // Math.round rounds halves up, as wanted.
        var x = sx + Math.round((rx - sx) * dpr)
        var y = sy + Math.round((ry - sy) * dpr)
        var w = Math.round(rw * dpr)
        var h = Math.round(rh * dpr)
        // The tiny epsilon keeps 1920 * 1.25 from flooring to 2399 on a float error.
        var right = sx + Math.floor(sw * dpr + 1e-9)
        var bottom = sy + Math.floor(sh * dpr + 1e-9)
        if (x < sx)
            x = sx
        if (y < sy)
            y = sy
        if (x + w > right)
            w = right - x
        if (y + h > bottom)
            h = bottom - y
        if (w > 0 && w % 2 !== 0)
            w -= 1
        if (h > 0 && h % 2 !== 0)
            h -= 1
        return { "x": x, "y": y, "w": w, "h": h, "ok": w > 0 && h > 0 }
    }

    x: Screen.virtualX
    y: Screen.virtualY
    width: Screen.width
    height: Screen.height
    visible: false
    flags: Qt.FramelessWindowHint | Qt.WindowStaysOnTopHint
    color: "#80000000"

    Rectangle {
        id: selectionRect
        objectName: "selectionRect"
        x: Math.min(selectorWindow.startX, selectorWindow.currentX)
        y: Math.min(selectorWindow.startY, selectorWindow.currentY)
        width: Math.abs(selectorWindow.currentX - selectorWindow.startX)
        height: Math.abs(selectorWindow.currentY - selectorWindow.startY)
        color: "transparent"
        border.color: "#ff6633"
        border.width: 2
        visible: false
    }

    MouseArea {
        id: dragArea
        objectName: "dragArea"
        anchors.fill: parent
        cursorShape: Qt.CrossCursor
        acceptedButtons: Qt.LeftButton

        onPressed: (mouse) => {
            selectorWindow.startX = mouse.x
            selectorWindow.currentX = mouse.x
            selectorWindow.startY = mouse.y
            selectorWindow.currentY = mouse.y
            selectionRect.visible = true
        }
        onPositionChanged: (mouse) => {
            selectorWindow.currentX = mouse.x
            selectorWindow.currentY = mouse.y
        }
        onReleased: {
            var topLeft = selectionRect.mapToGlobal(0, 0)
            var r = selectorWindow.toPhysical(topLeft.x, topLeft.y, selectionRect.width, selectionRect.height,
                                              Screen.devicePixelRatio, Screen.virtualX, Screen.virtualY,
                                              Screen.width, Screen.height)
            if (r.ok) {
                console.log("Selection Confirmed (Global): " + r.x + "," + r.y + " " + r.w + "x" + r.h)
                selectorWindow.selectionConfirmed(r.x, r.y, r.w, r.h)
            } else {
                console.log("Selection too small, ignored.")
            }
            selectorWindow.close()
        }
    }

    Shortcut {
        sequence: "Escape"
        context: Qt.WindowShortcut
        onActivated: {
            selectorWindow.close()
            selectorWindow.cancelled()
        }
    }
}
