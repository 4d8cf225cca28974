import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import MyStyle 1.0
import Theme
import MyWorker 1.0
import "../components"

// A firmware update under way: the file server waits for the unit, hands it the image from
// the catalogue and shows what the unit reports. Cancel is there until the unit completes,
// since a download that fails or a unit that never calls would otherwise hold the user here.
T.Popup {
    id: dialog

    property int address: -1
    // The image's address in the firmware catalogue.
    property string location: ""
    readonly property bool completed: d.completed
    readonly property string error: d.error

    QtObject {
        id: d
        // The unit has called in during this opening: the server's progress is this update's.
        property bool connected: false
        // Kept after closing, for whoever opened the dialog.
        property bool completed: false
        property bool showClose: false
        property string error: ""
    }

    function cancel() {
        fileServer.stopServer()
        Worker.sendCommand(Worker.CommandLock, 0)
        close()
    }

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    width: Math.min(parent ? parent.width - 40 : 480, Math.max(Theme.w(480), 420))
    height: content.implicitHeight + topPadding + bottomPadding
    padding: 16
    modal: true
    focus: true
    closePolicy: T.Popup.NoAutoClose

    onAboutToShow: {
        d.connected = false
        d.completed = false
        d.showClose = false
        d.error = ""
        ring.start()
        fileServer.startServer(fileServerPort)
        Worker.sendCommand(Worker.CommandUpdateUnit, address)
    }
    onClosed: {
        ring.start()
        ring.running = false
        d.connected = false
        d.showClose = false
    }

    Connections {
        target: fileServer
        enabled: dialog.visible
        function onClientConnected() {
            d.connected = true
            fileServer.downloadAndSendFile(dialog.location)
        }
        function onFileTransferCompleted() {
            ring.finish()
            fileServer.stopServer()
            Worker.sendCommand(Worker.CommandLock, 0)
            d.completed = true
            d.showClose = true
        }
        // Once the unit has completed, its closing connection is no news.
        function onErrorOccurred(error) {
            if (!d.completed)
                d.error = error
        }
    }

    Connections {
        target: Worker
        enabled: dialog.visible
        function onCommandExecuted(command, parameter, ok) {
            if (command === Worker.CommandUpdateUnit && !ok && !d.completed)
                d.error = "The unit did not start the update of module " + dialog.address
        }
    }

    T.Overlay.modal: Rectangle { color: "#80000000" }

    background: Rectangle {
        color: Theme.background
        border.color: Theme.borderHoveredControlColor
        radius: 6
    }

    ColumnLayout {
        id: content
        anchors.fill: parent
        spacing: 12

        Label {
            Layout.fillWidth: true
            text: "Updating module #" + dialog.address
            font.pixelSize: Theme.bigTextSize
            color: Theme.hoveredTextColor
            elide: Text.ElideRight
        }

        ProgressRing {
            id: ring
            objectName: "progressRing"
            Layout.alignment: Qt.AlignHCenter
            value: d.connected ? fileServer.progress : 0
        }

        Label {
            objectName: "statusLabel"
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            text: fileServer.status
        }

        Label {
            objectName: "errorLabel"
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            visible: text !== ""
            text: d.error
            color: Theme.linkTextColor
        }

        RowLayout {
            Layout.alignment: Qt.AlignRight
            spacing: 8
            Button {
                objectName: "progressCancelButton"
                text: "Cancel"
                visible: !d.showClose
                onClicked: dialog.cancel()
            }
            Button {
                objectName: "progressCloseButton"
                text: "Close"
                visible: d.showClose
                onClicked: dialog.close()
            }
        }
    }
}
