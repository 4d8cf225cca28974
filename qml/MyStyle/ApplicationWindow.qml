pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Window
import QtQuick.Templates as T
import Theme

// A frameless window with its own title bar (title, version, window buttons), a thin border
// and invisible grips along the edges for resizing.
T.ApplicationWindow {
    id: window

    property string version: ""
    signal versionClicked()

    readonly property bool maximized: visibility === Window.Maximized
                                      || visibility === Window.FullScreen

    flags: Qt.Window | Qt.FramelessWindowHint
    color: Theme.background
    font: Theme.applicationFont

    function toggleMaximized() {
        if (maximized)
            showNormal()
        else
            showMaximized()
    }

    header: Rectangle {
        id: titleBar
        implicitHeight: Math.round(32 * Theme.heightScale)
        color: Theme.backgroundControlColor

        MouseArea {
            anchors.fill: parent
            acceptedButtons: Qt.LeftButton
            onPressed: window.startSystemMove()
            onDoubleClicked: window.toggleMaximized()
        }

        Row {
            anchors.left: parent.left
            anchors.leftMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            spacing: 16

            Text {
                text: window.title
                color: Theme.idleTextColor
                font.family: Theme.applicationFont.family
                font.pixelSize: Theme.smallTextSize
            }
            Text {
                text: "v. " + (window.version.length > 0 ? window.version : "---")
                color: versionArea.containsMouse ? Theme.linkTextColor : Theme.blockedTextColor
                font.family: Theme.applicationFont.family
                font.pixelSize: Theme.smallTextSize
                MouseArea {
                    id: versionArea
                    anchors.fill: parent
                    hoverEnabled: true
                    cursorShape: Qt.PointingHandCursor
                    onClicked: window.versionClicked()
                }
            }
        }

        Row {
            anchors.right: parent.right
            anchors.rightMargin: 1
            anchors.verticalCenter: parent.verticalCenter
            ButtonMinimize {
                onClicked: window.showMinimized()
            }
            ButtonMaximize {
                visible: !window.maximized
                onClicked: window.showMaximized()
            }
            ButtonNormal {
                visible: window.maximized
                onClicked: window.showNormal()
            }
            ButtonClose {
                onClicked: window.close()
            }
        }
    }

    // Border and resize grips lie above the content.
    Item {
        parent: window.contentItem.parent
        anchors.fill: parent
        z: 1000

        Rectangle {
            anchors.fill: parent
            color: "transparent"
            border.width: 1
            border.color: window.active ? Theme.borderIdleControlColor
                                        : Theme.borderDisableControlColor
        }

        component Grip: MouseArea {
            property int edges
            enabled: !window.maximized
            onPressed: window.startSystemResize(edges)
        }

        Grip {
            width: 5
            anchors { left: parent.left; top: parent.top; bottom: parent.bottom; bottomMargin: 10 }
            edges: Qt.LeftEdge
            cursorShape: Qt.SizeHorCursor
        }
        Grip {
            width: 5
            anchors { right: parent.right; top: parent.top; bottom: parent.bottom; bottomMargin: 10 }
            edges: Qt.RightEdge
            cursorShape: Qt.SizeHorCursor
        }
        Grip {
            height: 5
            anchors { left: parent.left; right: parent.right; bottom: parent.bottom
                      leftMargin: 10; rightMargin: 10 }
            edges: Qt.BottomEdge
            cursorShape: Qt.SizeVerCursor
        }
        Grip {
            width: 10
            height: 10
            anchors { left: parent.left; bottom: parent.bottom }
            edges: Qt.LeftEdge | Qt.BottomEdge
            cursorShape: Qt.SizeBDiagCursor
        }
        Grip {
            width: 10
            height: 10
            anchors { right: parent.right; bottom: parent.bottom }
            edges: Qt.RightEdge | Qt.BottomEdge
            cursorShape: Qt.SizeFDiagCursor
        }
    }
}
