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

        function test_imageUrl_data() {
            return [
                { tag: "sspd", version: "1.2.3", family: "VX9SD", modification: "0",
                  hardware: "1", url: "http://127.0.0.1:1/vx9Rack/Bin/Firmware/1.2.3/VX9SDM0V1_code.bin" },
                { tag: "temperature", version: "1.3.3", family: "VX9TD", modification: "1",
                  hardware: "2", url: "http://127.0.0.1:1/vx9Rack/Bin/Firmware/1.3.3/VX9TDM1V2_code.bin" }
            ]
        }

        function test_imageUrl(data) {
            compare(Firmware.imageUrl("http://127.0.0.1:1/vx9Rack/Bin/Firmware/", data.version,
                                      data.family, data.modification, data.hardware), data.url)
        }

        function test_family() {
            compare(Firmware.familyOf(true, false), "VX9SD")
            compare(Firmware.familyOf(false, true), "VX9TD")
            compare(Firmware.familyOf(false, false), "")
            compare(Firmware.familyIndex("VX9TD"), 1)
            compare(Firmware.familyIndex(""), -1)
        }

        function box(name) {
            for (let i = 0; i < selectors.children.length; ++i) {
                if (selectors.children[i].objectName === name)
                    return selectors.children[i]
            }
            return null
        }

        function test_passwordGating_data() {
            return [
                { tag: "no password", text: "", open: false },
                { tag: "wrong password", text: "QUORBEL", open: false },
                { tag: "factory password", text: "quorbel", open: true }
            ]
        }

        // Without the factory password only the version can be chosen.
        function test_passwordGating(data) {
            password = data.text
            compare(box("typeBox").enabled, data.open)
            compare(box("modificationBox").enabled, data.open)
            compare(box("hardwareBox").enabled, data.open)
            verify(box("versionBox").enabled)
            password = ""
        }

        // Every selector moves to the current choice; one without it leaves the image unchosen.
        function test_follow() {
            selectors.follow("VX9SD", "1", "2", "1.3.3")
            compare(box("typeBox").currentIndex, 0)
            compare(box("modificationBox").currentIndex, 1)
            compare(box("hardwareBox").currentIndex, 0)
            compare(box("versionBox").currentText, "1.3.3")
            verify(selectors.complete)
            selectors.follow("VX9SD", "1", "2", "1.3.2")
            compare(box("versionBox").currentIndex, -1)
            verify(!selectors.complete)
        }
    }
}
