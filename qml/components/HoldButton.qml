import QtQuick
import QtQuick.Templates as T
import Theme

// A button that acts only after it has been held down for a while, for commands that cannot be
// taken back: while held it counts down the remaining time and fills up; released early it
// forgets the press; held to the end it emits held() and shows doneText for a moment.
T.Button {
    id: control

    property int holdDuration: 2000
    property string doneText: "Done"
    readonly property int progress: d.progress
    readonly property bool completed: d.completed

    signal held()

    function reset() {
        tick.stop()
        d.progress = 0
        d.completed = false
    }

    QtObject {
        id: d
        property int progress: 0
        property bool completed: false
    }

    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             implicitContentHeight + topPadding + bottomPadding)
    padding: 6
    horizontalPadding: padding + 4
    font: Theme.applicationFont
    hoverEnabled: true

    onPressed: {
        if (d.completed)
            return
        d.progress = 0
        tick.start()
    }
    onReleased: if (!d.completed) control.reset()
    onCanceled: if (!d.completed) control.reset()

    Timer {
        id: tick
        interval: 50
        repeat: true
        onTriggered: {
            d.progress = Math.min(d.progress + interval, control.holdDuration)
            if (d.progress < control.holdDuration)
                return
            stop()
            d.completed = true
            control.held()
            after.start()
        }
    }
    Timer {
        id: after
        interval: 500
        onTriggered: control.reset()
    }

    contentItem: Text {
        text: d.completed ? control.doneText
              : tick.running ? ((control.holdDuration - d.progress) / 1000).toFixed(1) + " sec"
              : control.text
        font: control.font
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
        color: !control.enabled ? Theme.blockedTextColor
               : control.hovered || control.down ? Theme.hoveredTextColor : Theme.idleTextColor
    }

    background: Rectangle {
        implicitWidth: 120
        implicitHeight: 32
        radius: 3
        color: control.enabled && control.hovered ? Theme.backgroundHoveredControlColor
                                                  : Theme.backgroundControlColor
        border.width: 1
        border.color: !control.enabled ? Theme.borderDisableControlColor
                      : control.down ? Theme.borderPressedControlColor
                      : control.hovered ? Theme.borderHoveredControlColor
                      : Theme.borderIdleControlColor

        Rectangle {
            x: 1
            y: 1
            height: parent.height - 2
            width: (parent.width - 2) * d.progress / Math.max(1, control.holdDuration)
            radius: 2
            color: Theme.borderPressedControlColor
            opacity: d.completed ? 0.8 : 0.5
        }
    }
}
