import QtQuick
import MyStyle 1.0
import "../logic/UnitAddress.js" as UnitAddress

// A field that takes only a module bus address (0 to 31).
TextField {
    placeholderText: "0 - 31"
    inputMethodHints: Qt.ImhDigitsOnly
    validator: RegularExpressionValidator { regularExpression: UnitAddress.pattern }
}
