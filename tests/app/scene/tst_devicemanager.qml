import QtQuick
import QtTest
import "../../../qml/components"

Item {
    width: 400
    height: 200

    HoldButton {
        id: hold
        width: 160
        height: 40
        text: "Units reset"
    }

    UnitAddressField { id: addressField; y: 60 }

    SignalSpy {
        id: heldSpy
        target: hold
        signalName: "held"
    }

    TestCase {
        name: "DeviceManager"
        when: windowShown

        function test_holdButton() {
            heldSpy.clear()
            mousePress(hold)
            wait(1500)
            mouseRelease(hold)
            compare(heldSpy.count, 0)
            compare(hold.progress, 0)
            compare(hold.contentItem.text, "Units reset")

            mousePress(hold)
            tryCompare(heldSpy, "count", 1, 3000)
            compare(hold.contentItem.text, hold.doneText)
            wait(300) // still held after completion: nothing more
            mouseRelease(hold)
            tryCompare(hold.contentItem, "text", "Units reset", 1000)
            compare(heldSpy.count, 1)
        }

        function test_unitAddress_data() {
            return [["0", true], ["31", true], ["7", true], ["32", false], ["-1", false],
                    ["07", false], ["1.5", false], ["", false]]
                .map(c => ({ tag: c[0] || "empty", text: c[0], ok: c[1] }))
        }

        function test_unitAddress(data) {
            addressField.text = data.text
            compare(addressField.acceptableInput, data.ok)
        }
    }
}
