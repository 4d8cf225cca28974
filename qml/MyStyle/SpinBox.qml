import QtQuick
import QtQuick.Templates as T
import Theme
import "ControlColors.js" as Colors

// A spin box with its arrows on the right, one above the other.
T.SpinBox {
    id: control

    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            contentItem.implicitWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             implicitContentHeight + topPadding + bottomPadding)
    padding: 4
    leftPadding: padding + 6
    rightPadding: padding + up.implicitIndicatorWidth
    font: Theme.applicationFont
    hoverEnabled: true
    editable: true

    validator: IntValidator {
        bottom: Math.min(control.from, control.to)
        top: Math.max(control.from, control.to)
    }

    contentItem: TextInput {
        z: 2
        text: control.displayText
        font: control.font
        color: control.enabled ? (control.activeFocus || control.hovered ? Theme.hoveredTextColor
                                                                          : Theme.idleTextColor)
                               : Theme.blockedTextColor
        selectionColor: Theme.borderPressedControlColor
        selectedTextColor: Theme.hoveredTextColor
        horizontalAlignment: Qt.AlignRight
        verticalAlignment: Qt.AlignVCenter
        readOnly: !control.editable
        validator: control.validator
        inputMethodHints: control.inputMethodHints
        clip: true
    }

    up.indicator: Item {
        x: control.width - width - 1
        y: 1
        implicitWidth: Math.round(24 * Theme.fontScale)
        implicitHeight: (control.height - 2) / 2
        height: implicitHeight
        Text {
            anchors.centerIn: parent
            text: "▲"
            font.pixelSize: Theme.tinyTextSize
            color: !control.up.indicator.enabled ? Theme.blockedTextColor
                 : control.up.pressed ? Theme.borderPressedControlColor
                 : control.up.hovered ? Theme.linkTextColor : Theme.idleTextColor
        }
    }

    down.indicator: Item {
        x: control.width - width - 1
        y: control.height / 2
        implicitWidth: Math.round(24 * Theme.fontScale)
        implicitHeight: (control.height - 2) / 2
        height: implicitHeight
        Text {
            anchors.centerIn: parent
            text: "▼"
            font.pixelSize: Theme.tinyTextSize
            color: !control.down.indicator.enabled ? Theme.blockedTextColor
                 : control.down.pressed ? Theme.borderPressedControlColor
                 : control.down.hovered ? Theme.linkTextColor : Theme.idleTextColor
        }
    }

    background: Rectangle {
        implicitWidth: Math.round(140 * Theme.fontScale)
        implicitHeight: 32
        radius: 3
        color: Colors.fill(Theme, control)
        border.width: 1
        // up and down are the arrow objects here, not a pressed state.
        border.color: !control.enabled ? Theme.borderDisableControlColor
                    : control.up.pressed || control.down.pressed ? Theme.borderPressedControlColor
                    : control.hovered || control.activeFocus ? Theme.borderHoveredControlColor
                                                             : Theme.borderIdleControlColor
    }
}
