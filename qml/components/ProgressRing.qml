import QtQuick
import QtQuick.Shapes
import Theme

// A ring that fills with a percentage; finish() fills it, fades it and then says finished.
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

    Shape {
        id: arc
        anchors.fill: parent

        ShapePath {
            fillColor: "transparent"
            strokeColor: ring.trackColor
            strokeWidth: ring.lineWidth
            PathAngleArc {
                centerX: ring.width / 2
                centerY: ring.height / 2
                radiusX: (ring.width - ring.lineWidth) / 2
                radiusY: radiusX
                startAngle: 0
                sweepAngle: 360
            }
        }
        ShapePath {
            fillColor: "transparent"
            strokeColor: ring.fillColor
            strokeWidth: ring.lineWidth
            capStyle: ShapePath.RoundCap
            PathAngleArc {
                id: fill
                property real percent: ring.shownValue
                centerX: ring.width / 2
                centerY: ring.height / 2
                radiusX: (ring.width - ring.lineWidth) / 2
                radiusY: radiusX
                startAngle: -90
                sweepAngle: 3.6 * percent
            }
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
        NumberAnimation { target: fill; property: "percent"; to: 100; duration: 150 }
        NumberAnimation { target: arc; property: "opacity"; to: 0.3; duration: 150 }
        ScriptAction {
            script: {
                fill.percent = Qt.binding(() => ring.shownValue)
                arc.opacity = 1
                ring.running = false
                ring.finished()
            }
        }
    }
}
