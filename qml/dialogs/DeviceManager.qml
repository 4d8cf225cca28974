pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import MyStyle 1.0
import Theme
import MyWorker 1.0
import "../components"

// Maintenance of the unit's module list: adding and removing modules, their identity, the
// doors to firmware update and EEPROM constants, and the unit resets. Monitoring pauses while
// it is open, since the module list may change under it.
T.Popup {
    id: manager

    // The firmware update dialog; "Update" stays disabled without one.
    property var updateDialog: firmwareDialog
    property int selectedAddress: -1
    // A module list change is under way: the dialog waits for the worker's answer.
    property bool waiting: false
    property int resetMode: 0
    readonly property var resetModes: [
        { text: "Units reset", command: Worker.CommandResetUnits },
        { text: "System reset", command: Worker.CommandSystemReset },
        { text: "Power off", command: Worker.CommandPowerOff }
    ]
    // The module handed to the update dialog; listed again once that dialog closes.
    property int updatingAddress: -1

    function kindText(type) {
        switch (type) {
        case Datalist.DeviceTypeSspdM0:
        case Datalist.DeviceTypeSspdM1: return ": SSPD Driver"
        case Datalist.DeviceTypeTempM0:
        case Datalist.DeviceTypeTempM1: return ": Temperature Driver"
        default: return "---"
        }
    }

    function unitTitle(address, type) {
        const kind = kindText(type)
        return kind === "---" ? address + " " + kind : address + kind
    }

    function shown(value) {
        return value === undefined || value === null || value === "" ? "---" : String(value)
    }

    // Only these modules keep calibration constants the worker can read.
    function hasConstants(type) {
        return type === Datalist.DeviceTypeSspdM0 || type === Datalist.DeviceTypeSspdM1
                || type === Datalist.DeviceTypeTempM0
    }

    function addUnit() {
        if (!addField.acceptableInput)
            return
        waiting = true
        Worker.sendCommand(Worker.CommandAddUnit, parseInt(addField.text, 10))
    }

    function removeUnit(address) {
        waiting = true
        Worker.sendCommand(Worker.CommandRemoveUnit, address)
        selectedAddress = -1
    }

    function updateUnit(unit) {
        if (!updateDialog)
            return
        updatingAddress = unit.address
        updateDialog.initialize(unit.address, unit.type, unit.Modification, unit.Hardware,
                                unit.Firmware)
        updateDialog.open()
        selectedAddress = -1
    }

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    // Never narrower than its contents need, however small the screen's scale.
    width: Math.min(parent ? parent.width - 40 : 640, Math.max(Theme.w(720), 520))
    height: Math.min(parent ? parent.height - 40 : 600, Math.max(Theme.h(820), 560))
    padding: 16
    modal: true
    focus: true
    closePolicy: T.Popup.NoAutoClose

    onAboutToShow: Worker.activateMode(Worker.WorkerModeNoAction)
    onClosed: {
        selectedAddress = -1
        Worker.activateMode(Worker.WorkerModeAllChannels)
    }

    Connections {
        target: Worker
        function onSendErrorMessage(title, error) { manager.waiting = false }
        function onSendMessage(title, message) { manager.waiting = false }
        // Without a unit no answer will come, and the dialogs would greet the next connection.
        function onDisconnected() {
            manager.waiting = false
            manager.updatingAddress = -1
            if (manager.updateDialog)
                manager.updateDialog.abandon()
            eepromDialog.close()
            manager.close()
        }
    }

    Connections {
        target: manager.updateDialog
        ignoreUnknownSignals: true
        // Only a module that went through an update has to be listed again; one whose
        // update was never started is still on the unit's list.
        function onClosed() {
            const address = manager.updatingAddress
            manager.updatingAddress = -1
            if (address < 0 || !manager.updateDialog.updateStarted)
                return
            manager.waiting = true
            Worker.sendCommand(Worker.CommandAddUnit, address)
        }
    }

    T.Overlay.modal: Rectangle { color: "#B0000000" }

    background: Rectangle {
        color: Theme.background
        border.color: Theme.borderHoveredControlColor
        radius: 6
    }

    Item {
        anchors.fill: parent
        ColumnLayout {
            anchors.fill: parent
            spacing: 10
            enabled: !manager.waiting

            Label {
                text: "Device Manager"
                font.pixelSize: Theme.bigTextSize
                color: Theme.hoveredTextColor
            }

            RowLayout {
                spacing: 8
                Label { text: "Unit address:" }
                UnitAddressField {
                    id: addField
                    objectName: "addField"
                    Layout.preferredWidth: Theme.w(120)
                    onAccepted: manager.addUnit()
                }
                Button {
                    objectName: "addButton"
                    text: "Add"
                    enabled: addField.acceptableInput
                    onClicked: manager.addUnit()
                }
            }

            ToolSeparator {
                orientation: Qt.Horizontal
                Layout.fillWidth: true
            }

            Label { text: "Available units:" }

            ListView {
                id: unitList
                objectName: "unitList"
                Layout.fillWidth: true
                Layout.fillHeight: true
                clip: true
                spacing: 4
                model: DataModel
                ScrollBar.vertical: ScrollBar {
                    policy: unitList.contentHeight > unitList.height ? ScrollBar.AlwaysOn
                                                                     : ScrollBar.AlwaysOff
                }

                delegate: Rectangle {
                    id: unit
                    objectName: "unit"
                    required property var model
                    readonly property int address: model.address
                    readonly property bool selected: manager.selectedAddress === address

                    width: ListView.view.width - 12
                    implicitHeight: column.implicitHeight + 8
                    radius: 3
                    color: Theme.backgroundControlColor
                    border.width: 1
                    border.color: selected ? Theme.borderHoveredControlColor
                                           : Theme.borderIdleControlColor

                    ColumnLayout {
                        id: column
                        anchors.left: parent.left
                        anchors.right: parent.right
                        anchors.top: parent.top
                        anchors.margins: 4
                        spacing: 6

                        ItemDelegate {
                            objectName: "unitHeader"
                            Layout.fillWidth: true
                            text: manager.unitTitle(unit.address, unit.model.type)
                            onClicked: manager.selectedAddress = unit.selected ? -1 : unit.address
                        }

                        GridLayout {
                            objectName: "unitDetails"
                            visible: unit.selected
                            Layout.fillWidth: true
                            Layout.leftMargin: 12
                            Layout.rightMargin: 12
                            columns: 2
                            columnSpacing: 12
                            rowSpacing: 4

                            Label { text: "UDID:" }
                            Label { text: manager.shown(unit.model.UDID) }
                            Label { text: "Firmware version:" }
                            Label { text: manager.shown(unit.model.Firmware) }
                            Label { text: "Modification:" }
                            Label { text: manager.shown(unit.model.Modification) }
                            Label { text: "Hardware version:" }
                            Label { text: manager.shown(unit.model.Hardware) }
                            Label {
                                text: "Description:"
                                Layout.alignment: Qt.AlignTop
                            }
                            TextEdit {
                                Layout.fillWidth: true
                                Layout.preferredWidth: 10
                                readOnly: true
                                selectByMouse: true
                                text: manager.shown(unit.model.Description)
                            }
                        }

                        RowLayout {
                            visible: unit.selected
                            Layout.alignment: Qt.AlignRight
                            Layout.rightMargin: 12
                            Layout.bottomMargin: 4
                            spacing: 8

                            Button {
                                objectName: "removeButton"
                                text: "Remove"
                                icon.source: "qrc:/Images/remove.svg"
                                display: hovered && enabled ? T.AbstractButton.TextBesideIcon
                                                 : T.AbstractButton.IconOnly
                                onClicked: manager.removeUnit(unit.address)
                            }
                            Button {
                                objectName: "updateButton"
                                text: "Update"
                                icon.source: "qrc:/Images/update.svg"
                                display: hovered && enabled ? T.AbstractButton.TextBesideIcon
                                                 : T.AbstractButton.IconOnly
                                enabled: manager.updateDialog !== null
                                onClicked: manager.updateUnit({
                                    address: unit.address, type: unit.model.type,
                                    Modification: unit.model.Modification,
                                    Hardware: unit.model.Hardware,
                                    Firmware: unit.model.Firmware
                                })
                            }
                            Button {
                                objectName: "constantsButton"
                                text: "Constants"
                                icon.source: "qrc:/Images/constants.svg"
                                display: hovered && enabled ? T.AbstractButton.TextBesideIcon
                                                 : T.AbstractButton.IconOnly
                                enabled: manager.hasConstants(unit.model.type)
                                onClicked: eepromDialog.openFor(unit.address)
                            }
                        }
                    }
                }
            }

            ToolSeparator {
                orientation: Qt.Horizontal
                Layout.fillWidth: true
            }

            RowLayout {
                spacing: 4

                HoldButton {
                    objectName: "resetButton"
                    Layout.preferredWidth: Theme.w(160)
                    text: manager.resetModes[manager.resetMode].text
                    doneText: "Sent"
                    onHeld: Worker.sendCommand(manager.resetModes[manager.resetMode].command, 0)
                }
                Button {
                    id: resetChoice
                    objectName: "resetModeButton"
                    icon.source: "qrc:/Images/arrow-down.svg"
                    display: T.AbstractButton.IconOnly
                    Layout.preferredWidth: implicitHeight
                    onClicked: resetMenu.open()

                    Menu {
                        id: resetMenu
                        y: resetChoice.height

                        RadioButton {
                            width: resetMenu.width
                            text: manager.resetModes[0].text
                            checked: manager.resetMode === 0
                            onClicked: {
                                manager.resetMode = 0
                                resetMenu.close()
                            }
                        }
                        RadioButton {
                            width: resetMenu.width
                            text: manager.resetModes[1].text
                            checked: manager.resetMode === 1
                            onClicked: {
                                manager.resetMode = 1
                                resetMenu.close()
                            }
                        }
                        RadioButton {
                            width: resetMenu.width
                            text: manager.resetModes[2].text
                            checked: manager.resetMode === 2
                            onClicked: {
                                manager.resetMode = 2
                                resetMenu.close()
                            }
                        }
                    }
                }
                Item { Layout.fillWidth: true }
                Button {
                    objectName: "closeButton"
                    text: "Close"
                    onClicked: manager.close()
                }
            }
        }

        BusyIndicator {
            anchors.centerIn: parent
            running: manager.waiting
        }
    }

    EepromDialog {
        id: eepromDialog
        objectName: "eepromDialog"
    }

    UpdateDialog {
        id: firmwareDialog
        objectName: "updateDialog"
    }
}
