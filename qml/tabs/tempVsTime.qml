import QtQuick
import QtCharts
import MyWorker 1.0
import "../components"

// Temperatures of the chosen temperature channels against time.
ChartTab {
    workerMode: Worker.WorkerModeTemperatureVersTime
    channelPrefix: "Temperature "
    channelTypes: [Datalist.DeviceTypeTempM0]
    settingsPage: "Temp Driver"
    chart.axisXTitle: "Time, hh:mm:ss"
    chart.axisYTitle: "Temperature, K"
    chart.legendEditable: false
    chart.buttonEnables: ScopeView.ButtonEnables.SelectButton | ScopeView.ButtonEnables.MoveButton
                         | ScopeView.ButtonEnables.RescaleButton
}
