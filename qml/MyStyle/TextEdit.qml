import QtQuick
import QtQuick.Templates as T
import Theme
import "ControlColors.js" as Colors

// Multi-line text in a bordered box, as TextField draws a single line.
T.TextArea {
    id: control

    implicitWidth: Math.max(contentWidth + leftPadding + rightPadding,
                            implicitBackgroundWidth + leftInset + rightInset)
    implicitHeight: Math.max(contentHeight + topPadding + bottomPadding,
                             implicitBackgroundHeight + topInset + bottomInset)
    padding: 6
    leftPadding: padding + 4
    font: Theme.applicationFont
    hoverEnabled: true
    wrapMode: TextEdit.Wrap
    color: enabled ? Theme.hoveredTextColor : Theme.blockedTextColor
    selectionColor: Theme.borderPressedControlColor
    selectedTextColor: Theme.hoveredTextColor
    placeholderTextColor: Theme.blockedTextColor

    background: Rectangle {
        implicitWidth: 200
        implicitHeight: 32
        radius: 3
        color: Colors.fill(Theme, control)
        border.width: 1
        border.color: control.readOnly ? Theme.borderDisableControlColor
                                       : Colors.border(Theme, control)
    }
}
