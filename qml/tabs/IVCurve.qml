import QtQuick
import QtCharts
import MyWorker 1.0
import "../components"

// A sweep of the bias current of one SSPD channel, reading the voltage at each step.
ChartTab {
    workerMode: Worker.WorkerModeIVCurves
    seriesType: ChartView.SeriesTypeScatter
    chart.axisXTitle: "Voltage, mV"
    chart.axisYTitle: "Current, μA"
    chart.buttonEnables: ScopeView.ButtonEnables.SelectButton | ScopeView.ButtonEnables.MoveButton
                         | ScopeView.ButtonEnables.RescaleButton
}
