import QtQuick
import QtQuick.Templates as T
import Theme
import "ControlColors.js" as Colors

// A round indicator with an orange dot when checked, the text beside it.
T.RadioButton {
    id: control

    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             implicitContentHeight + topPadding + bottomPadding,
                             implicitIndicatorHeight + topPadding + bottomPadding)
    padding: 6
    spacing: 8
    font: Theme.applicationFont
    hoverEnabled: true

    indicator: Rectangle {
        readonly property int size: Math.round(18 * Theme.fontScale)
        implicitWidth: size
        implicitHeight: size
        x: control.leftPadding
        y: control.topPadding + (control.availableHeight - height) / 2
        radius: width / 2
        color: Colors.fill(Theme, control)
        border.width: 1
        border.color: Colors.border(Theme, control)

        Rectangle {
            anchors.centerIn: parent
            width: parent.width / 2
            height: width
            radius: width / 2
            color: control.enabled ? Theme.linkTextColor : Theme.borderDisableControlColor
            visible: control.checked
        }
    }

    contentItem: Text {
        leftPadding: control.indicator.width + control.spacing
        text: control.text
        font: control.font
        color: Colors.text(Theme, control)
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }
}
