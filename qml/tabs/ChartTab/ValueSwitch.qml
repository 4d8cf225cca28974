import QtQuick
import QtQuick.Controls.Basic as Basic
import Theme

// An on/off switch in the scene's colours.
Basic.Switch {
    id: control

    implicitWidth: 40 + leftPadding + rightPadding
    implicitHeight: 28

    indicator: Rectangle {
        implicitWidth: 40
        implicitHeight: 20
        x: control.leftPadding
        y: (control.height - height) / 2
        radius: height / 2
        color: control.checked ? Theme.borderPressedControlColor : Theme.backgroundHoveredControlColor
        border.width: 1
        border.color: control.enabled ? Theme.borderIdleControlColor : Theme.borderDisableControlColor
        Rectangle {
            width: parent.height - 4
            height: width
            radius: width / 2
            y: 2
            x: control.checked ? parent.width - width - 2 : 2
            color: control.enabled ? Theme.idleTextColor : Theme.blockedTextColor
            Behavior on x { NumberAnimation { duration: 100 } }
        }
    }
    contentItem: Item {}
}
