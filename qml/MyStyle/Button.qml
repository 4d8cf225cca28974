import QtQuick
import QtQuick.Templates as T
import QtQuick.Controls.impl
import Theme
import "ControlColors.js" as Colors

T.Button {
    id: control

    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             implicitContentHeight + topPadding + bottomPadding)
    padding: 6
    horizontalPadding: padding + 4
    spacing: 6
    font: Theme.applicationFont
    hoverEnabled: true
    icon.width: Math.round(20 * Theme.fontScale)
    icon.height: Math.round(20 * Theme.fontScale)
    icon.color: Colors.text(Theme, control)

    contentItem: IconLabel {
        spacing: control.spacing
        mirrored: control.mirrored
        display: control.display
        icon: control.icon
        text: control.text
        font: control.font
        color: Colors.text(Theme, control)
    }

    background: Rectangle {
        implicitWidth: 80
        implicitHeight: 32
        radius: 3
        visible: !control.flat || control.hovered || control.down
        color: Colors.fill(Theme, control)
        border.width: 1
        border.color: Colors.border(Theme, control)
    }
}
