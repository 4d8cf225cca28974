import QtQuick
import QtQuick.Layouts
import MyStyle 1.0
import Theme
import MyWorker 1.0
import "../components"
import "../logic/ModuleRow.js" as Logic

// Switches the channels the user ticks on or off together.
FramedDialog {
    id: dialog

    title: "Turn on-off channels"
    width: Math.max(implicitWidth, Math.round(640 * Theme.widthScale))

    ColumnLayout {
        spacing: Math.round(10 * Theme.heightScale)

        Label {
            Layout.fillWidth: true
            text: "Please choose channels for interact:"
            wrapMode: Text.WordWrap
        }
        ListView {
            objectName: "switchingChannels"
            Layout.fillWidth: true
            Layout.preferredHeight: Math.min(contentHeight, Math.round(300 * Theme.heightScale))
            clip: true
            model: DataModel
            ScrollBar.vertical: ScrollBar { }
            delegate: Item {
                required property var model
                required property int address
                required property var type
                required property var selected
                readonly property string label: Logic.channelLabel(type, address)

                width: ListView.view.width
                height: label ? box.implicitHeight : 0
                visible: label !== ""

                CheckBox {
                    id: box
                    text: parent.label
                    checked: parent.selected === true
                    onToggled: parent.model.selected = checked
                }
            }
        }
        RowLayout {
            Layout.fillWidth: true
            Button {
                text: "Select All"
                onClicked: DataModel.selectAll(true)
            }
            Button {
                text: "Deselect All"
                onClicked: DataModel.selectAll(false)
            }
            Item { Layout.fillWidth: true }
            Button {
                text: "Turn ON"
                onClicked: Worker.turnOnAllSelectedChannels(true)
            }
            Button {
                text: "Turn OFF"
                onClicked: Worker.turnOnAllSelectedChannels(false)
            }
            Button {
                objectName: "switchingCancel"
                text: "Cancel"
                onClicked: dialog.close()
            }
        }
    }
}
