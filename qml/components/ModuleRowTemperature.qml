import QtQuick
import QtQuick.Layouts
import MyStyle 1.0
import Theme
import "../logic/ModuleRow.js" as Logic

// A home view row of a temperature module: its reading.
ModuleRow {
    id: temperatureRow

    required property int address
    required property var status
    required property var operate
    required property var temperature

    moduleAddress: address
    moduleStatus: status
    moduleOperate: operate
    title: "Temperature"
    iconSource: "qrc:/Images/temperature.svg"
    textColor: Logic.temperatureColor(Theme, operate)

    Label {
        objectName: "valueLabel"
        Layout.fillWidth: true
        Layout.minimumWidth: implicitWidth
        text: Logic.temperatureText(temperatureRow.temperature)
        color: temperatureRow.textColor
    }
}
