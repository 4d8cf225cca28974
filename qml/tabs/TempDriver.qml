import QtQuick
import MyWorker 1.0
import "../components"

// The active temperature channel: its properties beside its live temperature.
ChartTab {
    workerMode: Worker.WorkerModeTemperatureSingleMode
    onlyProperties: true
    channelPrefix: "Temperature "
    channelTypes: [Datalist.DeviceTypeTempM0]
    settingsPage: "Temp Driver"
    seriesType: 0
    propertiesTitle: "Temp Driver#"
    propertiesModel: DataModel.driverModel
    sectionHeaders: true
    collapsedAtStart: ["Advanced"]
    chart.axisYTitle: "Temperature, K"
    chart.legendVisible: false
    chart.buttonEnables: ScopeView.ButtonEnables.None
}
