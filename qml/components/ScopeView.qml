import QtQuick
import QtQuick.Layouts
import QtQuick.Dialogs
import QtQuick.Templates as T
import QtCharts
import MyStyle 1.0
import Theme
import "../logic/Scope.js" as Scope

// A chart with its own tool buttons, legend, zoom and series export. The chart always holds two
// hidden "dummy" series, one on the linear and one on the logarithmic axes, so that both axis
// pairs stay on the chart; the series a caller adds follow them.
Item {
    id: scope

    enum ButtonEnables {
        None = 0x00,
        StartButton = 0x01,
        PauseButton = 0x02,
        SelectButton = 0x04,
        MoveButton = 0x08,
        RescaleButton = 0x10,
        LogXButton = 0x20,
        LogYButton = 0x40,
        AllButtons = 0xFF
    }

    property int buttonEnables: ScopeView.ButtonEnables.AllButtons
    property bool legendVisible: true
    property bool legendEditable: true
    property string axisXTitle: ""
    property string axisYTitle: ""
    property string axisXLabelFormat: "%.4g"
    property string axisYLabelFormat: "%.4g"
    property real minX: 0
    property real maxX: 1024
    property real minY: 0.1
    property real maxY: 1e6
    // Off while a measurement runs: series are then not deleted from the legend.
    property bool deleteEnable: true
    // A time axis in place of the linear X axis; bounds are then milliseconds since the epoch.
    property bool dateTimeX: false
    property AbstractAxis axisX: dateTimeX ? dateAxis : linearX
    readonly property alias axisY: linearY
    readonly property alias logX: logXButton.checked
    readonly property alias logY: logYButton.checked
    readonly property alias chart: chart
    readonly property alias legendModel: legendModel
    // When set, the scope asks for axis ranges through axisRangeRequested instead of setting
    // the ends itself (see setAxisRange).
    property bool externalAxisRanges: false
    // Set by zooming or scrolling; the chart then stops following its bounds until a rescale.
    property bool userView: false

    signal saveFile(var series, string fileName)
    signal saveMultipleFile(var seriesList, string fileName)
    signal request2rescaleAxis()
    signal started()
    signal stoped()
    signal requestContextMenu()
    // The set of real series changed (added, removed or all replaced).
    signal seriesSetChanged()
    // Both ends of an axis, to be set at once (with externalAxisRanges).
    signal axisRangeRequested(AbstractAxis axis, var min, var max)

    function hasButton(flag) {
        return (buttonEnables & flag) !== 0
    }

    function isDateTimeX() {
        return axisX === dateAxis
    }

    // The chart series behind legend row i.
    function seriesAt(row) {
        return chart.series(row + Scope.dummyCount)
    }

    // Every series shown in the legend, in legend order.
    function realSeries() {
        const list = []
        for (let i = Scope.dummyCount; i < chart.count; ++i)
            list.push(chart.series(i))
        return list
    }

    function indexOfSeries(series) {
        for (let i = 0; i < chart.count; ++i)
            if (chart.series(i) === series)
                return i
        return -1
    }

    function xAxisFor(log) { return log ? logAxisX : scope.axisX }
    function yAxisFor(log) { return log ? logAxisY : linearY }

    function removeAll() {
        chart.removeAllSeries()
        legendModel.clear()
        const linear = chart.createSeries(ChartView.SeriesTypeLine, Scope.dummyName, scope.axisX,
                                          linearY)
        linear.visible = false
        const log = chart.createSeries(ChartView.SeriesTypeLine, Scope.dummyName, logAxisX, logAxisY)
        log.visible = false
        applyBounds()
        seriesSetChanged()
    }

    function addSeries(name, colorIndex, seriesType) {
        const type = seriesType === undefined ? ChartView.SeriesTypeLine : seriesType
        const color = Scope.color(colorIndex === undefined ? -1 : colorIndex, legendModel.count)
        const series = chart.createSeries(type, name, xAxisFor(logX), yAxisFor(logY))
        series.color = color
        if (type === ChartView.SeriesTypeScatter) {
            series.markerShape = ScatterSeries.MarkerShapeCircle
            series.markerSize = Math.round(10 * Theme.fontScale)
            series.borderWidth = 1
            series.borderColor = Qt.darker(color, 2)
        } else if (type === ChartView.SeriesTypeArea) {
            series.borderColor = "transparent"
            series.borderWidth = 0
        } else {
            series.width = 2
        }
        legendModel.append({ name: name, color: String(color), type: type, shown: true,
                             selected: false })
        seriesSetChanged()
        return series
    }

    // Removes the last series of that name. The dummies are never removed: they keep the axes
    // on the chart and have no legend row.
    function removeSeries(name) {
        const names = []
        for (let i = 0; i < chart.count; ++i)
            names.push(chart.series(i).name)
        const index = Scope.lastIndexOf(names, name)
        const row = Scope.legendIndex(index)
        if (row < 0)
            return
        chart.removeSeries(chart.series(index))
        legendModel.remove(row)
        seriesSetChanged()
    }

    // Sets both ends of an axis; setting them one after the other lays every series on the
    // axis out twice, which a caller that can set them in one step spares the chart.
    function setAxisRange(axis, min, max) {
        if (externalAxisRanges) {
            axisRangeRequested(axis, min, max)
        } else {
            axis.min = min
            axis.max = max
        }
    }

    function applyBounds() {
        if (isDateTimeX())
            setAxisRange(scope.axisX, new Date(minX), new Date(maxX))
        else
            setAxisRange(scope.axisX, minX, maxX)
        setAxisRange(linearY, minY, maxY)
        const lx = Scope.logRange(minX, maxX)
        const ly = Scope.logRange(minY, maxY)
        setAxisRange(logAxisX, lx.min, lx.max)
        setAxisRange(logAxisY, ly.min, ly.max)
    }

    function update() {
        if (!userView)
            applyBounds()
    }

    function rescale() {
        chart.zoomReset()
        userView = false
        request2rescaleAxis()
        applyBounds()
    }

    function setLogScale() {
        for (let i = Scope.dummyCount; i < chart.count; ++i) {
            const series = chart.series(i)
            series.axisX = xAxisFor(logX)
            series.axisY = yAxisFor(logY)
        }
        applyBounds()
    }

    // A new chart rectangle moves several bounds one after the other: follow them once.
    onMinXChanged: boundsFollower.start()
    onMaxXChanged: boundsFollower.start()
    onMinYChanged: boundsFollower.start()
    onMaxYChanged: boundsFollower.start()

    Timer {
        id: boundsFollower
        interval: 0
        onTriggered: scope.update()
    }
    Component.onCompleted: removeAll()

    ValueAxis {
        id: linearX
    }
    DateTimeAxis {
        id: dateAxis
    }

    component StyledAxis: QtObject {
        required property AbstractAxis axis
        required property string title
        required property bool shown
        required property int minorTicks
        property string labelFormat: ""
        Component.onCompleted: {
            axis.titleText = Qt.binding(() => title)
            axis.visible = Qt.binding(() => shown)
            axis.color = Theme.blockedTextColor
            axis.gridLineColor = Theme.blockedTextColor
            axis.minorGridLineColor = Qt.darker(Theme.blockedTextColor, 1.6)
            axis.labelsColor = Theme.idleTextColor
            axis.titleBrush = Theme.hoveredTextColor
            axis.labelsFont = Theme.applicationFont
            axis.titleFont = Theme.applicationFont
            if (axis.minorTickCount !== undefined)
                axis.minorTickCount = minorTicks
            if (axis.labelFormat !== undefined)
                axis.labelFormat = Qt.binding(() => labelFormat)
            if (axis.format !== undefined)
                axis.format = "hh:mm:ss"
        }
    }

    StyledAxis { axis: scope.axisX; title: scope.axisXTitle; shown: !scope.logX; minorTicks: 3
                 labelFormat: scope.axisXLabelFormat }
    StyledAxis { axis: linearY; title: scope.axisYTitle; shown: !scope.logY; minorTicks: 3
                 labelFormat: scope.axisYLabelFormat }
    StyledAxis { axis: logAxisX; title: scope.axisXTitle; shown: scope.logX; minorTicks: 9
                 labelFormat: scope.axisXLabelFormat }
    StyledAxis { axis: logAxisY; title: scope.axisYTitle; shown: scope.logY; minorTicks: 9
                 labelFormat: scope.axisYLabelFormat }

    // A tool button that marks its checked state with an accent bar. With an icon it shows only
    // the icon, and its text as a tooltip.
    component ToolButton: Button {
        id: toolButton
        display: String(icon.source) !== "" ? T.AbstractButton.IconOnly
                                               : T.AbstractButton.TextOnly
        Layout.preferredWidth: display === T.AbstractButton.IconOnly ? implicitHeight * 1.4
                                                                      : implicitWidth
        T.ToolTip {
            id: tip
            visible: toolButton.hovered && toolButton.display === T.AbstractButton.IconOnly
            delay: 500
            text: toolButton.text
            y: toolButton.height + 4
            padding: 6
            contentItem: Text {
                text: tip.text
                font.family: Theme.applicationFont.family
                font.pixelSize: Theme.smallTextSize
                color: Theme.idleTextColor
            }
            background: Rectangle {
                color: Theme.backgroundControlColor
                border.width: 1
                border.color: Theme.borderIdleControlColor
                radius: 3
            }
        }
        Rectangle {
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            anchors.margins: 3
            height: 3
            radius: 1
            visible: parent.checked
            color: Theme.linkTextColor
        }
    }

    RowLayout {
        id: tools
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        spacing: 4
        visible: scope.buttonEnables !== ScopeView.ButtonEnables.None
        height: visible ? implicitHeight : 0

        ToolButton {
            objectName: "startButton"
            text: "Start"
            visible: scope.hasButton(ScopeView.ButtonEnables.StartButton)
            onClicked: scope.started()
        }
        ToolButton {
            objectName: "pauseButton"
            text: "Pause"
            visible: scope.hasButton(ScopeView.ButtonEnables.PauseButton)
            onClicked: scope.stoped()
        }
        ToolButton {
            id: selectButton
            objectName: "selectButton"
            icon.source: "qrc:/Images/zoom-select.svg"
            text: "Select"
            checkable: true
            visible: scope.hasButton(ScopeView.ButtonEnables.SelectButton)
            onToggled: if (checked) moveButton.checked = false
        }
        ToolButton {
            id: moveButton
            objectName: "moveButton"
            icon.source: "qrc:/Images/move.svg"
            text: "Move"
            checkable: true
            visible: scope.hasButton(ScopeView.ButtonEnables.MoveButton)
            onToggled: if (checked) selectButton.checked = false
        }
        ToolButton {
            objectName: "rescaleButton"
            icon.source: "qrc:/Images/rescale.svg"
            text: "Rescale"
            visible: scope.hasButton(ScopeView.ButtonEnables.RescaleButton)
            onClicked: scope.rescale()
        }
        ToolButton {
            id: logXButton
            objectName: "logXButton"
            icon.source: "qrc:/Images/log-x.svg"
            text: "log X"
            checkable: true
            visible: scope.hasButton(ScopeView.ButtonEnables.LogXButton)
            onCheckedChanged: scope.setLogScale()
        }
        ToolButton {
            id: logYButton
            objectName: "logYButton"
            icon.source: "qrc:/Images/log-y.svg"
            text: "log Y"
            checkable: true
            visible: scope.hasButton(ScopeView.ButtonEnables.LogYButton)
            onCheckedChanged: scope.setLogScale()
        }
        Item { Layout.fillWidth: true }
    }

    ChartView {
        id: chart
        objectName: "chartView"
        anchors.top: tools.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        // Live time plots redraw dense lines at every reading: smoothing them costs the
        // software renderer several times the drawing itself.
        antialiasing: !scope.dateTimeX
        backgroundColor: Theme.background
        plotAreaColor: Theme.background
        legend.visible: false
        margins { top: 8; bottom: 8; left: 8; right: 8 }

        LogValueAxis {
            id: logAxisX
            base: 10
        }
        ValueAxis {
            id: linearY
        }
        LogValueAxis {
            id: logAxisY
            base: 10
        }

        MouseArea {
            id: tool
            x: chart.plotArea.x
            y: chart.plotArea.y
            width: chart.plotArea.width
            height: chart.plotArea.height
            acceptedButtons: Qt.LeftButton | Qt.RightButton
            property point from
            property point last

            onPressed: mouse => {
                if (mouse.button === Qt.RightButton) {
                    scope.requestContextMenu()
                    return
                }
                from = Qt.point(mouse.x, mouse.y)
                last = from
                lasso.visible = selectButton.checked
            }
            onPositionChanged: mouse => {
                if (selectButton.checked) {
                    lasso.x = Math.min(from.x, mouse.x)
                    lasso.y = Math.min(from.y, mouse.y)
                    lasso.width = Math.abs(mouse.x - from.x)
                    lasso.height = Math.abs(mouse.y - from.y)
                } else if (moveButton.checked) {
                    const dx = mouse.x - last.x
                    const dy = mouse.y - last.y
                    if (dx > 0) chart.scrollLeft(dx); else if (dx < 0) chart.scrollRight(-dx)
                    if (dy > 0) chart.scrollUp(dy); else if (dy < 0) chart.scrollDown(-dy)
                    last = Qt.point(mouse.x, mouse.y)
                    scope.userView = true
                }
            }
            onReleased: mouse => {
                if (!lasso.visible)
                    return
                lasso.visible = false
                if (lasso.width > 4 && lasso.height > 4) {
                    chart.zoomIn(Qt.rect(lasso.x + tool.x, lasso.y + tool.y, lasso.width,
                                         lasso.height))
                    scope.userView = true
                }
                lasso.width = 0
                lasso.height = 0
            }

            Rectangle {
                id: lasso
                visible: false
                color: Qt.rgba(0.945, 0.388, 0.129, 0.1)
                border.width: 1
                border.color: Theme.borderHoveredControlColor
            }
        }

        Rectangle {
            id: legend
            objectName: "legend"
            anchors.top: parent.top
            anchors.right: parent.right
            anchors.topMargin: chart.plotArea.y + 6
            anchors.rightMargin: parent.width - chart.plotArea.x - chart.plotArea.width + 6
            visible: scope.legendVisible && legendModel.count > 0
            width: legendColumn.implicitWidth + 12
            height: legendColumn.implicitHeight + 8
            color: Qt.rgba(0.118, 0.118, 0.118, 0.85)
            border.width: 1
            border.color: Theme.borderIdleControlColor

            Column {
                id: legendColumn
                x: 6
                y: 4
                Repeater {
                    model: ListModel { id: legendModel }
                    delegate: Item {
                        id: row
                        objectName: "legendRow"
                        required property int index
                        required property string name
                        required property string color
                        required property int type
                        required property bool shown
                        required property bool selected
                        implicitWidth: swatch.width + label.implicitWidth + 8
                        implicitHeight: Math.max(label.implicitHeight, 18)

                        Item {
                            id: swatch
                            width: 24
                            height: parent.height
                            Rectangle { // line
                                visible: row.type === ChartView.SeriesTypeLine
                                anchors.centerIn: parent
                                width: 20; height: 2
                                color: row.color
                            }
                            Rectangle { // scatter
                                visible: row.type === ChartView.SeriesTypeScatter
                                anchors.centerIn: parent
                                width: 10; height: 10; radius: 5
                                color: row.color
                                border.width: 1
                                border.color: Qt.darker(row.color, 2)
                            }
                            Rectangle { // area
                                visible: row.type === ChartView.SeriesTypeArea
                                anchors.centerIn: parent
                                width: 16; height: 10
                                color: row.color
                            }
                        }
                        Text {
                            id: label
                            anchors.left: swatch.right
                            anchors.leftMargin: 6
                            anchors.verticalCenter: parent.verticalCenter
                            text: row.name
                            font.family: Theme.applicationFont.family
                            font.pixelSize: Theme.smallTextSize
                            color: !row.shown ? Theme.blockedTextColor
                                 : row.selected ? Theme.hoveredTextColor : Theme.idleTextColor
                        }
                        MouseArea {
                            anchors.fill: parent
                            acceptedButtons: Qt.LeftButton | Qt.RightButton
                            onClicked: mouse => {
                                if (mouse.button === Qt.RightButton) {
                                    legendMenu.openFor(row.index)
                                    return
                                }
                                scope.toggleVisible(row.index)
                            }
                        }
                    }
                }
            }
        }
    }

    function toggleVisible(row) {
        const series = seriesAt(row)
        if (!series)
            return
        series.visible = !series.visible
        legendModel.setProperty(row, "shown", series.visible)
    }

    function deleteRow(row) {
        const series = seriesAt(row)
        if (!series || !deleteEnable || !legendEditable)
            return
        chart.removeSeries(series)
        legendModel.remove(row)
        seriesSetChanged()
        request2rescaleAxis()
    }

    Menu {
        id: legendMenu
        objectName: "legendMenu"
        property int row: -1
        readonly property string rowName: row >= 0 && row < legendModel.count
                                          ? legendModel.get(row).name : ""

        function openFor(index) {
            row = index
            legendModel.setProperty(index, "selected", true)
            popup()
        }
        onClosed: {
            if (row >= 0 && row < legendModel.count)
                legendModel.setProperty(row, "selected", false)
        }

        MenuItem {
            id: saveItem
            text: "Save \"" + legendMenu.rowName + "\"..."
            onTriggered: saveDialog.ask(text, legendMenu.rowName, false)
        }
        MenuItem {
            text: "Delete"
            // Series of a non-editable legend belong to the page's own channel list.
            visible: scope.deleteEnable && scope.legendEditable
            height: visible ? implicitHeight : 0
            onTriggered: scope.deleteRow(legendMenu.row)
        }
        MenuItem {
            id: saveAllItem
            text: "Save all"
            visible: legendModel.count > 1
            height: visible ? implicitHeight : 0
            onTriggered: saveDialog.ask(text + "...", "All Data", true)
        }
    }

    FileDialog {
        id: saveDialog
        property bool all: false
        property int row: -1
        fileMode: FileDialog.SaveFile
        nameFilters: ["Text (*.txt)", "CSV (*.csv)"]

        function ask(title, proposal, allSeries) {
            saveDialog.title = title
            all = allSeries
            row = legendMenu.row
            selectedFile = currentFolder + "/" + proposal
            open()
        }
        onAccepted: {
            if (all)
                scope.saveMultipleFile(scope.realSeries(), String(selectedFile))
            else if (scope.seriesAt(row))
                scope.saveFile(scope.seriesAt(row), String(selectedFile))
        }
    }
}
