import QtQuick
import QtTest
import "../../../qml/components"
import "../../../qml/logic/Firmware.js" as Firmware
import "../../../qml/logic/Password.js" as Password

Item {
    width: 480
    height: 300

    property string password: ""

    FirmwareSelectors {
        id: selectors
        width: 400
        unlocked: Password.unlocks(password)
        modifications: ["0", "1"]
        revisions: ["2"]
        versions: ["1.10.0", "1.2.3", "1.3.3"]
    }

    TestCase {
        name: "Update"
        when: windowShown

        function test_imageUrl() {
            const base = "http://127.0.0.1:1/vx9Rack/Bin/Firmware/"
            compare(Firmware.imageUrl(base, "1.2.3", "VX9SD", "0", "1"),
                    base + "1.2.3/VX9SDM0V1_code.bin")
            compare(Firmware.imageUrl(base, "1.3.3", "VX9TD", "1", "2"),
                    base + "1.3.3/VX9TDM1V2_code.bin")
            compare([Firmware.familyOf(true, false), Firmware.familyOf(false, true),
                     Firmware.familyOf(false, false)], ["VX9SD", "VX9TD", ""])
            compare(Firmware.familyIndex("VX9TD"), 1)
            compare(Firmware.familyIndex(""), -1)
        }

        function box(name) {
            return Array.from(selectors.children).find(c => c.objectName === name)
        }

        function test_passwordGating_data() {
            return ["", "QUORBEL", "quorbel ", "quorbe", "quorbel"]
                .map(t => ({ tag: "'" + t + "'", text: t, open: t === "quorbel" }))
        }

        // Without the factory password only the version can be chosen.
        function test_passwordGating(data) {
            password = data.text
            compare(["typeBox", "modificationBox", "hardwareBox"].map(n => box(n).enabled),
                    [data.open, data.open, data.open])
            verify(box("versionBox").enabled)
            password = ""
        }

        // Every selector moves to the current choice; one without it leaves the image unchosen.
        function test_follow() {
            selectors.follow("VX9SD", "1", "2", "1.3.3")
            compare(["typeBox", "modificationBox", "hardwareBox"].map(n => box(n).currentIndex),
                    [0, 1, 0])
            compare(box("versionBox").currentText, "1.3.3")
            verify(selectors.complete)
            selectors.follow("VX9SD", "1", "2", "1.3.2")
            compare(box("versionBox").currentIndex, -1)
            verify(!selectors.complete)
        }
    }
}
