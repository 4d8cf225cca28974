import QtQuick
import QtQuick.Layouts
import MyStyle 1.0
import Theme
import "../../logic/Scope.js" as Scope

// The channel a sweep runs on and the postfix that tells its series apart.
Panel {
    id: process

    property var channels: ["None"]
    readonly property string channel: combo.currentIndex >= 0 ? channels[combo.currentIndex] : "None"
    readonly property string seriesName: Scope.seriesName(channel, postfix.text)
    property bool reading: false

    title: "Process:"

    function fill(list) {
        channels = list
        combo.currentIndex = 0
    }

    function select(name) {
        const index = channels.indexOf(name)
        if (index >= 0)
            combo.currentIndex = index
    }

    GridLayout {
        columns: 2
        Layout.fillWidth: true
        Label { text: "Channel" }
        ComboBox {
            id: combo
            objectName: "channelBox"
            Layout.fillWidth: true
            model: process.channels
            enabled: !process.reading
        }
        Label { text: "Postfix" }
        TextField {
            id: postfix
            objectName: "postfixField"
            Layout.fillWidth: true
            enabled: !process.reading
        }
    }
}
