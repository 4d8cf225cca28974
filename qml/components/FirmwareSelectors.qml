import QtQuick
import QtQuick.Layouts
import MyStyle 1.0
import "../logic/Firmware.js" as Firmware

// The four choices of a firmware image: module family, modification, hardware revision and
// version. Only the version is open to everyone; the other three need `unlocked`. The lists
// come from outside; follow() moves every selector to the entry of the current choice.
GridLayout {
    id: selectors

    property bool unlocked: false
    property var modifications: []
    property var revisions: []
    property var versions: []
    readonly property bool complete: Firmware.complete([typeBox.currentIndex,
                                                        modificationBox.currentIndex,
                                                        hardwareBox.currentIndex,
                                                        versionBox.currentIndex])

    // The user chose `value` for `field` ("type", "modification", "hardware", "version").
    signal chosen(string field, string value)

    function follow(type, modification, hardware, version) {
        typeBox.currentIndex = Firmware.familyIndex(type)
        modificationBox.currentIndex = modifications.indexOf(modification)
        hardwareBox.currentIndex = revisions.indexOf(hardware)
        versionBox.currentIndex = versions.indexOf(version)
    }

    columns: 2
    columnSpacing: 12
    rowSpacing: 6

    Label { text: "Type *:" }
    ComboBox {
        id: typeBox
        objectName: "typeBox"
        Layout.fillWidth: true
        enabled: selectors.unlocked
        model: Firmware.families
        onActivated: index => selectors.chosen("type", Firmware.families[index])
    }
    Label { text: "Modification *:" }
    ComboBox {
        id: modificationBox
        objectName: "modificationBox"
        Layout.fillWidth: true
        enabled: selectors.unlocked
        model: selectors.modifications
        onActivated: index => selectors.chosen("modification", selectors.modifications[index])
    }
    Label { text: "Hardware version *:" }
    ComboBox {
        id: hardwareBox
        objectName: "hardwareBox"
        Layout.fillWidth: true
        enabled: selectors.unlocked
        model: selectors.revisions
        onActivated: index => selectors.chosen("hardware", selectors.revisions[index])
    }
    Label { text: "Firmware version:" }
    ComboBox {
        id: versionBox
        objectName: "versionBox"
        Layout.fillWidth: true
        model: selectors.versions
        onActivated: index => selectors.chosen("version", selectors.versions[index])
    }
}
