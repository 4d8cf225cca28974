import QtQuick
import QtQuick.Layouts
import MyStyle 1.0
import Theme
import MyWorker 1.0
import "../logic/ModuleRow.js" as Logic

// A home view row of an SSPD channel: its bias current to set and its count rate.
ModuleRow {
    id: sspd

    required property var model
    required property int address
    required property var status
    required property var operate
    required property var current
    required property var voltage
    required property var cps

    moduleAddress: address
    moduleStatus: status
    moduleOperate: operate
    title: "SSPD"
    iconSource: "qrc:/Images/SSPD.svg"
    textColor: Logic.sspdColor(Theme, operate, voltage)

    // A bias current chosen by the user, in microamperes.
    function setCurrent(microamperes) {
        const amperes = Logic.amperesOf(microamperes)
        Worker.setParameter(sspd.address, "current", amperes)
        sspd.model.current = amperes
    }

    SpinBox {
        id: spin
        objectName: "currentSpinBox"
        from: Logic.SpinMinimum
        to: Logic.SpinMaximum
        stepSize: 1
        value: Logic.spinStepsOf(sspd.current)
        textFromValue: function (steps) { return Logic.spinText(steps) }
        valueFromText: function (text) {
            const steps = Logic.spinStepsOfText(text)
            return isNaN(steps) ? spin.value : steps
        }
        validator: RegularExpressionValidator {
            regularExpression: /[-+]?\d{0,3}([.,]\d?)?\s?(μA?|uA?)?/
        }
        onValueModified: sspd.setCurrent(value / 10)
    }
    Label {
        objectName: "valueLabel"
        Layout.fillWidth: true
        Layout.minimumWidth: implicitWidth
        text: Logic.cpsText(sspd.cps)
        color: sspd.textColor
    }
}
