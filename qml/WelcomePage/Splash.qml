import QtQuick
import Theme
import MyWorker 1.0

// The producer's splash: artwork, name and the worker's status line.
Item {
    id: splash

    property string brand
    property string artwork
    property color accent: Theme.linkTextColor

    clip: true

    Image {
        id: picture
        anchors.fill: parent
        anchors.margins: 4
        source: splash.artwork
        sourceSize.width: width
        sourceSize.height: height
        fillMode: Image.PreserveAspectFit
        opacity: splash.height > 200 * Theme.heightScale ? 1 : 0
        Behavior on opacity { NumberAnimation { duration: 300 } }
    }

    Text {
        id: brandText
        anchors.left: parent.left
        anchors.leftMargin: Math.round(24 * Theme.widthScale)
        anchors.top: parent.top
        anchors.topMargin: Math.min(Math.round(20 * Theme.heightScale), (splash.height - height) / 2)
        text: splash.brand
        color: splash.accent
        font.family: Theme.applicationFont.family
        font.pixelSize: Theme.bigestTextSize
    }

    Text {
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: Math.round(16 * Theme.heightScale)
        width: parent.width - 2 * brandText.anchors.leftMargin
        horizontalAlignment: Text.AlignHCenter
        elide: Text.ElideRight
        opacity: picture.opacity
        text: Worker.statusText
        color: Theme.idleTextColor
        font.family: Theme.applicationFont.family
        font.pixelSize: Theme.smallTextSize
    }
}
