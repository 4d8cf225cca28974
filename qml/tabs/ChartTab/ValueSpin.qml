import QtQuick
import QtQuick.Controls.Basic as Basic
import Theme

// A spin box for decimal values in the scene's colours: it counts in steps of the last shown
// digit (value = shown value x 10^decimals).
Basic.SpinBox {
    id: control

    property int decimals: 0
    readonly property real factor: Math.pow(10, decimals)

    editable: true
    font.family: Theme.applicationFont.family
    font.pixelSize: Theme.smallTextSize
    textFromValue: (v, locale) => (v / factor).toFixed(decimals)
    valueFromText: (text, locale) => Math.round(Number(text) * factor)

    contentItem: TextInput {
        text: control.displayText
        font: control.font
        color: control.enabled ? Theme.idleTextColor : Theme.blockedTextColor
        selectionColor: Theme.borderPressedControlColor
        horizontalAlignment: Qt.AlignHCenter
        verticalAlignment: Qt.AlignVCenter
        readOnly: !control.editable
        validator: control.validator
        inputMethodHints: Qt.ImhFormattedNumbersOnly
    }

    component Step: Rectangle {
        required property Basic.SpinBox spin
        property bool pressed: false
        property string sign: ""
        implicitWidth: 22
        implicitHeight: 26
        height: spin.height
        color: pressed ? Theme.backgroundHoveredControlColor : "transparent"
        Text {
            anchors.centerIn: parent
            text: parent.sign
            color: parent.spin.enabled ? Theme.linkTextColor : Theme.blockedTextColor
            font.pixelSize: Theme.normalTextSize
        }
    }

    up.indicator: Step {
        spin: control
        x: control.mirrored ? 0 : control.width - width
        pressed: control.up.pressed
        sign: "+"
    }
    down.indicator: Step {
        spin: control
        x: control.mirrored ? control.width - width : 0
        pressed: control.down.pressed
        sign: "\u2212"
    }
    background: Rectangle {
        implicitWidth: 120
        color: Theme.backgroundControlColor
        border.width: 1
        border.color: control.activeFocus ? Theme.borderHoveredControlColor
                                          : control.enabled ? Theme.borderIdleControlColor
                                                            : Theme.borderDisableControlColor
        radius: 3
    }
}
