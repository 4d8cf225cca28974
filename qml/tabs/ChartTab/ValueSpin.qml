import QtQuick
import MyStyle 1.0

// The style's spin box for decimal values: it counts in steps of the last shown digit
// (value = shown value x 10^decimals).
SpinBox {
    property int decimals: 0
    readonly property real factor: Math.pow(10, decimals)

    inputMethodHints: Qt.ImhFormattedNumbersOnly
    textFromValue: (v, locale) => (v / factor).toFixed(decimals)
    valueFromText: (text, locale) => Math.round(Number(text) * factor)
}
