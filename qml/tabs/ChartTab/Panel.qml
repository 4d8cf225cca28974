import QtQuick
import QtQuick.Layouts
import MyStyle 1.0
import Theme

// A titled, bordered box of the chart tab's left column; its children stack below the title.
Rectangle {
    id: panel

    property string title: ""
    default property alias content: body.data

    implicitHeight: column.implicitHeight + 16
    color: "transparent"
    border.width: 1
    border.color: enabled ? Theme.borderIdleControlColor : Theme.borderDisableControlColor
    radius: 3
    opacity: enabled ? 1 : 0.6

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: 8
        spacing: 6
        Label {
            visible: panel.title.length > 0
            text: panel.title
            color: Theme.hoveredTextColor
        }
        ColumnLayout {
            id: body
            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: 6
        }
    }
}
