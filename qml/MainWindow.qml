pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import QtQuick.Window
import MyStyle 1.0
import Theme
import MyWorker 1.0
import "logic/Tabs.js" as Tabs

// The main window: the tab bar with its "+" menu over a stack with one page per tab.
ApplicationWindow {
    id: mainWindow

    property bool initialized: false
    readonly property alias tabModel: tabModel
    readonly property alias currentIndex: stack.currentIndex

    title: "SNSPD Zenthe Lab"
    version: Worker.WorkerVersion
    width: Math.round(800 * Theme.widthScale)
    height: Math.round(600 * Theme.heightScale)
    visible: false
    opacity: Worker.isSystemEqualRaspberryPi ? 1 : (visible ? 1 : 0)
    Behavior on opacity {
        enabled: !Worker.isSystemEqualRaspberryPi
        NumberAnimation { duration: 400 }
    }

    onVersionClicked: versionHistory.open()

    function pageAt(index) {
        const loader = pages.itemAt(index) as Loader
        return loader ? loader.item : null
    }

    function changeStackItem(name) {
        const index = Tabs.indexOf(tabModel, name)
        if (index < 0 || !tabModel.get(index).ready)
            return
        tabModel.setProperty(index, "shown", true)
        stack.currentIndex = index
        tabBar.currentIndex = index
    }

    function initializeMainWindow() {
        for (let i = 0; i < pages.count; ++i) {
            const page = pageAt(i)
            if (page)
                page.resetFunction()
        }
        Tabs.hideAllButFirst(tabModel)
        const first = pageAt(0)
        if (first)
            first.activate()
        initialized = true
    }

    function deInitializeMainWindow() {
        if (!initialized)
            return
        initialized = false
        const page = pageAt(stack.currentIndex)
        if (page)
            page.deactivate()
    }

    function closeTab(index) {
        const next = Tabs.close(tabModel, index, stack.currentIndex)
        if (next !== stack.currentIndex)
            changeStackItem(tabModel.get(next).name)
    }

    ListModel {
        id: tabModel
        Component.onCompleted: Tabs.fill(tabModel)
    }

    RowLayout {
        id: tabRow
        anchors.left: parent.left
        anchors.top: parent.top
        anchors.margins: 10
        spacing: 5
        height: Math.round(39 * Theme.heightScale)

        TabBar {
            id: tabBar
            objectName: "tabBar"
            Layout.fillHeight: true
            spacing: 0

            Repeater {
                model: tabModel
                TabButton {
                    id: tabButton
                    required property int index
                    required property string name
                    required property string iconPath
                    required property bool shown
                    required property bool alwaysVisible
                    required property bool showsText

                    readonly property int tabWidth: Math.round(180 * Theme.widthScale)
                    visible: shown
                    width: shown ? tabWidth + 5 : 0
                    height: tabBar.height
                    rightInset: 5
                    rightPadding: padding + 5
                    text: showsText ? name : ""
                    icon.source: iconPath.length > 0 ? "qrc:/" + iconPath : ""
                    icon.width: Math.round(20 * Theme.fontScale)
                    icon.height: Math.round(20 * Theme.fontScale)
                    onToggled: mainWindow.changeStackItem(name)

                    Rectangle {
                        id: closeButton
                        readonly property int size: Math.round(16 * Theme.fontScale)
                        width: size
                        height: size
                        radius: size / 2
                        x: parent.width - parent.rightInset - size / 2 - 2
                        y: -size / 4
                        visible: !tabButton.alwaysVisible && tabBar.enabled
                                 && (tabButton.hovered || closeArea.containsMouse)
                        color: closeArea.containsMouse ? "#9D0000" : Qt.darker("#9D0000", 1.5)
                        Text {
                            anchors.centerIn: parent
                            text: "\u2715"
                            color: Theme.background
                            font.pixelSize: parent.size * 0.7
                        }
                        MouseArea {
                            id: closeArea
                            anchors.fill: parent
                            hoverEnabled: true
                            onClicked: mainWindow.closeTab(tabButton.index)
                        }
                    }
                }
            }
        }

        Button {
            id: plusButton
            objectName: "plusButton"
            Layout.preferredWidth: Math.round(29 * Theme.fontScale) + 12
            Layout.fillHeight: true
            icon.source: "qrc:/Images/plus-24px.svg"
            onClicked: addMenu.popup(plusButton, 0, plusButton.height)

            Menu {
                id: addMenu
                objectName: "addMenu"
                Instantiator {
                    model: Tabs.menuEntries(tabModel)
                    delegate: MenuItem {
                        required property int modelData
                        text: tabModel.get(modelData).name
                        enabled: Tabs.menuEntryEnabled(tabModel, modelData)
                        icon.source: "qrc:/" + tabModel.get(modelData).iconPath
                        onTriggered: mainWindow.changeStackItem(text)
                    }
                    onObjectAdded: (index, object) => addMenu.insertItem(index, object)
                    onObjectRemoved: (index, object) => addMenu.removeItem(object)
                }
            }
        }
    }

    Rectangle {
        anchors.top: tabRow.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: 10
        color: "transparent"
        border.width: 1
        border.color: Theme.borderIdleControlColor

        StackLayout {
            id: stack
            anchors.fill: parent
            anchors.margins: 1
            onCurrentIndexChanged: {
                if (!mainWindow.initialized)
                    return
                const page = mainWindow.pageAt(currentIndex)
                if (page)
                    page.activate()
            }

            Repeater {
                id: pages
                model: tabModel
                Loader {
                    id: pageLoader
                    required property string page
                    required property bool ready
                    active: ready
                    source: ready ? page : ""

                    // Every page offers these signals; which page it is, is known only
                    // once it has loaded.
                    Connections {
                        target: pageLoader.item
                        function onOpenOther(name) {
                            mainWindow.changeStackItem(name)
                        }
                        function onStartReading() {
                            tabBar.enabled = false
                            plusButton.enabled = false
                        }
                        function onStopReading() {
                            tabBar.enabled = true
                            plusButton.enabled = true
                        }
                    }
                }
            }
        }
    }

    VersionHistory {
        id: versionHistory
        anchors.centerIn: parent
    }
}
