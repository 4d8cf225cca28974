pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import QtQuick.Dialogs
import QtQuick.Templates as T
import MyStyle 1.0
import "../components"
import Theme
import MyWorker 1.0
import "../logic/Password.js" as Password

// The calibration constants a module keeps in its EEPROM: read from the module on opening,
// shown by category, editable and movable to the module, its EEPROM and files only with the
// factory password.
T.Popup {
    id: dialog

    property int address: -1
    property bool busy: false
    readonly property bool unlocked: Password.unlocks(passwordField.text)
    // Categories shown folded, by title.
    property var collapsed: ({})
    property bool collapsePending: false
    property string fileStatus: ""

    function openFor(unitAddress) {
        address = unitAddress
        open()
    }

    function request() {
        busy = true
        Worker.sendCommand(Worker.CommandUpdateEepromConst, address)
    }

    function setCollapsed(category, folded) {
        const next = Object.assign({}, collapsed)
        next[category] = folded
        collapsed = next
    }

    function collapseAll() {
        const next = {}
        const categories = EepromDataModel.allCategories()
        for (let i = 0; i < categories.length; ++i)
            next[categories[i]] = true
        collapsed = next
    }

    // Floats from the module shown as they were stored, without the noise of their widening.
    function numberText(value) {
        if (value === undefined || value === null || isNaN(value))
            return ""
        return String(parseFloat(Number(value).toPrecision(7)))
    }

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    // Never narrower than its contents need, however small the screen's scale.
    width: Math.min(parent ? parent.width - 40 : 640, Math.max(Theme.w(760), 520))
    height: Math.min(parent ? parent.height - 40 : 600, Math.max(Theme.h(860), 560))
    padding: 16
    modal: true
    focus: true
    closePolicy: T.Popup.NoAutoClose

    onAboutToShow: {
        fileStatus = ""
        collapsePending = true
        request()
    }
    onClosed: busy = false

    Connections {
        target: Worker
        enabled: dialog.visible
        function onEepromDataUpdated() {
            dialog.busy = false
            if (dialog.collapsePending) {
                dialog.collapsePending = false
                dialog.collapseAll()
            }
        }
    }

    T.Overlay.modal: Rectangle { color: "#80000000" }

    background: Rectangle {
        color: Theme.background
        border.color: Theme.borderHoveredControlColor
        radius: 6
    }

    FoldingSections {
        id: foldingSections
    }

    Item {
        anchors.fill: parent
        ColumnLayout {
            anchors.fill: parent
            spacing: 10

            RowLayout {
                Layout.fillWidth: true
                Label {
                    Layout.fillWidth: true
                    text: "EEPROM constants:"
                    font.pixelSize: Theme.bigTextSize
                    color: Theme.hoveredTextColor
                }
                Label {
                    text: "#" + dialog.address
                    color: Theme.linkTextColor
                }
                Button {
                    id: toolButton
                    objectName: "toolButton"
                    icon.source: "qrc:/Images/menu.svg"
                    display: T.AbstractButton.IconOnly
                    Layout.preferredWidth: implicitHeight
                    enabled: dialog.unlocked && !dialog.busy
                    onClicked: toolMenu.open()

                    Menu {
                        id: toolMenu
                        objectName: "toolMenu"
                        x: toolButton.width - width
                        y: toolButton.height

                        MenuItem {
                            text: "Get data from device"
                            onTriggered: dialog.request()
                        }
                        MenuItem {
                            text: "Set data to device"
                            onTriggered: {
                                dialog.busy = true
                                Worker.sendEepromData()
                            }
                        }
                        MenuItem {
                            text: "Write EEPROM"
                            onTriggered: {
                                dialog.busy = true
                                Worker.writeEeprom()
                            }
                        }
                        MenuItem {
                            text: "Save EEPROM data"
                            onTriggered: saveDialog.open()
                        }
                        MenuItem {
                            text: "Load EEPROM data"
                            onTriggered: loadDialog.open()
                        }
                    }
                }
            }

            RowLayout {
                spacing: 8
                enabled: !dialog.busy
                Label { text: "Factory password:" }
                TextField {
                    id: passwordField
                    objectName: "passwordField"
                    Layout.preferredWidth: Theme.w(220)
                    echoMode: TextInput.Password
                }
            }

            ToolSeparator {
                orientation: Qt.Horizontal
                Layout.fillWidth: true
            }

            Label { text: "Available options:" }

            ListView {
                id: itemList
                objectName: "eepromList"
                Layout.fillWidth: true
                Layout.fillHeight: true
                clip: true
                enabled: !dialog.busy
                model: EepromDataModel
                ScrollBar.vertical: ScrollBar {
                    policy: itemList.contentHeight > itemList.height ? ScrollBar.AlwaysOn
                                                                     : ScrollBar.AlwaysOff
                }

                section.property: "group"
                section.criteria: ViewSection.FullString
                section.delegate: foldingSections.header
                readonly property var collapsed: dialog.collapsed
                function setCollapsed(category, folded) {
                    dialog.setCollapsed(category, folded)
                }

                delegate: Item {
                    id: entry
                    objectName: "eepromItem"
                    required property var model
                    readonly property string name: model.name
                    readonly property bool isPair: model.type === EepromDataItem.Pair
                    readonly property bool folded: dialog.collapsed[model.group] === true

                    function commit() {
                        if (isPair) {
                            if (firstField.text === dialog.numberText(model.value.first)
                                    && secondField.text === dialog.numberText(model.value.second))
                                return
                            model.value = [Number(firstField.text), Number(secondField.text)]
                        } else if (firstField.text !== dialog.numberText(model.value)) {
                            model.value = Number(firstField.text)
                        }
                    }

                    width: ListView.view.width - 12
                    height: folded ? 0 : row.implicitHeight + 4
                    visible: !folded
                    // The constants can be looked at by anyone, changed only by the factory.
                    enabled: dialog.unlocked

                    RowLayout {
                        id: row
                        anchors.left: parent.left
                        anchors.right: parent.right
                        anchors.verticalCenter: parent.verticalCenter
                        anchors.leftMargin: 24
                        spacing: 8

                        Label {
                            Layout.preferredWidth: Theme.w(200)
                            text: entry.model.displayedName
                            elide: Text.ElideRight
                        }
                        TextField {
                            id: firstField
                            objectName: "firstValue"
                            Layout.fillWidth: true
                            text: dialog.numberText(entry.isPair ? entry.model.value.first
                                                                 : entry.model.value)
                            validator: DoubleValidator { locale: "C" }
                            onEditingFinished: entry.commit()
                        }
                        TextField {
                            id: secondField
                            objectName: "secondValue"
                            Layout.fillWidth: true
                            visible: entry.isPair
                            text: entry.isPair ? dialog.numberText(entry.model.value.second) : ""
                            validator: DoubleValidator { locale: "C" }
                            onEditingFinished: entry.commit()
                        }
                    }
                }
            }

            RowLayout {
                Label {
                    objectName: "fileStatus"
                    Layout.fillWidth: true
                    text: dialog.fileStatus
                    elide: Text.ElideMiddle
                    font.pixelSize: Theme.smallTextSize
                }
                Button {
                    objectName: "closeButton"
                    text: "Close"
                    onClicked: dialog.close()
                }
            }
        }

        BusyIndicator {
            anchors.centerIn: parent
            running: dialog.busy
        }
    }

    FileDialog {
        id: saveDialog
        title: "Save EEPROM constant..."
        nameFilters: ["JSON (*.json)"]
        fileMode: FileDialog.SaveFile
        defaultSuffix: "json"
        onAccepted: {
            const path = Worker.urlToPath(selectedFile.toString())
            dialog.fileStatus = EepromDataModel.storage.saveToFile(path)
                    ? "Saved to " + path : "Could not write " + path
        }
    }

    FileDialog {
        id: loadDialog
        title: "Restore presets from file ..."
        nameFilters: ["JSON (*.json)"]
        fileMode: FileDialog.OpenFile
        onAccepted: {
            const path = Worker.urlToPath(selectedFile.toString())
            dialog.fileStatus = EepromDataModel.storage.loadFromFile(path)
                    ? "Loaded from " + path : "Could not read " + path
        }
    }
}
