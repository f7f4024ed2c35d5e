import QtQuick 6.2
import QtTest 1.2

TestCase {
    id: testCase
    name: "Window"
    when: windowShown

    property var window: null
    property var recorder: null
    property var selector: null
    property var startButton: null
    property var pauseButton: null

    SignalSpy { id: startSpy; signalName: "startWorkerRecording" }

    function init() {
        var component = Qt.createComponent(Qt.resolvedUrl("../../qml/Main.qml"))
        compare(component.status, Component.Ready, component.errorString())
        window = createTemporaryObject(component, testCase)
        tryVerify(function() { return window.visible && window.width > 0 })
        waitForRendering(window.contentItem)
        recorder = findChild(window, "recorder")
        selector = findChild(window, "areaSelector")  // a Loader: the selector is made on first use
        startButton = findChild(window, "startButton")
        pauseButton = findChild(window, "pauseButton")
        startSpy.target = recorder
        startSpy.clear()
    }

    function cleanup() {
        if (recorder.isRecording) {
            recorder.stopRecording()
            tryCompare(recorder, "isRecording", false)
        }
        if (selector.item)
            selector.item.visible = false
    }

    function chooseMode(index) {
        var combo = findChild(findChild(window, "modeSelector"), "combo")
        mouseClick(combo)
        tryVerify(function() { return combo.popup.opened && combo.popup.contentItem.itemAtIndex(index) })
        mouseClick(combo.popup.contentItem.itemAtIndex(index))
        tryVerify(function() { return !combo.popup.visible })
    }

    function drawOnSelector(fromX, fromY, toX, toY) {
        tryVerify(function() { return selector.item && selector.item.visible })
        waitForRendering(selector.item.contentItem)
        var area = findChild(selector.item, "dragArea")
        mousePress(area, fromX, fromY)
        mouseMove(area, toX, toY, -1, Qt.LeftButton)
        mouseRelease(area, toX, toY)
        tryVerify(function() { return !selector.item.visible })
    }

    function test_recordPauseResumeStop() {
        compare(startButton.text, "START")
        verify(!pauseButton.visible && !findChild(window, "clockLabel").visible)
        var gallery = findChild(window, "mediaListView")
        var listed = gallery.count
        mouseClick(startButton)
        tryCompare(startButton, "text", "STOP")
        compare(findChild(window, "clockLabel").text, "Starting...")
        compare(startButton.background.color, Qt.color("#e74c3c"))
        verify(pauseButton.visible)
        mouseClick(pauseButton)
        compare(pauseButton.text, "RESUME")
        compare(findChild(window, "clockLabel").text, "Paused")
        mouseClick(pauseButton)
        compare(pauseButton.text, "PAUSE")
        mouseClick(startButton)
        tryCompare(startButton, "text", "START")
        verify(!pauseButton.visible)
        tryCompare(gallery, "count", listed + 1)
    }

    function test_customAreaRecordsTheDrawnRectangle() {
        chooseMode(1)
        drawOnSelector(301, 201, 100, 100)  // any direction, sizes evened down
        chooseMode(1)                       // choosing it again keeps the rectangle
        verify(!selector.item.visible)
        mouseClick(startButton)
        compare(Array.prototype.slice.call(startSpy.signalArguments[0], 5), ["Custom Area", 100, 100, 200, 100])
    }

    function test_customAreaWithoutRectangleAsksForOne() {
        chooseMode(1)
        drawOnSelector(200, 200, 200, 200)  // a click draws nothing
        mouseClick(startButton)
        compare(startSpy.count, 0)
        verify(selector.item.visible)
    }

    function test_slidersSetTheGains() {
        var slider = findChild(window, "micSlider")
        mousePress(slider, slider.handle.x + slider.handle.width / 2, slider.height / 2)
        mouseMove(slider, slider.width * 0.75, slider.height / 2, -1, Qt.LeftButton)
        mouseRelease(slider, slider.width * 0.75, slider.height / 2)
        verify(recorder.micVolume > 1.2 && recorder.micVolume < 1.8, recorder.micVolume)
        compare(recorder.speakerVolume, 1.0)
    }

    // Logical rectangle (x, y, w, h) at a dpr on a screen (x, y, w, h) to physical pixels.
    function test_physical_data() {
        return [
            { tag: "dpr 1.5: 76.5 rounds up, then evens down", rect: [10, 10, 100, 51], dpr: 1.5,
              screen: [0, 0, 1280, 720], expect: [15, 15, 150, 76] },
            { tag: "dpr 1.25, whole screen", rect: [0, 0, 1536, 864], dpr: 1.25, screen: [0, 0, 1536, 864],
              expect: [0, 0, 1920, 1080] },
            { tag: "fractional screen size", rect: [3, 3, 2000, 2000], dpr: 1.25, screen: [0, 0, 1023.5, 575.5],
              expect: [4, 4, 1274, 714] },
            { tag: "past the left edge keeps the width", rect: [-50, 50, 150, 100], dpr: 1, screen: [0, 0, 1280, 720],
              expect: [0, 50, 150, 100] },
            { tag: "screen right of the origin, cut at its edge", rect: [3000, 600, 400, 300], dpr: 2,
              screen: [1920, 0, 1280, 720], expect: [4080, 1200, 400, 240] },
            { tag: "one physical pixel wide is nothing", rect: [10, 10, 1, 50], dpr: 1, screen: [0, 0, 1280, 720],
              expect: [10, 10, 0, 50] },
        ]
    }

    function test_physical(data) {
        var s = data.screen
        selector.active = true
        var r = selector.item.toPhysical(data.rect[0], data.rect[1], data.rect[2], data.rect[3], data.dpr, s[0], s[1], s[2], s[3])
        compare([r.x, r.y, r.w, r.h], data.expect)
        compare(r.ok, data.expect[2] > 0 && data.expect[3] > 0)
    }
}
