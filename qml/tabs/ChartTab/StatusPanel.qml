import QtQuick
import QtQuick.Layouts
import MyStyle 1.0
import Theme
import MyWorker 1.0
import "../../components"

// The progress of a sweep and the worker's status line; finished() follows the ring's end.
Panel {
    id: status

    property alias ringVisible: ring.visible
    readonly property alias ring: ring

    signal finished()

    function start() { ring.start() }
    function finish() { ring.finish() }

    ProgressRing {
        id: ring
        objectName: "progressRing"
        Layout.alignment: Qt.AlignHCenter
        Layout.preferredWidth: implicitWidth
        Layout.preferredHeight: implicitHeight
        value: Worker.progress
        onFinished: status.finished()
    }
    Label {
        objectName: "statusLabel"
        Layout.fillWidth: true
        text: Worker.statusText
        wrapMode: Text.Wrap
        horizontalAlignment: Text.AlignHCenter
    }
}
