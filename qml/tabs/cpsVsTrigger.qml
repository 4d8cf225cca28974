import QtQuick
import QtCharts
import MyWorker 1.0
import "../components"

// A sweep of the comparator trigger level of one SSPD channel, counting at each step.
ChartTab {
    workerMode: Worker.WorkerModeCpsVersTrigger
    seriesType: ChartView.SeriesTypeScatter
    chart.axisXTitle: "Trigger level, mV"
    chart.axisYTitle: "Counts, cps"
    chart.buttonEnables: ScopeView.ButtonEnables.SelectButton | ScopeView.ButtonEnables.MoveButton
                         | ScopeView.ButtonEnables.RescaleButton | ScopeView.ButtonEnables.LogYButton
}
