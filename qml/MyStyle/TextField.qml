import QtQuick
import QtQuick.Templates as T
import Theme
import "ControlColors.js" as Colors

T.TextField {
    id: control

    implicitWidth: implicitBackgroundWidth + leftInset + rightInset
                   || Math.max(contentWidth, placeholder.implicitWidth) + leftPadding + rightPadding
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             contentHeight + topPadding + bottomPadding,
                             placeholder.implicitHeight + topPadding + bottomPadding)
    padding: 6
    leftPadding: padding + 4
    font: Theme.applicationFont
    hoverEnabled: true
    color: enabled ? (acceptableInput ? Theme.hoveredTextColor : Theme.linkTextColor)
                   : Theme.blockedTextColor
    selectionColor: Theme.borderPressedControlColor
    selectedTextColor: Theme.hoveredTextColor
    placeholderTextColor: Theme.blockedTextColor
    verticalAlignment: TextInput.AlignVCenter

    Text {
        id: placeholder
        x: control.leftPadding
        y: control.topPadding
        width: control.width - (control.leftPadding + control.rightPadding)
        height: control.height - (control.topPadding + control.bottomPadding)
        text: control.placeholderText
        font: control.font
        color: control.placeholderTextColor
        verticalAlignment: control.verticalAlignment
        visible: !control.length && !control.preeditText
        elide: Text.ElideRight
    }

    background: Rectangle {
        implicitWidth: 200
        implicitHeight: 32
        radius: 3
        color: Colors.fill(Theme, control)
        border.width: 1
        border.color: Colors.border(Theme, control)
    }
}
