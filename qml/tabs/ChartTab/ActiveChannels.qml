pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import MyStyle 1.0
import Theme
import MyWorker 1.0
import "../../logic/Scope.js" as Scope

// The channels a time plot records: one series each; a channel's settings button opens its
// driver page.
Panel {
    id: panel

    property string prefix: "SSPD "
    property var types: []
    readonly property alias count: channels.count
    // The menu entries: every fitting module of the unit, as prefix plus address.
    property var entries: []

    signal addSeries(string name)
    signal removeSeries(string name)
    signal openSettings()

    title: "Active Channels:"

    function isActive(name) {
        for (let i = 0; i < channels.count; ++i)
            if (channels.get(i).name === name)
                return true
        return false
    }

    function names() {
        const list = []
        for (let i = 0; i < channels.count; ++i)
            list.push(channels.get(i).name)
        return list
    }

    function refresh() {
        const records = []
        for (let i = 0; i < DataModel.rowCount(); ++i)
            records.push({ address: DataModel.data(i, "address"), type: DataModel.data(i, "type") })
        entries = Scope.channelList(records, prefix, types).slice(1)
    }

    function add(name) {
        if (isActive(name))
            return
        channels.append({ name: name })
        addSeries(name)
    }

    function remove(name) {
        for (let i = channels.count - 1; i >= 0; --i) {
            if (channels.get(i).name === name) {
                channels.remove(i)
                removeSeries(name)
                return
            }
        }
    }

    function removeAll() {
        while (channels.count > 0)
            remove(channels.get(channels.count - 1).name)
    }

    readonly property bool allActive: entries.every(name => isActive(name))

    ListModel { id: channels }

    Repeater {
        model: channels
        delegate: RowLayout {
            required property string name
            Layout.fillWidth: true
            Label {
                Layout.fillWidth: true
                elide: Text.ElideRight
                text: parent.name
            }
            Button {
                objectName: "channelSettingsButton"
                Layout.preferredWidth: implicitHeight * 2.2
                text: "Settings"
                onClicked: {
                    Worker.settings.activeChannel = Scope.channelOf(parent.name)
                    panel.openSettings()
                }
            }
            Button {
                objectName: "channelRemoveButton"
                Layout.preferredWidth: implicitHeight
                text: "\u2715"
                onClicked: panel.remove(parent.name)
            }
        }
    }

    Button {
        id: addButton
        objectName: "addChannelButton"
        text: "Add Channel"
        Layout.fillWidth: true
        enabled: !panel.allActive
        onClicked: addMenu.popup(addButton, 0, addButton.height)

        Menu {
            id: addMenu
            objectName: "addChannelMenu"
            onAboutToShow: panel.refresh()
            onClosed: panel.refresh()

            Instantiator {
                model: panel.entries.length > 1 ? ["All Items"].concat(panel.entries) : panel.entries
                delegate: MenuItem {
                    required property string modelData
                    text: modelData
                    enabled: modelData === "All Items" ? !panel.allActive : !panel.isActive(modelData)
                    onTriggered: {
                        if (modelData === "All Items")
                            panel.entries.forEach(name => panel.add(name))
                        else
                            panel.add(modelData)
                    }
                }
                onObjectAdded: (index, object) => addMenu.insertItem(index, object)
                onObjectRemoved: (index, object) => addMenu.removeItem(object)
            }
        }
    }
}
