import QtQuick
import MyStyle 1.0

// Section headers for a list grouped by category: a click folds or unfolds the category.
// Qt 6.4's ListView never creates a section header declared in a file with bound components,
// so the header is declared here, in a file without them. Headers live in the list's content
// item, and the list carries the fold state (`collapsed`, `setCollapsed(category, folded)`).
QtObject {
    readonly property Component header: Component {
        ItemDelegate {
            objectName: "sectionHeader"

            required property string section
            readonly property var list: parent ? parent.parent : null
            readonly property bool folded: list ? list.collapsed[section] === true : false

            width: list ? list.width - 12 : implicitWidth
            text: (folded ? "\u25B8  " : "\u25BE  ") + section
            onClicked: list.setCollapsed(section, !folded)
        }
    }
}
