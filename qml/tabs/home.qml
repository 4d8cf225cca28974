import QtQuick
import QtQuick.Layouts
import MyStyle 1.0
import Theme
import MyWorker 1.0
import "../dialogs"

// The home view: every module of the unit with its address, kind and live values.
BlankStackItem {
    id: home
    mode: Worker.WorkerModeAllChannels

    DeviceManager { id: deviceManager; objectName: "deviceManager" }

    function kindOf(type) {
        switch (type) {
        case Datalist.DeviceTypeSspdM0:
        case Datalist.DeviceTypeSspdM1: return "SSPD"
        case Datalist.DeviceTypeTempM0:
        case Datalist.DeviceTypeTempM1: return "Temperature"
        default: return "---"
        }
    }

    function lampColor(status) {
        if (status === Datalist.DeviceStatusIdle || status === undefined)
            return Theme.backgroundHoveredControlColor
        if (status === Datalist.DeviceStatusActive)
            return Qt.darker("#55AD00", 1.2)
        return Qt.darker("red", 1.5)
    }

    function missing(value) {
        return value === undefined || value === null || isNaN(value)
    }

    function currentText(amperes) {
        return missing(amperes) ? "---" : (amperes * 1e6).toFixed(1) + " μA"
    }

    function cpsText(cps) {
        return missing(cps) ? "---" : Number(cps).toPrecision(4) + " cps"
    }

    function temperatureText(kelvin) {
        return missing(kelvin) ? "---" : Number(kelvin).toFixed(1) + " K"
    }

    ListView {
        id: list
        objectName: "moduleList"
        anchors.fill: parent
        anchors.margins: 10
        clip: true
        spacing: 4
        model: DataModel
        ScrollBar.vertical: ScrollBar {
            policy: list.contentHeight > list.height ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
        }

        delegate: Rectangle {
            id: row
            required property var model
            readonly property bool operating: row.model.operate === true

            width: ListView.view.width - 12
            height: Math.round(48 * Theme.heightScale)
            radius: 3
            color: Theme.backgroundControlColor
            border.width: 1
            border.color: Theme.borderIdleControlColor

            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: 12
                anchors.rightMargin: 12
                spacing: 16

                Rectangle {
                    objectName: "statusLamp"
                    implicitWidth: 12
                    implicitHeight: 12
                    radius: 6
                    color: home.lampColor(row.model.status)
                }
                Image {
                    readonly property string kind: home.kindOf(row.model.type)
                    source: kind === "SSPD" ? "qrc:/Images/SSPD.svg"
                          : kind === "Temperature" ? "qrc:/Images/temperature.svg" : ""
                    sourceSize: Qt.size(24, 24)
                    Layout.preferredWidth: 24
                }
                Label {
                    Layout.preferredWidth: Math.round(60 * Theme.widthScale)
                    text: "#" + row.model.address
                }
                Label {
                    Layout.preferredWidth: Math.round(180 * Theme.widthScale)
                    text: home.kindOf(row.model.type)
                }
                Label {
                    objectName: "valueLabel"
                    Layout.fillWidth: true
                    color: row.operating ? Theme.idleTextColor : Theme.blockedTextColor
                    text: {
                        switch (home.kindOf(row.model.type)) {
                        case "SSPD":
                            return home.currentText(row.model.current) + "    "
                                    + home.cpsText(row.model.cps)
                        case "Temperature":
                            return home.temperatureText(row.model.temperature)
                        default:
                            return ""
                        }
                    }
                }
                Label {
                    text: row.operating ? "on" : "off"
                    color: row.operating ? Theme.linkTextColor : Theme.blockedTextColor
                }
            }
        }
    }
}
