import QtQuick
import MyWorker 1.0

// The scene: the welcome window that connects to a unit, and the main window that opens once
// a unit is connected. The timings are properties so tests can shorten them.
QtObject {
    id: scene

    property int splashDelay: 1000
    property int connectionWait: 4000
    property int splashAnimation: 1000

    property MainWindow mainWindow: MainWindow { }

    property WelcomeWindow welcomeWindow: WelcomeWindow {
        mainWindow: scene.mainWindow
        splashDelay: scene.splashDelay
        connectionWait: scene.connectionWait
        splashAnimation: scene.splashAnimation
    }
}
