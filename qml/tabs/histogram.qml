import QtQuick
import QtCharts
import MyWorker 1.0
import "../components"

// How often each count rate of one SSPD channel occurs.
ChartTab {
    workerMode: Worker.WorkerModeHistogram
    seriesType: ChartView.SeriesTypeArea
    chart.axisXTitle: "cps"
    chart.axisYTitle: "Counts"
    chart.buttonEnables: ScopeView.ButtonEnables.SelectButton | ScopeView.ButtonEnables.MoveButton
                         | ScopeView.ButtonEnables.RescaleButton
}
