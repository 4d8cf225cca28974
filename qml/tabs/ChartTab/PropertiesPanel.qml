pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import MyStyle 1.0
import Theme
import MyWorker 1.0

// The typed parameter rows of a model, grouped in sections that fold away.
Panel {
    id: panel

    property var model: null
    property bool sectionHeaders: true
    // Changes go to the active channel's module; sweep rows are only kept for the next start.
    property bool sendsChanges: true
    // Section titles that start folded.
    property var collapsedAtStart: []
    property var collapsed: ({})

    function toggle(group) {
        const c = Object.assign({}, collapsed)
        c[group] = !c[group]
        collapsed = c
    }

    function resetSections() {
        const c = {}
        collapsedAtStart.forEach(g => c[g] = true)
        collapsed = c
    }

    Component.onCompleted: resetSections()

    Flickable {
        id: rows
        objectName: "propertyRows"
        readonly property alias count: repeater.count
        Layout.fillWidth: true
        Layout.fillHeight: true
        Layout.preferredHeight: contentHeight
        contentHeight: column.implicitHeight
        contentWidth: width
        clip: true
        interactive: contentHeight > height
        boundsBehavior: Flickable.StopAtBounds

        Column {
            id: column
            width: rows.width
            Repeater {
                id: repeater
                model: panel.model
                delegate: Column {
                    id: entry
                    required property var model
                    required property int index
                    readonly property string group: model.group
                    // A section starts where the group changes; the rows come in group order.
                    readonly property bool opensSection: {
                        if (!panel.sectionHeaders || group.length === 0)
                            return false
                        const before = index > 0 ? repeater.itemAt(index - 1) : null
                        return !before || before.group !== group
                    }
                    width: column.width

                    Item {
                        width: parent.width
                        height: entry.opensSection ? header.implicitHeight + 6 : 0
                        visible: entry.opensSection
                        RowLayout {
                            id: header
                            anchors.left: parent.left
                            anchors.right: parent.right
                            anchors.verticalCenter: parent.verticalCenter
                            Label {
                                Layout.fillWidth: true
                                text: entry.group
                                color: Theme.linkTextColor
                            }
                            Button {
                                objectName: "sectionToggle"
                                Layout.preferredWidth: height
                                text: panel.collapsed[entry.group] ? "+" : "\u2212"
                                onClicked: panel.toggle(entry.group)
                            }
                        }
                    }

                    Item {
                        id: row
                        objectName: "propertyRow"
                        readonly property var model: entry.model
                        readonly property bool folded: panel.sectionHeaders && panel.collapsed[model.group] === true
                        readonly property real shown: model.value * model.scale
                        readonly property int decimals: Math.max(0, model.precision)

                        width: parent.width
                        height: model.visible && !folded ? Math.max(name.implicitHeight, 30) + 4 : 0
                        clip: true
                        Behavior on height { NumberAnimation { duration: 200 } }

                        function send(value) {
                            if (panel.sendsChanges)
                                Worker.setParameter(Worker.settings.activeChannel, model.name, value)
                        }

                        Label {
                            id: name
                            anchors.left: parent.left
                            anchors.verticalCenter: parent.verticalCenter
                            width: parent.width * 0.55
                            elide: Text.ElideRight
                            text: row.model.displayedName
                        }
                        Item {
                            anchors.left: name.right
                            anchors.right: parent.right
                            anchors.top: parent.top
                            anchors.bottom: parent.bottom

                            Label {
                                objectName: "constantValue"
                                anchors.verticalCenter: parent.verticalCenter
                                anchors.right: parent.right
                                visible: row.model.type === DriverData.DriverDataTypeConstantDoubleFixed
                                         || row.model.type === DriverData.DriverDataTypeConstantDoublePrecision
                                text: {
                                    if (!visible || row.model.value === undefined || isNaN(row.shown))
                                        return "---"
                                    return row.model.type === DriverData.DriverDataTypeConstantDoubleFixed
                                            ? row.shown.toFixed(row.decimals)
                                            : row.shown.toPrecision(Math.max(1, row.decimals))
                                }
                            }
                            ValueSpin {
                                id: spin
                                objectName: "doubleSpin"
                                anchors.fill: parent
                                visible: row.model.type === DriverData.DriverDataTypeDouble
                                decimals: row.decimals
                                from: Math.round(row.model.range.x * factor)
                                to: Math.round(row.model.range.y * factor)
                                value: isNaN(row.shown) ? 0 : Math.round(row.shown * factor)
                                validator: DoubleValidator {
                                    bottom: row.model.range.x
                                    top: row.model.range.y
                                    decimals: row.decimals
                                    notation: DoubleValidator.StandardNotation
                                }
                                onValueModified: {
                                    const stored = value / factor / row.model.scale
                                    row.model.value = stored
                                    row.send(stored)
                                }
                            }
                            TextField {
                                objectName: "editedValue"
                                anchors.fill: parent
                                visible: row.model.type === DriverData.DriverDataTypeDoubleEdited
                                text: visible ? String(row.model.value) : ""
                                validator: DoubleValidator {
                                    bottom: row.model.range.x
                                    top: row.model.range.y
                                    notation: DoubleValidator.StandardNotation
                                }
                                onEditingFinished: if (acceptableInput) row.model.value = Number(text)
                            }
                            Switch {
                                objectName: "boolSwitch"
                                anchors.right: parent.right
                                anchors.verticalCenter: parent.verticalCenter
                                visible: row.model.type === DriverData.DriverDataTypeBool
                                checked: row.model.value === true
                                onToggled: {
                                    row.model.value = checked
                                    row.send(checked)
                                }
                            }
                        }
                    }
                }
            }
        }
    }
}
