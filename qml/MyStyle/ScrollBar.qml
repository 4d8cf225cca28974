import QtQuick
import QtQuick.Templates as T
import Theme

T.ScrollBar {
    id: control

    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             implicitContentHeight + topPadding + bottomPadding)
    padding: 2
    minimumSize: orientation === Qt.Horizontal ? height / width : width / height

    contentItem: Rectangle {
        implicitWidth: 6
        implicitHeight: 6
        radius: 3
        color: control.pressed ? Theme.borderPressedControlColor
             : control.hovered ? Theme.borderHoveredControlColor : Theme.borderIdleControlColor
        visible: control.policy !== T.ScrollBar.AlwaysOff && control.size < 1.0
        opacity: control.policy === T.ScrollBar.AlwaysOn || control.active ? 1 : 0
        Behavior on opacity { NumberAnimation { duration: 300 } }
    }
}
