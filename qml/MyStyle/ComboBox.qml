pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Templates as T
import Theme
import "ControlColors.js" as Colors

T.ComboBox {
    id: control

    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             implicitContentHeight + topPadding + bottomPadding,
                             implicitIndicatorHeight + topPadding + bottomPadding)
    leftPadding: padding + 4
    rightPadding: padding + 4 + (indicator ? indicator.width : 0)
    font: Theme.applicationFont
    hoverEnabled: true

    delegate: ItemDelegate {
        required property var modelData
        required property int index
        width: ListView.view.width
        text: control.textRole ? modelData[control.textRole] : modelData
        highlighted: control.highlightedIndex === index
        hoverEnabled: control.hoverEnabled
    }

    indicator: Canvas {
        x: control.width - width - control.padding - 4
        y: control.topPadding + (control.availableHeight - height) / 2
        width: 12
        height: 8
        contextType: "2d"
        readonly property color stroke: Colors.text(Theme, control)
        onStrokeChanged: requestPaint()
        onPaint: {
            const ctx = getContext("2d")
            ctx.reset()
            ctx.strokeStyle = stroke
            ctx.lineWidth = 1.5
            ctx.moveTo(1, 1)
            ctx.lineTo(width / 2, height - 1)
            ctx.lineTo(width - 1, 1)
            ctx.stroke()
        }
    }

    contentItem: T.TextField {
        leftPadding: 0
        rightPadding: 0
        text: control.editable ? control.editText : control.displayText
        enabled: control.editable
        autoScroll: control.editable
        readOnly: control.down
        inputMethodHints: control.inputMethodHints
        validator: control.validator
        selectByMouse: control.selectTextByMouse
        font: control.font
        color: !control.enabled ? Theme.blockedTextColor
             : control.editable && !control.acceptableInput ? Theme.linkTextColor
             : Theme.hoveredTextColor
        selectionColor: Theme.borderPressedControlColor
        selectedTextColor: Theme.hoveredTextColor
        verticalAlignment: Text.AlignVCenter
    }

    background: Rectangle {
        implicitWidth: 160
        implicitHeight: 32
        radius: 3
        color: Colors.fill(Theme, control)
        border.width: 1
        border.color: Colors.border(Theme, control)
    }

    popup: T.Popup {
        y: control.height + 2
        width: control.width
        height: Math.min(contentItem.implicitHeight + 2, control.Window.height - topMargin - bottomMargin)
        padding: 1
        topMargin: 6
        bottomMargin: 6

        contentItem: ListView {
            clip: true
            implicitHeight: contentHeight
            model: control.delegateModel
            currentIndex: control.highlightedIndex
            highlightMoveDuration: 0
            T.ScrollIndicator.vertical: ScrollIndicator { }
        }

        background: Rectangle {
            color: Theme.backgroundControlColor
            border.color: Theme.borderIdleControlColor
            radius: 3
        }
    }
}
