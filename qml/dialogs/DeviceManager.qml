import QtQuick
import QtQuick.Templates as T

// Stand-in for the device manager.
T.Dialog {
    title: "Device Manager"
}
