import QtQuick
import QtQuick.Templates as T
import Theme

T.Label {
    color: enabled ? Theme.idleTextColor : Theme.blockedTextColor
    linkColor: Theme.linkTextColor
    font: Theme.applicationFont
}
