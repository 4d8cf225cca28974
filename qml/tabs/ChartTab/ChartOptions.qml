import QtQuick
import QtQuick.Layouts
import MyStyle 1.0
import Theme
import MyWorker 1.0

// The settings of the two time plots: time constant, Y scaling and the X axis style.
Panel {
    id: options

    readonly property var settings: Worker.settings
    readonly property var rect: settings.chartRect

    title: "Chart options:"

    GridLayout {
        columns: 2
        Layout.fillWidth: true

        Label { text: "Time constant (s):" }
        TextField {
            objectName: "timeConstantField"
            Layout.fillWidth: true
            text: options.settings.timeConstant.toFixed(2)
            validator: DoubleValidator {
                bottom: 0.01; top: 100; decimals: 2
                notation: DoubleValidator.StandardNotation
            }
            onEditingFinished: if (acceptableInput) options.settings.timeConstant = Number(text)
        }

        Label { text: "Axis-Y autoscale" }
        Switch {
            objectName: "autoscaleSwitch"
            checked: options.settings.autoscale
            onToggled: options.settings.autoscale = checked
        }

        Label { text: "Min:"; visible: !options.settings.autoscale }
        TextField {
            objectName: "minField"
            Layout.fillWidth: true
            visible: !options.settings.autoscale
            text: options.rect ? Number(options.rect.bottom).toPrecision(3) : ""
            validator: DoubleValidator {}
            onEditingFinished: if (acceptableInput && options.rect) options.rect.bottom = Number(text)
        }
        Label { text: "Max:"; visible: !options.settings.autoscale }
        TextField {
            objectName: "maxField"
            Layout.fillWidth: true
            visible: !options.settings.autoscale
            text: options.rect ? Number(options.rect.top).toPrecision(3) : ""
            validator: DoubleValidator {}
            onEditingFinished: if (acceptableInput && options.rect) options.rect.top = Number(text)
        }

        Label { text: "Axis-X style" }
        ComboBox {
            objectName: "axisStyleBox"
            Layout.fillWidth: true
            model: ["free run", "windowed"]
            currentIndex: options.settings.mode === Worker.CpsVsTimeFreeRunning ? 0 : 1
            onActivated: index => options.settings.mode = index === 0 ? Worker.CpsVsTimeFreeRunning
                                                                      : Worker.CpsVsTimeWindowed
        }

        Label { text: "Time window (s)"; visible: options.settings.mode === Worker.CpsVsTimeWindowed }
        TextField {
            objectName: "timeWindowField"
            Layout.fillWidth: true
            visible: options.settings.mode === Worker.CpsVsTimeWindowed
            text: Math.round(options.settings.timeWindowSize)
            validator: IntValidator { bottom: 1; top: 1000 }
            onEditingFinished: if (acceptableInput) options.settings.timeWindowSize = Number(text)
        }
    }
}
