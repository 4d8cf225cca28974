import QtQuick
import QtQuick.Layouts
import MyStyle 1.0
import Theme
import MyWorker 1.0
import "../logic/Address.js" as Address

// The address of the unit to connect to, typed or picked from the units found on the network.
Item {
    id: form

    signal quitRequested()

    property alias addressField: addressBox

    // Quitting stays possible while a connection attempt holds the rest of the form.
    readonly property bool formEnabled: Worker.GUIEnable

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: Math.round(20 * Theme.widthScale)
        spacing: Math.round(12 * Theme.heightScale)

        Label {
            enabled: form.formEnabled
            text: "Connect to ControlUnit (TCP/IP address)"
            font.pixelSize: Theme.normalTextSize
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 6

            ComboBox {
                id: addressBox
                objectName: "addressBox"
                Layout.fillWidth: true
                enabled: form.formEnabled
                editable: true
                model: Worker.AvailableControlUnits
                validator: RegularExpressionValidator { regularExpression: Address.pattern }
                // The form offers the unit last asked for, also after a lost connection.
                readonly property string unitAddress: Worker.CurrentAddress
                onUnitAddressChanged: editText = unitAddress
                Component.onCompleted: editText = unitAddress
                onAccepted: if (goButton.enabled) goButton.clicked()
            }
            Button {
                objectName: "refreshButton"
                Layout.preferredWidth: implicitHeight * 1.4
                enabled: form.formEnabled
                icon.source: "qrc:/Images/refresh.svg"
                onClicked: Worker.updateAvailableControlUnitList()
            }
            Button {
                id: goButton
                objectName: "goButton"
                Layout.preferredWidth: implicitHeight * 1.4
                icon.source: "qrc:/Images/connect.svg"
                enabled: form.formEnabled && addressBox.acceptableInput
                onClicked: Worker.connectToControlUnit(addressBox.editText)
            }
            Button {
                objectName: "quitButton"
                Layout.preferredWidth: implicitHeight * 1.4
                icon.source: "qrc:/Images/quit.svg"
                onClicked: form.quitRequested()
            }
        }

        Label {
            Layout.fillWidth: true
            Layout.fillHeight: true
            text: Worker.statusText
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignTop
            font.pixelSize: Theme.smallTextSize
        }
    }
}
