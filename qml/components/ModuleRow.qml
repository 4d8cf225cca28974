import QtQuick
import QtQuick.Layouts
import MyStyle 1.0
import Theme
import MyWorker 1.0
import "../logic/ModuleRow.js" as Logic

// The frame every module row of the home view shares: status lamp, a button that opens the
// module's driver page, kind and address, the kind's own content and the operate switch.
Rectangle {
    id: row

    property int moduleAddress: -1
    property var moduleStatus
    property var moduleOperate
    property string title
    property url iconSource
    property color textColor: Theme.idleTextColor
    default property alias content: contentArea.data

    signal openDriver()

    implicitHeight: Math.round(56 * Theme.heightScale)
    radius: 3
    color: Theme.backgroundControlColor
    border.width: 1
    border.color: Theme.borderIdleControlColor

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: Math.round(12 * Theme.widthScale)
        anchors.rightMargin: Math.round(12 * Theme.widthScale)
        spacing: Math.round(16 * Theme.widthScale)

        Rectangle {
            objectName: "statusLamp"
            implicitWidth: Math.round(14 * Theme.fontScale)
            implicitHeight: implicitWidth
            radius: width / 2
            color: Logic.lampColor(Theme, row.moduleStatus)
        }
        Button {
            objectName: "driverButton"
            flat: true
            icon.source: row.iconSource
            icon.width: Math.round(28 * Theme.fontScale)
            icon.height: Math.round(28 * Theme.fontScale)
            onClicked: row.openDriver()
        }
        Label {
            objectName: "titleLabel"
            Layout.preferredWidth: Math.round(140 * Theme.widthScale)
            text: row.title
            color: row.textColor
            elide: Text.ElideRight
        }
        Label {
            objectName: "addressLabel"
            Layout.preferredWidth: Math.round(60 * Theme.widthScale)
            text: "#" + row.moduleAddress
            color: row.textColor
        }
        RowLayout {
            id: contentArea
            Layout.fillWidth: true
            spacing: Math.round(24 * Theme.widthScale)
        }
        Switch {
            objectName: "operateSwitch"
            checked: Logic.operating(row.moduleOperate)
            onClicked: Worker.setParameter(row.moduleAddress, "operate", checked)
        }
    }
}
