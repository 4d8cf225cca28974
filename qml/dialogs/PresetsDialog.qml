import QtQuick
import QtQuick.Layouts
import QtQuick.Dialogs
import MyStyle 1.0
import Theme
import MyWorker 1.0
import "../components"
import "../logic/ModuleRow.js" as Logic

// Saves the settings of the SSPD channels the user ticks to a preset file.
FramedDialog {
    id: dialog

    property string fileName: Worker.currentAppPath() + "/preset.json"
    // The folder of the preset file, where file dialogs start.
    readonly property url folder: Logic.folderUrlOf(fileName)

    title: "Save presets!!!"
    width: Math.max(implicitWidth, Math.round(640 * Theme.widthScale))

    onAccepted: Worker.savePresets(fileName)

    ColumnLayout {
        spacing: Math.round(10 * Theme.heightScale)

        Label {
            Layout.fillWidth: true
            text: "Next channels operating partameters will be saved on local machine:"
            wrapMode: Text.WordWrap
        }
        ListView {
            objectName: "presetChannels"
            Layout.fillWidth: true
            Layout.preferredHeight: Math.min(contentHeight, Math.round(300 * Theme.heightScale))
            clip: true
            model: DataModel
            ScrollBar.vertical: ScrollBar { }
            delegate: Item {
                required property var model
                required property int address
                required property var type
                required property var restore
                readonly property bool shown: Logic.rowKind(type) === "sspd"

                width: ListView.view.width
                height: shown ? box.implicitHeight : 0
                visible: shown

                CheckBox {
                    id: box
                    text: "SSPD #" + parent.address
                    checked: parent.restore === true
                    onToggled: parent.model.restore = checked
                }
            }
        }
        RowLayout {
            Layout.fillWidth: true
            Label { text: "File name:" }
            TextField {
                objectName: "presetFileName"
                Layout.fillWidth: true
                text: dialog.fileName
                onTextEdited: dialog.fileName = text
            }
            Button {
                text: "..."
                onClicked: saveDialog.open()
            }
        }
        RowLayout {
            Layout.alignment: Qt.AlignRight
            Button {
                objectName: "presetsSave"
                text: "Save"
                onClicked: dialog.accept()
            }
            Button {
                objectName: "presetsCancel"
                text: "Cancel"
                onClicked: dialog.reject()
            }
        }
    }

    FileDialog {
        id: saveDialog
        title: "Save presets to file ..."
        nameFilters: ["JSON (*.json)"]
        defaultSuffix: "json"
        fileMode: FileDialog.SaveFile
        currentFolder: dialog.folder
        onAccepted: dialog.fileName = Worker.urlToPath(selectedFile.toString())
    }
}
