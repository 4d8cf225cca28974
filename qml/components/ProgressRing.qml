import QtQuick
import Theme

// A ring that fills with a percentage; finish() fills it, fades it and then says finished.
// Drawn on a Canvas: a Shape's node in the software scene graph was seen to crash while its
// dialog closed, and a Canvas paints into a plain image that any backend shows.
Item {
    id: ring

    property real value: 0 // percent, 0 to 100
    property bool running: false
    property real lineWidth: Math.max(4, Math.round(width / 14))
    property color trackColor: Theme.backgroundHoveredControlColor
    property color fillColor: Theme.borderHoveredControlColor
    readonly property real shownValue: Math.max(0, Math.min(100, isFinite(value) ? value : 0))

    signal finished()

    implicitWidth: Math.round(200 * Theme.fontScale)
    implicitHeight: implicitWidth

    function start() {
        finishing.stop()
        arc.opacity = 1
        running = true
    }

    function finish() {
        if (!running)
            return
        finishing.restart()
    }

    Canvas {
        id: arc
        anchors.fill: parent

        property real percent: ring.shownValue

        onPercentChanged: requestPaint()
        onWidthChanged: requestPaint()
        onHeightChanged: requestPaint()

        onPaint: {
            const ctx = getContext("2d")
            ctx.reset()
            const radius = (Math.min(width, height) - ring.lineWidth) / 2
            if (radius <= 0)
                return
            ctx.lineWidth = ring.lineWidth
            ctx.strokeStyle = ring.trackColor
            ctx.beginPath()
            ctx.arc(width / 2, height / 2, radius, 0, 2 * Math.PI)
            ctx.stroke()
            if (percent <= 0)
                return
            ctx.lineCap = "round"
            ctx.strokeStyle = ring.fillColor
            ctx.beginPath()
            ctx.arc(width / 2, height / 2, radius, -Math.PI / 2,
                    -Math.PI / 2 + 2 * Math.PI * percent / 100)
            ctx.stroke()
        }
    }

    Text {
        anchors.centerIn: parent
        text: Math.round(ring.shownValue) + " %"
        color: Theme.idleTextColor
        font.family: Theme.applicationFont.family
        font.pixelSize: Theme.bigTextSize
    }

    SequentialAnimation {
        id: finishing
        NumberAnimation { target: arc; property: "percent"; to: 100; duration: 150 }
        NumberAnimation { target: arc; property: "opacity"; to: 0.3; duration: 150 }
        ScriptAction {
            script: {
                arc.percent = Qt.binding(() => ring.shownValue)
                arc.opacity = 1
                ring.running = false
                ring.finished()
            }
        }
    }
}
