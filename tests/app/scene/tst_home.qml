import QtQuick
import QtTest
import "../../../qml/logic/ModuleRow.js" as Row

// The texts and colours of the home view's module rows, for values present and missing.
TestCase {
    name: "HomeRows"

    readonly property var palette: ({
        blockedTextColor: "#666666", linkTextColor: "#F16321", idleTextColor: "#CCCCCC",
        backgroundHoveredControlColor: "#2C2C2C"
    })

    function test_sspdColor_data() {
        return [
            { tag: "operate missing", operate: undefined, voltage: 1, color: "#666666" },
            { tag: "off", operate: false, voltage: 1, color: "#666666" },
            { tag: "on, superconducting", operate: true, voltage: 0.05, color: "#CCCCCC" },
            { tag: "on, latched", operate: true, voltage: 0.051, color: "#F16321" },
            { tag: "on, latched negative", operate: true, voltage: -0.2, color: "#F16321" },
            { tag: "on, voltage missing", operate: true, voltage: undefined, color: "#CCCCCC" }
        ]
    }

    function test_sspdColor(data) {
        compare(String(Row.sspdColor(palette, data.operate, data.voltage)), data.color)
    }

    function test_temperatureColor() {
        compare(Row.temperatureColor(palette, undefined), "#666666")
        compare(Row.temperatureColor(palette, true), "#CCCCCC")
        verify(!Row.operating(undefined) && !Row.operating(false) && Row.operating(true))
    }

    function test_lamp() {
        compare(String(Row.lampColor(palette, 0)), "#2C2C2C")
        compare(String(Row.lampColor(palette, undefined)), "#2C2C2C")
        verify(Qt.colorEqual(Row.lampColor(palette, 1), Qt.darker("#55AD00", 1.2)))
        verify(Qt.colorEqual(Row.lampColor(palette, 2), Qt.darker("red", 1.5)))
    }

    function test_texts() {
        compare(Row.cpsText(undefined), "---")
        compare(Row.cpsText(NaN), "---")
        compare(Row.cpsText(1234.5), "1235 cps")
        compare(Row.cpsText(0), "0.000 cps")
        compare(Row.temperatureText(undefined), "---")
        compare(Row.temperatureText(4.26), "4.3 K")
    }

    function test_spinBox() {
        compare(Row.spinStepsOf(undefined), 0)
        compare(Row.spinStepsOf(2.5e-6), 25)
        compare(Row.spinStepsOf(-1e-3), -1000)
        compare(Row.spinText(25), "2.5 μA")
        compare(Row.spinText(-3), "-0.3 μA")
        compare(Row.spinStepsOfText("2.5"), 25)
        compare(Row.spinStepsOfText("-3,1 μA"), -31)
        verify(isNaN(Row.spinStepsOfText("-")))
        verify(isNaN(Row.spinStepsOfText("abc")))
        fuzzyCompare(Row.amperesOf(2.5), 2.5e-6, 1e-15)
    }

    function test_kindsAndLabels() {
        compare([0, 1, 2, 3, 4].map(Row.rowKind), ["sspd", "sspd", "temperature", "temperature", ""])
        compare(Row.channelLabel(1, 3), "SSPD #3")
        compare(Row.channelLabel(3, 5), "Temperature #5")
        compare(Row.channelLabel(4, 6), "")
        compare(Row.folderUrlOf("/home/lab/preset.json"), "file:///home/lab")
        compare(Row.folderUrlOf("/preset.json"), "file:///")
        compare(Row.folderUrlOf("preset.json"), "")
    }
}
