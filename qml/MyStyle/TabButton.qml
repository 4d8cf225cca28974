import QtQuick
import QtQuick.Templates as T
import QtQuick.Controls.impl
import Theme
import "ControlColors.js" as Colors

T.TabButton {
    id: control

    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             implicitContentHeight + topPadding + bottomPadding)
    padding: 6
    spacing: 6
    font: Theme.applicationFont
    hoverEnabled: true
    icon.width: Math.round(20 * Theme.fontScale)
    icon.height: Math.round(20 * Theme.fontScale)
    icon.color: control.checked ? Theme.linkTextColor : Colors.text(Theme, control)

    contentItem: IconLabel {
        spacing: control.spacing
        mirrored: control.mirrored
        display: control.display
        icon: control.icon
        text: control.text
        font: control.font
        color: control.checked && control.enabled ? Theme.hoveredTextColor
                                                  : Colors.text(Theme, control)
    }

    background: Rectangle {
        implicitHeight: 32
        radius: 3
        color: control.checked ? Theme.backgroundHoveredControlColor : Colors.fill(Theme, control)
        border.width: 1
        border.color: control.checked && control.enabled ? Theme.borderHoveredControlColor
                                                         : Colors.border(Theme, control)
    }
}
