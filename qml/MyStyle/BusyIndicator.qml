import QtQuick
import QtQuick.Templates as T
import Theme

// Eight dots turning in a circle, brightest at the head.
T.BusyIndicator {
    id: control

    implicitWidth: contentItem.implicitWidth + leftPadding + rightPadding
    implicitHeight: contentItem.implicitHeight + topPadding + bottomPadding
    padding: 4

    // No id inside: an id would make the deferred contentItem immediate.
    contentItem: Item {
        implicitWidth: Math.round(48 * Theme.fontScale)
        implicitHeight: implicitWidth
        opacity: control.running ? 1 : 0
        visible: opacity > 0
        Behavior on opacity { NumberAnimation { duration: 250 } }

        Repeater {
            model: 8
            Rectangle {
                required property int index
                readonly property real angle: index * Math.PI / 4
                readonly property Item ring: parent
                width: ring.width / 6
                height: width
                radius: width / 2
                color: Theme.linkTextColor
                opacity: 0.2 + 0.8 * index / 7
                x: ring.width / 2 - width / 2 + Math.cos(angle) * (ring.width / 2 - width / 2)
                y: ring.height / 2 - height / 2 + Math.sin(angle) * (ring.height / 2 - height / 2)
            }
        }
        RotationAnimator on rotation {
            from: 0
            to: 360
            duration: 1200
            loops: Animation.Infinite
            running: control.contentItem.visible
        }
    }
}
