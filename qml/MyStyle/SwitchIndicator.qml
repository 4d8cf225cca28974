import QtQuick
import QtQuick.Templates as T
import Theme
import "ControlColors.js" as Colors

// The track and knob of a switch; the knob slides to the right and lights up when checked.
Rectangle {
    id: indicator

    required property T.Switch control

    implicitWidth: Math.round(44 * Theme.fontScale)
    implicitHeight: Math.round(22 * Theme.fontScale)
    radius: height / 2
    color: control.checked && control.enabled ? Theme.borderIdleControlColor
                                              : Colors.fill(Theme, control)
    border.width: 1
    border.color: Colors.border(Theme, control)

    Rectangle {
        readonly property real travel: indicator.width - width - 6
        x: 3 + (indicator.control.visualPosition * travel)
        anchors.verticalCenter: parent.verticalCenter
        width: indicator.height - 6
        height: width
        radius: width / 2
        color: !indicator.control.enabled ? Theme.blockedTextColor
             : indicator.control.checked ? Theme.linkTextColor
                                         : Colors.text(Theme, indicator.control)
        Behavior on x {
            enabled: !indicator.control.down
            SmoothedAnimation { velocity: 200 }
        }
    }
}
