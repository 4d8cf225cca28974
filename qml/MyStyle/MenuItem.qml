import QtQuick
import QtQuick.Templates as T
import QtQuick.Controls.impl
import Theme
import "ControlColors.js" as Colors

T.MenuItem {
    id: control

    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             implicitContentHeight + topPadding + bottomPadding)
    padding: 6
    horizontalPadding: 10
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
        color: control.highlighted && control.enabled ? Theme.hoveredTextColor
                                                      : Colors.text(Theme, control)
    }

    background: Rectangle {
        implicitWidth: 200
        implicitHeight: 32
        color: control.highlighted && control.enabled ? Theme.backgroundHoveredControlColor
                                                      : "transparent"
    }
}
