import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import MyStyle 1.0
import Theme
import MyWorker 1.0

// What changed from one version of the program to the next.
T.Popup {
    id: popup

    width: Math.round(520 * Theme.widthScale)
    padding: 16
    modal: true
    focus: true

    background: Rectangle {
        color: Theme.background
        border.color: Theme.borderHoveredControlColor
        radius: 6
    }

    contentItem: ColumnLayout {
        spacing: 10

        Label {
            text: "Version history"
            font.pixelSize: Theme.bigTextSize
            color: Theme.hoveredTextColor
        }
        Label {
            text: "cu-tavik " + Qt.application.version + ", worker " + Worker.WorkerVersion
            color: Theme.linkTextColor
        }
        Repeater {
            model: [
                { version: "0.1", notes: "Connection to a control unit by address or from the units found on the network; the module list with live values." }
            ]
            Label {
                required property var modelData
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                text: modelData.version + " \u2014 " + modelData.notes
                font.pixelSize: Theme.smallTextSize
            }
        }
        Button {
            Layout.alignment: Qt.AlignRight
            text: "Close"
            onClicked: popup.close()
        }
    }
}
