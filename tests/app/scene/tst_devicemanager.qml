import QtQuick
import QtTest
import "../../../qml/components"
import "../../../qml/logic/Password.js" as Password

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
            wait(200)
            verify(hold.contentItem.text.endsWith(" sec"), hold.contentItem.text)
            wait(1300)
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
            return [
                { tag: "0", text: "0", ok: true },
                { tag: "31", text: "31", ok: true },
                { tag: "7", text: "7", ok: true },
                { tag: "32", text: "32", ok: false },
                { tag: "-1", text: "-1", ok: false },
                { tag: "leading zero", text: "07", ok: false },
                { tag: "fraction", text: "1.5", ok: false },
                { tag: "empty", text: "", ok: false }
            ]
        }

        function test_unitAddress(data) {
            addressField.text = data.text
            compare(addressField.acceptableInput, data.ok)
        }

        function test_factoryPassword_data() {
            return [
                { tag: "right", text: "quorbel", ok: true },
                { tag: "empty", text: "", ok: false },
                { tag: "upper case", text: "QUORBEL", ok: false },
                { tag: "trailing space", text: "quorbel ", ok: false },
                { tag: "prefix", text: "quorbe", ok: false }
            ]
        }

        function test_factoryPassword(data) {
            compare(Password.unlocks(data.text), data.ok)
        }
    }
}
