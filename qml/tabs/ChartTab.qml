import QtQuick
import QtQuick.Layouts
import QtCharts
import MyStyle 1.0
import Theme
import MyWorker 1.0
import "ChartTab"
import "../components"
import "../logic/Scope.js" as Scope

// One page type for every measurement: it drives the worker's mode, lets the user pick channels
// and sweep parameters, starts and stops the measurement and shows the series the worker fills.
BlankStackItem {
    id: tab

    property int workerMode: Worker.WorkerModeNoAction
    // Driver pages: the module's properties beside its live plot, nothing to start.
    property bool onlyProperties: false
    // Configuration of the measurement.
    property string channelPrefix: "SSPD "
    property var channelTypes: [Datalist.DeviceTypeSspdM0, Datalist.DeviceTypeSspdM1]
    property string settingsPage: "SSPD Driver"
    property int seriesType: ChartView.SeriesTypeScatter
    property string propertiesTitle: "Sweep Parameter:"
    property var propertiesModel: Worker.settings.SweepParameterModel
    property bool sectionHeaders: false
    property var collapsedAtStart: []
    property bool dateTimeX: timeMode || singleMode
    // The chart rectangle of this tab's mode, taken when the tab becomes current.
    property var rect: null
    property bool reading: false

    readonly property bool timeMode: workerMode === Worker.WorkerModeCpsVersTime
                                     || workerMode === Worker.WorkerModeTemperatureVersTime
    readonly property bool singleMode: workerMode === Worker.WorkerModeSspdSingleChannel
                                       || workerMode === Worker.WorkerModeTemperatureSingleMode
    readonly property bool sweepMode: !timeMode && !singleMode

    readonly property alias chart: chart
    readonly property alias properties: properties
    readonly property alias startstop: startstop
    readonly property alias status: status
    readonly property alias process: process
    readonly property alias activeChannels: activeChannels
    readonly property alias graphoptions: graphoptions

    mode: workerMode

    // Hands the chart's own series (not the dummies) to the worker, which plots into them.
    function publishSeries(clear) {
        const list = []
        for (const series of chart.realSeries()) {
            if (Scope.isDummy(series.name))
                continue
            if (clear)
                series.clear()
            list.push(series)
        }
        Worker.settings.series = list
    }

    function processChannels() {
        const records = []
        for (let i = 0; i < DataModel.rowCount(); ++i)
            records.push({ address: DataModel.data(i, "address"), type: DataModel.data(i, "type") })
        return Scope.channelList(records, channelPrefix, channelTypes)
    }

    function activate() {
        chart.opacity = 1
        activeChannels.refresh()
        Worker.initializeGUI(workerMode)
        rect = Worker.settings.chartRect
        if (sweepMode) {
            Worker.activateMode(Worker.WorkerModeNoAction)
            process.fill(processChannels())
        } else if (singleMode) {
            Worker.activateMode(workerMode)
            chart.removeAll()
            chart.addSeries(channelPrefix + Worker.settings.activeChannel, 0)
            publishSeries(true)
        } else {
            Worker.activateMode(Worker.WorkerModeNoAction)
        }
        chart.rescale()
    }

    function deactivate() {
        // Only a lost connection takes the page away while it reads (the tab bar is locked
        // meanwhile): the worker has stopped, so the page stops too and can start again.
        if (reading && !singleMode)
            stop()
        if (singleMode) {
            Worker.deactivateMode(workerMode)
            stopReading()
        }
        chart.opacity = 0
    }

    function resetFunction() {
        activeChannels.removeAll()
    }

    function start() {
        if (!canStart)
            return
        if (sweepMode) {
            status.start()
            const name = process.seriesName
            chart.addSeries(name, -1, seriesType)
            publishSeries(false)
            Worker.settings.activeChannel = Scope.channelOf(name)
        } else {
            publishSeries(false)
        }
        Worker.activateMode(workerMode)
        reading = true
        startReading()
    }

    function stop() {
        if (!reading)
            return
        Worker.activateMode(Worker.WorkerModeNoAction)
        reading = false
        // The last reading of a sweep comes after the last fit of the chart rectangle.
        if (sweepMode)
            chart.rescale()
        stopReading()
    }

    readonly property bool canStart: !reading && !onlyProperties
                                     && (timeMode ? activeChannels.count > 0
                                                  : Scope.canStart(process.channel))

    Connections {
        target: Worker
        function onSweepFinished() {
            if (tab.reading && tab.sweepMode)
                status.finish()
        }
    }

    RowLayout {
        anchors.fill: parent
        anchors.margins: 8
        spacing: 8

        ColumnLayout {
            id: left
            Layout.preferredWidth: Math.max(280, Math.round(420 * Theme.widthScale))
            Layout.maximumWidth: Layout.preferredWidth
            Layout.fillHeight: true
            spacing: 8

            ActiveChannels {
                id: activeChannels
                objectName: "activeChannels"
                Layout.fillWidth: true
                visible: tab.timeMode
                enabled: !tab.reading
                prefix: tab.channelPrefix
                types: tab.channelTypes
                onAddSeries: name => chart.addSeries(name, -1, ChartView.SeriesTypeLine)
                onRemoveSeries: name => chart.removeSeries(name)
                onOpenSettings: tab.openOther(tab.settingsPage)
            }
            ChartOptions {
                id: graphoptions
                objectName: "chartOptions"
                Layout.fillWidth: true
                visible: tab.timeMode
            }
            PropertiesPanel {
                id: properties
                objectName: "propertiesPanel"
                Layout.fillWidth: true
                Layout.fillHeight: tab.onlyProperties
                visible: !tab.timeMode
                enabled: !tab.reading
                title: tab.onlyProperties ? tab.propertiesTitle + Worker.settings.activeChannel
                                          : tab.propertiesTitle
                model: tab.propertiesModel
                sectionHeaders: tab.sectionHeaders
                sendsChanges: tab.onlyProperties
                collapsedAtStart: tab.collapsedAtStart
            }
            ProcessPanel {
                id: process
                objectName: "processPanel"
                Layout.fillWidth: true
                visible: tab.sweepMode
                reading: tab.reading
                enabled: !tab.reading
            }
            Panel {
                id: startstop
                objectName: "startStopPanel"
                Layout.fillWidth: true
                visible: !tab.onlyProperties
                RowLayout {
                    Layout.fillWidth: true
                    Button {
                        objectName: "startButton"
                        Layout.fillWidth: true
                        text: "Start"
                        enabled: tab.canStart
                        onClicked: tab.start()
                    }
                    Button {
                        objectName: "stopButton"
                        Layout.fillWidth: true
                        text: "Stop"
                        enabled: tab.reading
                        onClicked: tab.stop()
                    }
                }
            }
            StatusPanel {
                id: status
                objectName: "statusPanel"
                Layout.fillWidth: true
                visible: !tab.onlyProperties
                enabled: tab.reading
                ringVisible: tab.sweepMode && tab.workerMode !== Worker.WorkerModeHistogram
                onFinished: tab.stop()
            }
            Item {
                Layout.fillHeight: true
                visible: !tab.onlyProperties
            }
        }

        ScopeView {
            id: chart
            objectName: "scope"
            Layout.fillWidth: true
            Layout.fillHeight: true
            opacity: 0
            Behavior on opacity { NumberAnimation { duration: 100 } }
            dateTimeX: tab.dateTimeX
            deleteEnable: !tab.reading
            externalAxisRanges: true
            onAxisRangeRequested: (axis, min, max) => Worker.settings.setAxisRange(axis, min, max)
            readonly property var xb: tab.rect ? (tab.dateTimeX ? { min: tab.rect.left, max: tab.rect.right }
                                                                : Scope.widen(tab.rect.left, tab.rect.right, logX))
                                               : null
            readonly property var yb: tab.rect ? Scope.widen(tab.rect.bottom, tab.rect.top, logY) : null
            minX: xb ? xb.min : 0
            maxX: xb ? xb.max : 1024
            minY: yb ? yb.min : 0.1
            maxY: yb ? yb.max : 1e6
            onRequest2rescaleAxis: {
                if (tab.sweepMode)
                    Worker.rescaleChartRec(tab.workerMode)
            }
            onSeriesSetChanged: {
                if (!tab.singleMode)
                    tab.publishSeries(false)
            }
            onSaveFile: (series, fileName) => {
                // A histogram is an area: its bars are the upper line.
                const xy = series.upperSeries !== undefined ? series.upperSeries : series
                Worker.saveSeries(xy, Worker.urlToPath(fileName))
            }
            onSaveMultipleFile: (seriesList, fileName) => {
                Worker.saveMultipleSeries(seriesList.map(s => s.upperSeries !== undefined
                                                              ? s.upperSeries : s),
                                          Worker.urlToPath(fileName))
            }
        }
    }
}
