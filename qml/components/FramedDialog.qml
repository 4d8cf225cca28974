import QtQuick
import QtQuick.Templates as T
import MyStyle 1.0
import Theme

// A modal dialog in the scene's colours, centred over the window, with its title on top.
T.Dialog {
    id: dialog

    parent: T.Overlay.overlay
    x: parent ? Math.round((parent.width - width) / 2) : 0
    y: parent ? Math.round((parent.height - height) / 2) : 0
    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            implicitContentWidth + leftPadding + rightPadding,
                            implicitHeaderWidth)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             implicitContentHeight + topPadding + bottomPadding
                             + (implicitHeaderHeight > 0 ? implicitHeaderHeight + spacing : 0)
                             + (implicitFooterHeight > 0 ? implicitFooterHeight + spacing : 0))
    padding: Math.round(16 * Theme.fontScale)
    modal: true
    focus: true
    font: Theme.applicationFont

    background: Rectangle {
        color: Theme.background
        border.width: 1
        border.color: Theme.borderHoveredControlColor
        radius: 6
    }

    header: Label {
        text: dialog.title
        visible: dialog.title
        padding: dialog.padding
        bottomPadding: 0
        elide: Label.ElideRight
        font.pixelSize: Theme.bigTextSize
        color: Theme.hoveredTextColor
    }

    T.Overlay.modal: Rectangle {
        color: "#80000000"
    }
}
