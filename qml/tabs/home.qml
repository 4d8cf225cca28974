pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Dialogs
import QtQuick.Layouts
import Qt.labs.qmlmodels
import MyStyle 1.0
import Theme
import MyWorker 1.0
import "../components"
import "../dialogs"

// The home view: every module of the unit with its live values and switch, and the door to
// presets, channel switching and unit maintenance.
BlankStackItem {
    id: home
    mode: Worker.WorkerModeAllChannels

    function openDriver(address, page) {
        Worker.settings.activeChannel = address
        home.openOther(page)
    }

    ListView {
        id: list
        objectName: "moduleList"
        anchors.fill: parent
        anchors.margins: Math.round(10 * Theme.fontScale)
        clip: true
        spacing: Math.round(4 * Theme.heightScale)
        model: DataModel
        ScrollBar.vertical: ScrollBar {
            id: scrollBar
            policy: list.contentHeight > list.height ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
        }

        delegate: DelegateChooser {
            role: "type"
            DelegateChoice { roleValue: Datalist.DeviceTypeSspdM0; delegate: sspdRow }
            DelegateChoice { roleValue: Datalist.DeviceTypeSspdM1; delegate: sspdRow }
            DelegateChoice { roleValue: Datalist.DeviceTypeTempM0; delegate: temperatureRow }
            DelegateChoice { roleValue: Datalist.DeviceTypeTempM1; delegate: temperatureRow }
            DelegateChoice { delegate: emptyRow }
        }
    }

    readonly property real rowWidth: list.width - (scrollBar.policy === ScrollBar.AlwaysOn
                                                   ? scrollBar.width + 4 : 0)

    Component {
        id: sspdRow
        ModuleRowSspd {
            objectName: "moduleRow"
            width: home.rowWidth
            onOpenDriver: home.openDriver(address, "SSPD Driver")
        }
    }
    Component {
        id: temperatureRow
        ModuleRowTemperature {
            objectName: "moduleRow"
            width: home.rowWidth
            onOpenDriver: home.openDriver(address, "Temp Driver")
        }
    }
    // Modules without a row of their own take no room.
    Component {
        id: emptyRow
        Item {
            width: home.rowWidth
            height: 0
        }
    }

    Button {
        id: settingsButton
        objectName: "settingsButton"
        anchors.right: list.right
        anchors.bottom: list.bottom
        anchors.rightMargin: scrollBar.policy === ScrollBar.AlwaysOn ? scrollBar.width + 4 : 0
        flat: true
        opacity: hovered || settingsMenu.opened ? 1 : 0.7
        icon.source: "qrc:/Images/settings.svg"
        icon.width: Math.round(28 * Theme.fontScale)
        icon.height: Math.round(28 * Theme.fontScale)
        onClicked: settingsMenu.open()

        Menu {
            id: settingsMenu
            objectName: "settingsMenu"
            x: settingsButton.width - width
            y: -height
            MenuItem {
                text: "Reconnect"
                onTriggered: Worker.disconnect()
            }
            MenuItem {
                text: "Device manager"
                onTriggered: deviceManager.open()
            }
            MenuItem {
                text: "Save presets"
                onTriggered: presetsDialog.open()
            }
            MenuItem {
                text: "Restore presets"
                onTriggered: restoreDialog.open()
            }
            MenuItem {
                text: "Turn on/off all"
                onTriggered: switchingDialog.open()
            }
        }
    }

    PresetsDialog {
        id: presetsDialog
        objectName: "presetsDialog"
    }

    SwitchingDialog {
        id: switchingDialog
        objectName: "switchingDialog"
    }

    DeviceManager {
        id: deviceManager
        objectName: "deviceManager"
    }

    FileDialog {
        id: restoreDialog
        title: "Restore presets from file ..."
        nameFilters: ["JSON (*.json)"]
        fileMode: FileDialog.OpenFile
        currentFolder: presetsDialog.folder
        onAccepted: {
            const path = Worker.urlToPath(selectedFile.toString())
            presetsDialog.fileName = path
            Worker.restorePresets(path)
        }
    }

    FramedDialog {
        id: errorBox
        objectName: "errorBox"
        width: Math.round(520 * Theme.widthScale)

        property string message

        contentItem: ColumnLayout {
            spacing: Math.round(12 * Theme.heightScale)
            Label {
                Layout.fillWidth: true
                text: errorBox.message
                wrapMode: Text.WordWrap
            }
            Button {
                Layout.alignment: Qt.AlignRight
                text: "OK"
                onClicked: errorBox.close()
            }
        }
    }

    Connections {
        target: Worker
        function onSendErrorMessage(title, message) {
            errorBox.title = title
            errorBox.message = message
            errorBox.open()
        }
    }
}
