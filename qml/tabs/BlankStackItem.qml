import QtQuick
import MyWorker 1.0

// The plain page of the tab stack: the page protocol every tab page follows.
Item {
    id: page

    property int mode: Worker.WorkerModeNoAction

    signal openOther(string name)
    signal startReading()
    signal stopReading()

    function activate() {
        Worker.initializeGUI(mode)
        Worker.activateMode(mode)
    }

    function deactivate() {
        Worker.deactivateMode(mode)
    }

    function resetFunction() {
    }
}
