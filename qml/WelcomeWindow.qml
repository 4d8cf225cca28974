import QtQuick
import QtQuick.Window
import Theme
import MyWorker 1.0
import "WelcomePage"

// The first window: the producer's splash while the worker connects to the last used unit,
// then either the main window or the form to choose a unit.
Window {
    id: welcome

    required property var mainWindow
    property int splashDelay: 1000
    property int connectionWait: 4000
    property int splashAnimation: 1000

    // Set by the worker's "connected" until the next "disconnected".
    property bool established: false
    readonly property bool formShown: form.visible

    readonly property real fullSplashHeight: Math.round(400 * Theme.heightScale)
    readonly property real smallSplashHeight: Math.round(80 * Theme.heightScale)

    width: Math.round(640 * Theme.widthScale)
    height: Math.round(400 * Theme.heightScale)
    x: Math.round((Screen.width - width) / 2)
    y: Math.round((Screen.height - height) / 2)
    flags: Qt.Window | Qt.FramelessWindowHint
    modality: Qt.ApplicationModal
    color: "transparent"
    title: "Tavik"
    visible: true

    // The first connection goes to the unit named on the command line, if any, which is
    // not stored; otherwise to the last used address.
    function connectFirst() {
        if (typeof startUnit === "string" && startUnit.length > 0) {
            Worker.CurrentAddress = startUnit
            Worker.GUIEnable = false
            Worker.statusText = "Try to connect to " + startUnit
            Worker.sendCommand(Worker.CommandConnect, startUnit)
        } else {
            Worker.connectToControlUnit(Worker.CurrentAddress)
        }
    }

    function openMainWindow() {
        welcome.hide()
        mainWindow.initializeMainWindow()
        mainWindow.changeStackItem("Home")
        mainWindow.showMaximized()
    }

    function showForm() {
        form.visible = true
        Worker.updateAvailableControlUnitList()
    }

    // After the wait the splash shrinks; a connection that completes meanwhile still opens
    // the main window.
    function splashCollapsed() {
        if (welcome.established)
            welcome.openMainWindow()
        else
            welcome.showForm()
    }

    Rectangle {
        id: frame
        anchors.fill: parent
        radius: Worker.isSystemEqualRaspberryPi ? 0 : 10
        color: Theme.background
        border.width: 2
        border.color: Theme.borderPressedControlColor

        Loader {
            id: splash
            anchors.top: parent.top
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.topMargin: 2
            height: welcome.fullSplashHeight - 4
            width: Math.min(height * 1.6, parent.width - 4)
            source: {
                switch (Worker.producerType) {
                case Worker.ProducerBrevitronics: return "WelcomePage/SplashBrevitronics.qml"
                case Worker.ProducerPelliwig: return "WelcomePage/SplashPelliwig.qml"
                case Worker.ProducerNorvane: return "WelcomePage/SplashNorvane.qml"
                default: return "WelcomePage/SplashNeutral.qml"
                }
            }
            onLoaded: {
                Worker.statusText = "Welcome to Tavik!!!"
                delayTimer.start()
            }
        }

        ConnectionForm {
            id: form
            objectName: "connectionForm"
            anchors.top: splash.bottom
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            visible: false
            opacity: visible ? 1 : 0
            Behavior on opacity { NumberAnimation { duration: 500 } }
            onQuitRequested: Qt.quit()
        }
    }

    NumberAnimation {
        id: collapse
        target: splash
        property: "height"
        to: welcome.smallSplashHeight
        duration: welcome.splashAnimation
        easing.type: Easing.InOutQuad
        onFinished: welcome.splashCollapsed()
    }

    Timer {
        id: delayTimer
        interval: welcome.splashDelay
        onTriggered: {
            waitTimer.start()
            welcome.connectFirst()
        }
    }

    Timer {
        id: waitTimer
        interval: welcome.connectionWait
        onTriggered: collapse.start()
    }

    Connections {
        target: Worker
        function onConnected() {
            welcome.established = true
            if (!waitTimer.running && !delayTimer.running && !collapse.running)
                welcome.openMainWindow()
        }
        function onDisconnected() {
            welcome.established = false
            welcome.mainWindow.deInitializeMainWindow()
            splash.height = welcome.smallSplashHeight
            form.visible = true
            welcome.show()
            welcome.mainWindow.hide()
        }
    }
}
