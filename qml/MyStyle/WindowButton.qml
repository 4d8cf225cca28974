import QtQuick
import QtQuick.Templates as T
import Theme

// A title-bar button drawn by its image, which swaps to its "_hovered" form under the mouse.
T.Button {
    id: control
    property string imageName

    implicitWidth: Math.round(46 * Theme.widthScale)
    implicitHeight: Math.round(24 * Theme.heightScale)
    hoverEnabled: true
    focusPolicy: Qt.NoFocus

    background: Image {
        source: "images/" + control.imageName + (control.hovered ? "_hovered" : "") + ".svg"
        sourceSize.width: control.width
        sourceSize.height: control.height
        fillMode: Image.Stretch
    }
}
