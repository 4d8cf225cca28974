pragma Singleton
import QtQuick

// Sizes, text sizes, colours and the font every part of the scene draws with.
QtObject {
    id: theme

    readonly property real referenceWidth: 1960
    readonly property real referenceHeight: 1080
    readonly property var screen: Application.screens.length > 0 ? Application.screens[0] : null
    readonly property real widthScale: screen && screen.width > 0 ? screen.width / referenceWidth : 1
    readonly property real heightScale: screen && screen.height > 0 ? screen.height / referenceHeight : 1
    readonly property real fontScale: Math.min(widthScale, heightScale)

    readonly property int hugeTextSize: Math.round(40 * fontScale)
    readonly property int bigestTextSize: Math.round(30 * fontScale)
    readonly property int bigTextSize: Math.round(25 * fontScale)
    readonly property int normalTextSize: Math.round(20 * fontScale)
    readonly property int smallTextSize: Math.round(15 * fontScale)
    readonly property int smallestTextSize: Math.round(12 * fontScale)
    readonly property int tinyTextSize: Math.round(9 * fontScale)

    readonly property color background: "#1E1E1E"
    readonly property color idleTextColor: "#CCCCCC"
    readonly property color hoveredTextColor: "#FFFFFF"
    readonly property color blockedTextColor: "#666666"
    readonly property color linkTextColor: "#F16321"
    readonly property color backgroundControlColor: "#1E1E1E"
    readonly property color backgroundHoveredControlColor: "#2C2C2C"
    readonly property color borderIdleControlColor: "#722D0E"
    readonly property color borderHoveredControlColor: "#F16321"
    readonly property color borderPressedControlColor: "#ba501f"
    readonly property color borderDisableControlColor: "#5d250b"

    readonly property FontLoader fontLoader: FontLoader {
        source: "qrc:/Theme/ApplicationFont.ttf"
    }
    property font applicationFont
    applicationFont.family: fontLoader.status === FontLoader.Ready ? fontLoader.font.family
                                                                   : "DejaVu Sans"
    applicationFont.pixelSize: normalTextSize

    // A design size scaled to the screen.
    function w(size) { return Math.round(size * widthScale) }
    function h(size) { return Math.round(size * heightScale) }
}
