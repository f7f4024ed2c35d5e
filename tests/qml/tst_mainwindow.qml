import QtQuick 6.2
import QtQuick.Controls 6.2
import QtQuick.Window 2.15
import QtTest 1.2

TestCase {
    id: testCase
    name: "MainWindow"
    when: windowShown

    property var window: null
    property var recorder: null
    property var selector: null
    property var startButton: null
    property var pauseButton: null

    SignalSpy { id: startSpy; signalName: "startWorkerRecording" }
    SignalSpy { id: stopSpy; signalName: "stopWorkerRecording" }

    function openWindow() {
        var component = Qt.createComponent(Qt.resolvedUrl("../../qml/Main.qml"))
        compare(component.status, Component.Ready, component.errorString())
        window = createTemporaryObject(component, testCase)
        verify(window)
        tryVerify(function() { return window.visible && window.width > 0 })
        waitForRendering(window.contentItem)
        recorder = findChild(window, "recorder")
        selector = findChild(window, "areaSelector")
        startButton = findChild(window, "startButton")
        pauseButton = findChild(window, "pauseButton")
        verify(recorder && selector && startButton && pauseButton)
        startSpy.target = recorder
        stopSpy.target = recorder
        startSpy.clear()
        stopSpy.clear()
    }

    function init() {
        support.clearRecordings()
        support.clearTraces()
        openWindow()
    }

    function cleanup() {
        if (recorder && recorder.isRecording) {
            recorder.stopRecording()
            tryCompare(recorder, "isRecording", false)
        }
        selector.visible = false
    }

    function chooseMode(index) {
        var combo = findChild(findChild(window, "modeSelector"), "combo")
        mouseClick(combo)
        tryVerify(function() { return combo.popup.opened })
        var list = combo.popup.contentItem
        tryVerify(function() { return list.itemAtIndex(index) !== null })
        mouseClick(list.itemAtIndex(index))
        tryVerify(function() { return !combo.popup.visible })
    }

    function dragOnSelector(fromX, fromY, toX, toY) {
        tryVerify(function() { return selector.visible })
        waitForRendering(selector.contentItem)
        var area = findChild(selector, "dragArea")
        mousePress(area, fromX, fromY)
        mouseMove(area, toX, toY, -1, Qt.LeftButton)
        mouseRelease(area, toX, toY)
        tryVerify(function() { return !selector.visible })
    }

    function escapeSelector() {
        tryVerify(function() { return selector.visible })
        // A window shown a moment ago may not take activation yet: ask until it does.
        tryVerify(function() { selector.requestActivate(); return selector.active })
        // The activation reaches the shortcut a little later; until then a key is lost.
        tryVerify(function() { keyClick(Qt.Key_Escape); return !selector.visible }, 5000, "Escape hides the selector")
    }

    function test_idleWindow() {
        compare(window.title, "Caprello")
        compare(window.minimumWidth, 800)
        compare(window.minimumHeight, 600)
        verify(window.flags & Qt.FramelessWindowHint)
        compare(startButton.text, "START")
        compare(startButton.background.color, Qt.color("#3498db"))
        verify(!pauseButton.visible)
        // The real folder and volume, not invented values.
        compare(findChild(window, "folderLabel").text, "Folder: " + support.nativeRecordingsFolder())
        verify(/^Space: \d+GB$/.test(findChild(window, "spaceLabel").text), findChild(window, "spaceLabel").text)
        verify(/^Predict: \d+Hour$/.test(findChild(window, "predictLabel").text))
    }

    function test_titleBarMovesTheWindow() {
        var bar = findChild(window, "titleBar")
        var x0 = window.x
        var y0 = window.y
        mousePress(bar, 400, 20)
        mouseMove(bar, 430, 30, -1, Qt.LeftButton)
        tryCompare(window, "x", x0 + 30)
        compare(window.y, y0 + 10)
        mouseRelease(bar, 430, 30)
    }

    function test_maximiseToggles() {
        var button = findChild(window, "maximiseButton")
        mouseClick(button)
        tryCompare(window, "visibility", Window.Maximized)
        mouseClick(findChild(window, "maximiseButton"))
        tryVerify(function() { return window.visibility !== Window.Maximized })
    }

    function test_closeButtonClosesTheWindow() {
        mouseClick(findChild(window, "closeButton"))
        tryCompare(window, "visible", false)
    }

    function test_emptyGalleryShowsHeaderAlone() {
        var list = findChild(window, "mediaListView")
        compare(list.count, 0)
        verify(list.headerItem !== null)
        compare(list.headerItem.height, 40)
    }

    function test_recordPauseResumeStop() {
        mouseClick(startButton)
        compare(startSpy.count, 1)
        compare(startSpy.signalArguments[0][5], "Full")
        compare(Array.prototype.slice.call(startSpy.signalArguments[0], 6), [0, 0, 0, 0])
        tryCompare(startButton, "text", "STOP")
        compare(startButton.background.color, Qt.color("#e74c3c"))
        compare(startButton.background.border.color, Qt.color("#c0392b"))
        verify(pauseButton.visible)
        compare(pauseButton.text, "PAUSE")

        mouseClick(pauseButton)
        verify(recorder.isPaused)
        compare(pauseButton.text, "RESUME")
        mouseClick(pauseButton)
        verify(!recorder.isPaused)
        compare(pauseButton.text, "PAUSE")

        mouseClick(startButton)
        compare(stopSpy.count, 1)
        tryCompare(startButton, "text", "START")
        compare(startButton.background.color, Qt.color("#3498db"))
        verify(!pauseButton.visible)
        // The finished recording is in the gallery.
        var list = findChild(window, "mediaListView")
        tryCompare(list, "count", 1)
        verify(/^rec_.*\.mp4$/.test(recorder.fileList[0].name))
    }

    function test_stopWhilePaused() {
        mouseClick(startButton)
        tryCompare(startButton, "text", "STOP")
        mouseClick(pauseButton)
        compare(pauseButton.text, "RESUME")
        mouseClick(startButton)
        tryCompare(startButton, "text", "START")
        verify(!recorder.isPaused)
        verify(!pauseButton.visible)
    }

    function test_mp3Mode() {
        chooseMode(2)
        verify(!selector.visible)
        mouseClick(startButton)
        compare(startSpy.count, 1)
        compare(startSpy.signalArguments[0][5], "MP3 only")
        verify(/\.mp3$/.test(startSpy.signalArguments[0][0]))
    }

    function test_customAreaSendsTheConfirmedRectangle() {
        chooseMode(1)
        verify(selector.visible)
        dragOnSelector(100, 100, 301, 201)
        compare([window.cropX, window.cropY, window.cropW, window.cropH], [100, 100, 200, 100])
        compare(startSpy.count, 0)  // confirming records nothing yet

        mouseClick(startButton)
        compare(startSpy.count, 1)
        compare(Array.prototype.slice.call(startSpy.signalArguments[0], 5), ["Custom Area", 100, 100, 200, 100])
        verify(!selector.visible)
    }

    function test_cancelledSelectionOpensAgainOnStart() {
        chooseMode(1)
        escapeSelector()
        mouseClick(startButton)
        compare(startSpy.count, 0)
        verify(selector.visible)
        escapeSelector()
    }

    function test_switchingAwayForgetsTheRectangle() {
        chooseMode(1)
        dragOnSelector(10, 20, 210, 220)
        compare(window.cropW, 200)
        chooseMode(0)
        verify(!selector.visible)
        chooseMode(1)
        verify(selector.visible)
        compare(window.cropW, 0)
        escapeSelector()
        mouseClick(startButton)
        compare(startSpy.count, 0)
        verify(selector.visible)
    }

    function test_rechoosingCustomAreaOpensNothing() {
        chooseMode(1)
        dragOnSelector(10, 20, 210, 220)
        chooseMode(1)
        verify(!selector.visible)
        compare(window.cropW, 200)
    }

    function test_slidersWriteTheVolumes_data() {
        return [ { tag: "speaker", slider: "speakerSlider", property: "speakerVolume" },
                 { tag: "microphone", slider: "micSlider", property: "micVolume" } ]
    }

    function test_slidersWriteTheVolumes(data) {
        var slider = findChild(window, data.slider)
        compare(slider.value, 1.0)  // shows the controller's start value
        // Drag the handle to about three quarters.
        var handle = slider.handle
        var y = slider.height / 2
        mousePress(slider, handle.x + handle.width / 2, y)
        mouseMove(slider, slider.width * 0.6, y, -1, Qt.LeftButton)
        var during = recorder[data.property]
        mouseMove(slider, slider.width * 0.75, y, -1, Qt.LeftButton)
        mouseRelease(slider, slider.width * 0.75, y)
        verify(during > 1.0, "written while dragging")
        verify(recorder[data.property] > during)
        compare(recorder[data.property], slider.value)
        // And the slider follows the controller.
        recorder[data.property] = 0.25
        compare(slider.value, 0.25)
    }

    function test_galleryRowsAndOpen() {
        window.close()
        verify(support.createRecording("rec_2024-01-01_10-00-00.mp4", 1536, 100))
        verify(support.createRecording("rec_2024-01-02_10-00-00_with_a_name_far_too_long_for_its_column.mp3", 2048, 50))
        openWindow()
        var list = findChild(window, "mediaListView")
        compare(list.count, 2)
        waitForRendering(list)
        var first = list.itemAtIndex(0)
        var second = list.itemAtIndex(1)
        compare(first.color, Qt.color("#ffffff"))
        compare(second.color, Qt.color("#fdfdfd"))
        compare(recorder.fileList[0].size, "2.0 KB")
        compare(recorder.fileList[1].name, "rec_2024-01-01_10-00-00.mp4")

        // Every row's "Open" opens the folder, not the file.
        mouseClick(findChild(second, "openButton"))
        tryVerify(function() {
            return JSON.stringify(support.fileManagerArguments()) === JSON.stringify([support.nativeRecordingsFolder()])
        })
    }
}
