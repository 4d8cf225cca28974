import QtQuick
import MyStyle 1.0
import MyWorker 1.0
import "../components"
import "../dialogs"

// The active SSPD channel: its properties beside its live count rate, and its
// characterisation.
ChartTab {
    id: page
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

    Button {
        objectName: "characteriseButton"
        anchors.top: parent.top
        anchors.right: parent.right
        anchors.margins: 16
        text: "Characterise"
        onClicked: {
            characterise.address = Worker.settings.activeChannel
            characterise.open()
        }
    }

    CharacteriseDialog {
        id: characterise
        objectName: "characteriseDialog"
    }
}
