import QtQuick
import QtCharts
import MyWorker 1.0
import "../components"

// Counts per second of the chosen SSPD channels against time.
ChartTab {
    workerMode: Worker.WorkerModeCpsVersTime
    channelPrefix: "SSPD "
    channelTypes: [Datalist.DeviceTypeSspdM0, Datalist.DeviceTypeSspdM1]
    settingsPage: "SSPD Driver"
    chart.axisXTitle: "Time, hh:mm:ss"
    chart.axisYTitle: "Counts, cps"
    chart.legendEditable: false
    chart.buttonEnables: ScopeView.ButtonEnables.SelectButton | ScopeView.ButtonEnables.MoveButton
                         | ScopeView.ButtonEnables.RescaleButton | ScopeView.ButtonEnables.LogYButton
}
