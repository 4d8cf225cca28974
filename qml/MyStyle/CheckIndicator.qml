import QtQuick
import QtQuick.Templates as T
import Theme
import "ControlColors.js" as Colors

// The box of a check box: a tick when checked, a bar when partially checked.
Rectangle {
    id: indicator

    required property T.CheckBox control

    implicitWidth: Math.round(22 * Theme.fontScale)
    implicitHeight: implicitWidth
    radius: 3
    color: Colors.fill(Theme, control)
    border.width: 1
    border.color: Colors.border(Theme, control)

    Canvas {
        id: tick
        anchors.fill: parent
        anchors.margins: Math.round(parent.width / 5)
        visible: indicator.control.checkState === Qt.Checked
        property color stroke: indicator.control.enabled ? Theme.linkTextColor : Theme.blockedTextColor
        onStrokeChanged: requestPaint()
        onWidthChanged: requestPaint()
        onPaint: {
            const ctx = getContext("2d")
            ctx.reset()
            ctx.strokeStyle = stroke
            ctx.lineWidth = Math.max(2, width / 6)
            ctx.beginPath()
            ctx.moveTo(0, height * 0.55)
            ctx.lineTo(width * 0.4, height * 0.9)
            ctx.lineTo(width, height * 0.1)
            ctx.stroke()
        }
    }

    Rectangle {
        anchors.centerIn: parent
        width: parent.width / 2
        height: Math.max(2, parent.height / 8)
        visible: indicator.control.checkState === Qt.PartiallyChecked
        color: indicator.control.enabled ? Theme.linkTextColor : Theme.blockedTextColor
    }
}
