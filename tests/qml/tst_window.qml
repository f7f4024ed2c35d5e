import QtQuick 6.2
import QtTest 1.2

TestCase {
    id: testCase
    name: "Window"
    when: windowShown

    property var window: null

    SignalSpy { id: startSpy; signalName: "startWorkerRecording" }

    function item(name) { return findChild(window, name) }

    function init() {
        var component = Qt.createComponent(Qt.resolvedUrl("../../qml/Main.qml"))
        compare(component.status, Component.Ready, component.errorString())
        window = createTemporaryObject(component, testCase)
        tryVerify(function() { return window.visible && window.width > 0 })
        waitForRendering(window.contentItem)
        startSpy.target = item("recorder")
        startSpy.clear()
    }

    function cleanup() {
        item("recorder").stopRecording()
        tryCompare(item("recorder"), "isRecording", false)
    }

    function chooseMode(index) {
        var combo = findChild(item("modeSelector"), "combo")
        mouseClick(combo)
        tryVerify(function() { return combo.popup.opened && combo.popup.contentItem.itemAtIndex(index) })
        mouseClick(combo.popup.contentItem.itemAtIndex(index))
        tryVerify(function() { return !combo.popup.visible })
    }

    function drawOnSelector(fromX, fromY, toX, toY) {
        var selector = item("areaSelector")  // a Loader: the selector is made on first use
        tryVerify(function() { return selector.item && selector.item.visible })
        waitForRendering(selector.item.contentItem)
        var area = findChild(selector.item, "dragArea")
        mousePress(area, fromX, fromY)
        mouseMove(area, toX, toY, -1, Qt.LeftButton)
        mouseRelease(area, toX, toY)
        tryVerify(function() { return !selector.item.visible })
    }

    function test_recordPauseResumeStop() {
        var start = item("startButton"), pause = item("pauseButton"), clock = item("clockLabel")
        tryVerify(function() { return item("mediaListView") })  // the gallery is made after the first frame
        var listed = item("mediaListView").count
        verify(start.text === "START" && !pause.visible && !clock.visible)
        mouseClick(start)
        tryCompare(start, "text", "STOP")
        compare(start.background.color, Qt.color("#e74c3c"))
        verify(pause.visible)
        compare(clock.text, "Starting...")
        mouseClick(pause)
        verify(pause.text === "RESUME" && clock.text === "Paused")
        mouseClick(pause)
        compare(pause.text, "PAUSE")
        mouseClick(start)
        tryCompare(start, "text", "START")
        verify(!pause.visible && !clock.visible)
        tryCompare(item("mediaListView"), "count", listed + 1)
    }

    function test_customAreaRecordsTheDrawnRectangle() {
        chooseMode(1)
        drawOnSelector(200, 200, 200, 200)  // a click draws nothing: START asks again
        mouseClick(item("startButton"))
        compare(startSpy.count, 0)
        drawOnSelector(301, 201, 100, 100)  // any direction, sizes evened down
        chooseMode(1)                       // choosing it again keeps the rectangle
        verify(!item("areaSelector").item.visible)
        mouseClick(item("startButton"))
        compare(Array.prototype.slice.call(startSpy.signalArguments[0], 5), ["Custom Area", 100, 100, 200, 100])
    }

    // Logical rectangle (x, y, w, h) at a dpr on a screen (x, y, w, h) to physical pixels.
    function test_physical_data() {
        return [
            { tag: "dpr 1.5: 76.5 rounds up, then evens down", rect: [10, 10, 100, 51], dpr: 1.5,
              screen: [0, 0, 1280, 720], expect: [15, 15, 150, 76] },
            { tag: "fractional screen size", rect: [3, 3, 2000, 2000], dpr: 1.25, screen: [0, 0, 1023.5, 575.5],
              expect: [4, 4, 1274, 714] },
            { tag: "past the left edge keeps the width", rect: [-50, 50, 150, 100], dpr: 1, screen: [0, 0, 1280, 720],
              expect: [0, 50, 150, 100] },
            { tag: "screen right of the origin, cut at its edge", rect: [3000, 600, 400, 300], dpr: 2,
              screen: [1920, 0, 1280, 720], expect: [4080, 1200, 400, 240] },
        ]
    }

    function test_physical(data) {
        var s = data.screen
        item("areaSelector").active = true
        var r = item("areaSelector").item.toPhysical(data.rect[0], data.rect[1], data.rect[2], data.rect[3], data.dpr,
                                                     s[0], s[1], s[2], s[3])
        compare([r.x, r.y, r.w, r.h, r.ok], data.expect.concat([data.expect[2] > 0 && data.expect[3] > 0]))
    }
}
