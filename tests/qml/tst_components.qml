import QtQuick 6.2
import QtQuick.Controls 6.2
import QtTest 1.2
import "../../qml"

TestCase {
    id: testCase
    name: "Components"
    width: 600
    height: 300
    visible: true
    when: windowShown

    Component { id: boxComponent; ControlBox {} }
    Component { id: delegateLabelComponent; DelegateLabel {} }
    Component { id: headerLabelComponent; HeaderLabel {} }
    SignalSpy { id: selectionSpy; signalName: "currentSelectionChanged" }

    // Chooses entry `index` the way a person does: open the list, click the entry.
    function choose(box, index) {
        var combo = findChild(box, "combo")
        mouseClick(combo)
        tryVerify(function() { return combo.popup.opened })
        var list = combo.popup.contentItem
        tryVerify(function() { return list.itemAtIndex(index) !== null })
        mouseClick(list.itemAtIndex(index))
        tryVerify(function() { return !combo.popup.visible })
    }

    function test_titleOnlyOffersTheTitle() {
        var box = createTemporaryObject(boxComponent, testCase, { title: "Speaker", icon: "S" })
        var combo = findChild(box, "combo")
        compare(combo.count, 1)
        compare(combo.textAt(0), "Speaker")
        compare(box.currentSelection, "Speaker")
        // The default list follows the title.
        box.title = "Loudspeaker"
        compare(combo.textAt(0), "Loudspeaker")
    }

    function test_optionsInOrderFirstSelected() {
        var box = createTemporaryObject(boxComponent, testCase,
                                        { title: "Full", optionsModel: ["Full", "Custom Area", "MP3 only"] })
        var combo = findChild(box, "combo")
        compare(combo.count, 3)
        compare([combo.textAt(0), combo.textAt(1), combo.textAt(2)], ["Full", "Custom Area", "MP3 only"])
        compare(box.currentSelection, "Full")
    }

    function test_choosingEmitsOnceAndRechoosingNothing() {
        var box = createTemporaryObject(boxComponent, testCase,
                                        { width: 240, height: 120, optionsModel: ["Full", "Custom Area", "MP3 only"] })
        selectionSpy.target = box
        selectionSpy.clear()
        choose(box, 1)
        compare(box.currentSelection, "Custom Area")
        compare(selectionSpy.count, 1)
        // The main window relies on this: re-choosing must not reopen the selector.
        choose(box, 1)
        compare(box.currentSelection, "Custom Area")
        compare(selectionSpy.count, 1)
        choose(box, 2)
        compare(box.currentSelection, "MP3 only")
        compare(selectionSpy.count, 2)
    }

    function test_selectionIsReadOnly() {
        var box = createTemporaryObject(boxComponent, testCase, { optionsModel: ["A", "B"] })
        var failed = false
        try {
            box.currentSelection = "B"
        } catch (e) {
            failed = true
        }
        verify(failed)
        compare(box.currentSelection, "A")
    }

    function test_delegateLabelElides() {
        var label = createTemporaryObject(delegateLabelComponent, testCase,
                                          { width: 200, text: "rec_2025-11-01_19-25-01_with_a_very_long_suffix_indeed.mp4" })
        verify(label.truncated)
        compare(label.elide, Text.ElideRight)
        var shortLabel = createTemporaryObject(delegateLabelComponent, testCase, { width: 200, text: "a.mp4" })
        verify(!shortLabel.truncated)
    }

    function test_headerLabelNeverElides() {
        var label = createTemporaryObject(headerLabelComponent, testCase, { width: 20, text: "Create Time" })
        compare(label.elide, Text.ElideNone)
        verify(!label.truncated)
        verify(label.font.bold)
    }
}
