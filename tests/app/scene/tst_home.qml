import QtQuick
import QtTest
import "../../../qml/logic/ModuleRow.js" as Row

// The texts and colours of the home view's module rows, for values present and missing.
TestCase {
    name: "HomeRows"

    readonly property var palette: ({ blockedTextColor: "#666666", linkTextColor: "#F16321",
        idleTextColor: "#CCCCCC", backgroundHoveredControlColor: "#2C2C2C" })

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
        compare(String(Row.temperatureColor(palette, data.operate)),
                data.operate ? "#CCCCCC" : "#666666")
    }

    function test_lampAndTexts() {
        compare(String(Row.lampColor(palette, 0)), "#2C2C2C")
        compare(String(Row.lampColor(palette, undefined)), "#2C2C2C")
        verify(!Qt.colorEqual(Row.lampColor(palette, 1), Row.lampColor(palette, 2)))
        compare([undefined, NaN, 1234.5].map(Row.cpsText), ["---", "---", "1235 cps"])
        compare([undefined, 4.26].map(Row.temperatureText), ["---", "4.3 K"])
    }

    // The spin box counts tenths of a microampere.
    function test_spinBox() {
        compare([undefined, 2.5e-6, -1e-3].map(Row.spinStepsOf), [0, 25, -1000])
        compare([25, -3].map(Row.spinText), ["2.5 μA", "-0.3 μA"])
        compare(["2.5", "-3,1 μA"].map(Row.spinStepsOfText), [25, -31])
        verify(isNaN(Row.spinStepsOfText("-")) && isNaN(Row.spinStepsOfText("abc")))
        fuzzyCompare(Row.amperesOf(2.5), 2.5e-6, 1e-15)
    }

    function test_kindsAndLabels() {
        compare([0, 1, 2, 3, 4].map(Row.rowKind), ["sspd", "sspd", "temperature", "temperature", ""])
        compare(Row.channelLabel(1, 3), "SSPD #3")
        compare(Row.channelLabel(3, 5), "Temperature #5")
        compare(Row.channelLabel(4, 6), "")
        compare(["/home/lab/preset.json", "/preset.json", "preset.json"].map(Row.folderUrlOf),
                ["file:///home/lab", "file:///", ""])
    }
}
