import QtQuick
import MyWorker 1.0
import "../components"

// The active SSPD channel: its properties beside its live count rate.
ChartTab {
    workerMode: Worker.WorkerModeSspdSingleChannel
    onlyProperties: true
    channelPrefix: "SSPD "
    seriesType: 0
    propertiesTitle: "SSPD Driver#"
    propertiesModel: DataModel.driverModel
    sectionHeaders: true
    chart.axisYTitle: "Counts, cps"
    chart.legendVisible: false
    chart.buttonEnables: ScopeView.ButtonEnables.None
}
