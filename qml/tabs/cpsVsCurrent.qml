import QtQuick
import QtCharts
import MyWorker 1.0
import "../components"

// A sweep of the bias current of one SSPD channel, counting at each step.
ChartTab {
    workerMode: Worker.WorkerModeCpsVersCurrent
    seriesType: ChartView.SeriesTypeScatter
    chart.axisXTitle: "Current, μA"
    chart.axisYTitle: "Counts, cps"
    chart.buttonEnables: ScopeView.ButtonEnables.SelectButton | ScopeView.ButtonEnables.MoveButton
                         | ScopeView.ButtonEnables.RescaleButton | ScopeView.ButtonEnables.LogYButton
}
