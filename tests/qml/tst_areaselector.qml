import QtQuick 6.2
import QtQuick.Window 2.15
import QtTest 1.2
import "../../qml"

TestCase {
    id: testCase
    name: "AreaSelector"
    when: windowShown

    Component { id: selectorComponent; AreaSelector {} }
    SignalSpy { id: confirmedSpy; signalName: "selectionConfirmed" }
    SignalSpy { id: cancelledSpy; signalName: "cancelled" }

    property var selector: null

    function init() {
        selector = createTemporaryObject(selectorComponent, testCase)
        confirmedSpy.target = selector
        cancelledSpy.target = selector
        confirmedSpy.clear()
        cancelledSpy.clear()
        selector.visible = true
        tryVerify(function() { return selector.visible && selector.width > 0 })
        waitForRendering(selector.contentItem)
    }

    function drag(fromX, fromY, toX, toY, button) {
        var area = findChild(selector, "dragArea")
        var b = button === undefined ? Qt.LeftButton : button
        mousePress(area, fromX, fromY, b)
        mouseMove(area, (fromX + toX) / 2, (fromY + toY) / 2, -1, b)
        mouseMove(area, toX, toY, -1, b)
        mouseRelease(area, toX, toY, b)
    }

    function reported() {
        compare(confirmedSpy.count, 1)
        var a = confirmedSpy.signalArguments[0]
        return [a[0], a[1], a[2], a[3]]
    }

    function test_covers_its_screen() {
        compare(selector.x, selector.screen.virtualX)
        compare(selector.width, selector.screen.width)
        compare(selector.height, selector.screen.height)
        compare(selector.color, Qt.rgba(0, 0, 0, 128 / 255))
    }

    function test_drag_data() {
        return [
            { tag: "top-left to bottom-right, evened down", from: [100, 100], to: [301, 201], expect: [100, 100, 200, 100] },
            { tag: "bottom-right to top-left", from: [301, 201], to: [100, 100], expect: [100, 100, 200, 100] },
            { tag: "bottom-left to top-right", from: [100, 201], to: [301, 100], expect: [100, 100, 200, 100] },
            { tag: "past the right and bottom edges is cut", from: [600, 400], to: [5000, 5000], expect: [600, 400, -1, -1] },
            { tag: "past the left edge keeps the full width", from: [100, 50], to: [-50, 150], expect: [0, 50, 150, 100] },
            { tag: "past the top edge", from: [40, 30], to: [140, -20], expect: [40, 0, 100, 50] },
        ]
    }

    function test_drag(data) {
        drag(data.from[0], data.from[1], data.to[0], data.to[1])
        var r = reported()
        var expect = data.expect.slice()
        // "cut at the edge": what is left of the screen, made even.
        if (expect[2] < 0)
            expect[2] = (selector.width - expect[0]) - (selector.width - expect[0]) % 2
        if (expect[3] < 0)
            expect[3] = (selector.height - expect[1]) - (selector.height - expect[1]) % 2
        compare(r, expect)
        verify(r[2] > 0 && r[3] > 0 && r[2] % 2 === 0 && r[3] % 2 === 0)
        tryVerify(function() { return !selector.visible })
    }

    function test_rejected_data() {
        return [
            { tag: "click without drag", from: [200, 200], to: [200, 200] },
            { tag: "one pixel wide", from: [200, 200], to: [201, 300] },
            { tag: "one pixel high", from: [200, 200], to: [300, 201] },
        ]
    }

    function test_rejected(data) {
        drag(data.from[0], data.from[1], data.to[0], data.to[1])
        compare(confirmedSpy.count, 0)
        compare(cancelledSpy.count, 0)
        tryVerify(function() { return !selector.visible })
    }

    function test_other_buttons_do_nothing_data() {
        return [ { tag: "right", button: Qt.RightButton }, { tag: "middle", button: Qt.MiddleButton } ]
    }

    function test_other_buttons_do_nothing(data) {
        drag(100, 100, 400, 300, data.button)
        compare(confirmedSpy.count, 0)
        verify(selector.visible)
        verify(!findChild(selector, "selectionRect").visible)
    }

    function test_escape_cancels() {
        selector.requestActivate()
        tryVerify(function() { return selector.active })
        keyClick(Qt.Key_Escape)
        tryVerify(function() { return !selector.visible })
        compare(cancelledSpy.count, 1)
        compare(confirmedSpy.count, 0)
    }

    function test_previous_outline_stays_until_next_press() {
        drag(100, 100, 300, 200)
        tryVerify(function() { return !selector.visible })
        selector.visible = true
        var rect = findChild(selector, "selectionRect")
        verify(rect.visible)
        compare([rect.x, rect.y, rect.width, rect.height], [100, 100, 200, 100])
        mousePress(findChild(selector, "dragArea"), 10, 20)
        compare([rect.x, rect.y, rect.width, rect.height], [10, 20, 0, 0])
        mouseRelease(findChild(selector, "dragArea"), 10, 20)
    }

    // The conversion alone, with chosen screens: (logical x, y, w, h) + dpr + screen.
    function test_physical_data() {
        return [
            { tag: "dpr 1", rect: [100, 100, 201, 101], dpr: 1, screen: [0, 0, 1280, 720], expect: [100, 100, 200, 100] },
            { tag: "dpr 1.5, 76.5 rounds up then evens down", rect: [10, 10, 100, 51], dpr: 1.5,
              screen: [0, 0, 1280, 720], expect: [15, 15, 150, 76] },
            { tag: "dpr 1.25 full screen", rect: [0, 0, 1536, 864], dpr: 1.25, screen: [0, 0, 1536, 864],
              expect: [0, 0, 1920, 1080] },
            { tag: "fractional screen width is floored, then evened", rect: [0, 0, 1025, 577], dpr: 1.5,
              screen: [0, 0, 1024.6666, 576.6666], expect: [0, 0, 1536, 864] },
            { tag: "fractional screen, odd remainder", rect: [3, 3, 2000, 2000], dpr: 1.25,
              screen: [0, 0, 1023.5, 575.5], expect: [4, 4, 1274, 714] },
            { tag: "screen right of the origin", rect: [2000, 100, 400, 300], dpr: 1.5,
              screen: [1920, 0, 1280, 720], expect: [2040, 150, 600, 450] },
            { tag: "screen right of the origin, cut at its right edge", rect: [3000, 600, 400, 300], dpr: 2,
              screen: [1920, 0, 1280, 720], expect: [4080, 1200, 400, 240] },
            { tag: "screen left of the origin", rect: [-1000, 100, 2000, 200], dpr: 1,
              screen: [-1280, 0, 1280, 1024], expect: [-1000, 100, 1000, 200] },
            { tag: "screen above, drag starts beyond its top", rect: [10, -900, 100, 100], dpr: 2,
              screen: [0, -720, 1280, 720], expect: [20, -720, 200, 200] },
        ]
    }

    function test_physical(data) {
        var s = data.screen
        var r = selector.toPhysical(data.rect[0], data.rect[1], data.rect[2], data.rect[3], data.dpr, s[0], s[1], s[2], s[3])
        compare([r.x, r.y, r.w, r.h], data.expect)
        compare(r.ok, data.expect[2] > 0 && data.expect[3] > 0)
        if (r.ok) {
            // Whole, even, positive, and inside that screen's physical area.
            verify(Number.isInteger(r.w) && Number.isInteger(r.h) && r.w % 2 === 0 && r.h % 2 === 0)
            verify(r.x >= s[0] && r.y >= s[1])
            verify(r.x + r.w <= s[0] + s[2] * data.dpr && r.y + r.h <= s[1] + s[3] * data.dpr)
        }
    }
}
