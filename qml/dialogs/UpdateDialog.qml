pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import MyStyle 1.0
import Theme
import MyWorker 1.0
import "../components"
import "../logic/Password.js" as Password
import "../logic/Firmware.js" as Firmware

// The choice of a firmware image for one module from the catalogue: by default only the
// version, since an image for another module kind or board would not run on it; the factory
// password opens the other choices. Holding "Update" hands the image to the progress dialog.
T.Popup {
    id: dialog

    property int address: -1
    // The current choice: family, modification, hardware revision and firmware version.
    property string type: ""
    property string modification: ""
    property string hardware: ""
    property string version: ""
    property bool busy: false
    // An update was started since the last initialisation: the module is to be listed again.
    property bool updateStarted: false
    property string catalogueError: ""
    readonly property bool unlocked: Password.unlocks(passwordField.text)
    readonly property alias progressDialog: progress
    readonly property bool ready: selectors.complete

    function textOf(value) {
        return value === undefined || value === null ? "" : String(value)
    }

    function initialize(unitAddress, unitType, unitModification, unitHardware, unitFirmware) {
        address = unitAddress
        type = Firmware.familyOf(unitType === Datalist.DeviceTypeSspdM0
                                 || unitType === Datalist.DeviceTypeSspdM1,
                                 unitType === Datalist.DeviceTypeTempM0
                                 || unitType === Datalist.DeviceTypeTempM1)
        modification = textOf(unitModification)
        hardware = textOf(unitHardware)
        version = textOf(unitFirmware)
        passwordField.clear()
        updateStarted = false
        busy = true
        // A catalogue that could not be read is asked for again rather than kept empty.
        if (d.loaded && !d.failed)
            catalogueReady()
        else if (!fileHandler.loading)
            load()
    }

    function load() {
        d.failed = false
        catalogueError = ""
        fileHandler.loadFileMap()
    }

    function catalogueReady() {
        busy = false
        filter()
    }

    // New lists for the current choice; every selector moves to its current value.
    function filter() {
        fileHandler.updateFilters(type, modification, hardware)
        selectors.follow(type, modification, hardware, version)
    }

    function choose(field, value) {
        switch (field) {
        case "type": type = value; break
        case "modification": modification = value; break
        case "hardware": hardware = value; break
        case "version": version = value; break
        }
        filter()
    }

    // The unit went away: nothing of the update can go on.
    function abandon() {
        if (progress.visible)
            progress.cancel()
        close()
    }

    function startUpdate() {
        progress.address = address
        progress.location = Firmware.imageUrl(fileHandler.baseUrl, version, type, modification,
                                              hardware)
        updateStarted = true
        progress.open()
    }

    QtObject {
        id: d
        property bool loaded: false
        property bool failed: false
    }

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    width: Math.min(parent ? parent.width - 40 : 560, Math.max(Theme.w(560), 480))
    height: column.implicitHeight + topPadding + bottomPadding
    padding: 16
    modal: true
    focus: true
    closePolicy: T.Popup.NoAutoClose

    // Leaving while the catalogue loads drops the walk; the next opening starts it again.
    onClosed: {
        if (busy && fileHandler.loading)
            fileHandler.cancelLoading()
        busy = false
    }

    Connections {
        target: fileHandler
        function onLoadingFinished() {
            d.loaded = true
            if (dialog.visible && dialog.busy)
                dialog.catalogueReady()
        }
        function onErrorOccurred(errorMessage) {
            d.failed = true
            dialog.catalogueError = errorMessage
        }
    }

    T.Overlay.modal: Rectangle { color: "#80000000" }

    background: Rectangle {
        color: Theme.background
        border.color: Theme.borderHoveredControlColor
        radius: 6
    }

    Item {
        anchors.fill: parent

        ColumnLayout {
            id: column
            anchors.left: parent.left
            anchors.right: parent.right
            spacing: 10

            Label {
                Layout.fillWidth: true
                text: "Update Device: " + dialog.address
                font.pixelSize: Theme.bigTextSize
                color: Theme.hoveredTextColor
                elide: Text.ElideRight
            }

            RowLayout {
                spacing: 8
                enabled: !dialog.busy
                Label { text: "Factory password:" }
                TextField {
                    id: passwordField
                    objectName: "updatePasswordField"
                    Layout.preferredWidth: Theme.w(220)
                    echoMode: TextInput.Password
                }
            }

            ToolSeparator {
                orientation: Qt.Horizontal
                Layout.fillWidth: true
            }

            Label { text: "Available options:" }

            FirmwareSelectors {
                id: selectors
                objectName: "firmwareSelectors"
                Layout.fillWidth: true
                enabled: !dialog.busy
                unlocked: dialog.unlocked
                modifications: fileHandler.modifications
                revisions: fileHandler.revisions
                versions: fileHandler.versions
                onChosen: (field, value) => dialog.choose(field, value)
            }

            Label {
                Layout.fillWidth: true
                text: "* Use factory password to access all options"
                font.pixelSize: Theme.smallTextSize
                color: Theme.blockedTextColor
            }

            Label {
                objectName: "catalogueError"
                Layout.fillWidth: true
                visible: text !== ""
                text: dialog.catalogueError
                wrapMode: Text.Wrap
                font.pixelSize: Theme.smallTextSize
                color: Theme.linkTextColor
            }

            RowLayout {
                Layout.alignment: Qt.AlignRight
                spacing: 8
                // Always there, so that a catalogue that does not answer keeps nobody here.
                Button {
                    objectName: "updateCancelButton"
                    text: "Cancel"
                    onClicked: dialog.close()
                }
                HoldButton {
                    objectName: "updateHoldButton"
                    Layout.preferredWidth: Theme.w(140)
                    text: "Update"
                    doneText: "Start"
                    enabled: dialog.ready && !dialog.busy
                    onHeld: dialog.startUpdate()
                }
            }
        }

        BusyIndicator {
            anchors.centerIn: parent
            running: dialog.busy
        }
    }

    UpdateProgressDialog {
        id: progress
        objectName: "progressDialog"
        // A finished update ends the choice; after a failed one the user may try again.
        onClosed: if (progress.completed) dialog.close()
    }
}
