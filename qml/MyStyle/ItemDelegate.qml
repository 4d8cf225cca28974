import QtQuick
import QtQuick.Templates as T
import QtQuick.Controls.impl
import Theme
import "ControlColors.js" as Colors

T.ItemDelegate {
    id: control

    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             implicitContentHeight + topPadding + bottomPadding)
    padding: 8
    spacing: 8
    font: Theme.applicationFont
    hoverEnabled: true
    icon.width: Math.round(20 * Theme.fontScale)
    icon.height: Math.round(20 * Theme.fontScale)
    icon.color: Colors.text(Theme, control)

    contentItem: IconLabel {
        spacing: control.spacing
        mirrored: control.mirrored
        display: control.display
        alignment: Qt.AlignLeft | Qt.AlignVCenter
        icon: control.icon
        text: control.text
        font: control.font
        color: control.highlighted ? Theme.linkTextColor : Colors.text(Theme, control)
    }

    background: Rectangle {
        implicitWidth: 100
        implicitHeight: 32
        color: control.down || control.hovered ? Theme.backgroundHoveredControlColor
                                               : "transparent"
    }
}
