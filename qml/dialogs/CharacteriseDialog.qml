import QtQuick
import QtQuick.Layouts
import MyStyle 1.0
import Theme
import MyWorker 1.0
import "../components"
import "../logic/Characterise.js" as Logic

// Characterises one SSPD channel: switching and retrapping currents, the count curve drawn
// as it is measured, and the recommended bias, which "Apply" sets. Cancelling (or closing
// the dialog) while it runs sets the bias to 0 or back to where it was.
FramedDialog {
    id: dialog

    property int address: 0
    property bool running: false
    property var points: []
    property var report: null
    property string stageText: "Set the time constant, trigger and dark count limit, then Start."
    property real percent: 0
    readonly property bool canApply: !running && report !== null
                                     && typeof report.recommended_bias_A === "number"
                                     && report.outcome === "complete"

    title: "Characterise SSPD " + address
    width: Math.max(implicitWidth, Math.round(760 * Theme.widthScale))

    function start() {
        points = []
        report = null
        percent = 0
        running = Worker.startCharacterisation(Logic.request(address, timeConstant.text,
                                                             trigger.text, darkLimit.text))
        plot.requestPaint()
    }
    function cancel(restore) {
        if (running)
            Worker.cancelCharacterisation(restore)
    }
    function apply() {
        if (canApply)
            Worker.setParameter(address, "current", report.recommended_bias_A)
    }

    onClosed: cancel(false)

    Connections {
        target: Worker
        function onCharacterisationStage(stage, text) {
            if (dialog.running)
                dialog.stageText = text
        }
        function onCharacterisationProgress(percent) {
            if (dialog.running)
                dialog.percent = percent
        }
        function onCharacterisationPoint(bias, cps, latched) {
            if (!dialog.running)
                return
            dialog.points = dialog.points.concat([{ bias: bias, cps: cps, latched: latched }])
            plot.requestPaint()
        }
        function onCharacterisationFinished(report) {
            if (!dialog.running)
                return
            dialog.running = false
            dialog.report = report
            plot.requestPaint()
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: Math.round(10 * Theme.heightScale)

        RowLayout {
            spacing: 8
            Label { text: "Time constant, s:" }
            TextField {
                id: timeConstant
                objectName: "characteriseTimeConstant"
                text: "0.1"
                enabled: !dialog.running
                Layout.preferredWidth: 70
            }
            Label { text: "Trigger, V:" }
            TextField {
                id: trigger
                objectName: "characteriseTrigger"
                placeholderText: "module's"
                enabled: !dialog.running
                Layout.preferredWidth: 80
            }
            Label { text: "Dark limit, cps:" }
            TextField {
                id: darkLimit
                objectName: "characteriseDarkLimit"
                text: "100"
                enabled: !dialog.running
                Layout.preferredWidth: 70
            }
        }

        Label {
            objectName: "characteriseStage"
            Layout.fillWidth: true
            text: dialog.stageText + (dialog.running ? "  (" + Math.round(dialog.percent) + " %)" : "")
            elide: Text.ElideRight
        }
        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 4
            color: Theme.borderHoveredControlColor
            Rectangle {
                width: parent.width * Math.min(dialog.percent, 100) / 100
                height: parent.height
                color: Theme.hoveredTextColor
            }
        }

        Canvas {
            id: plot
            objectName: "characterisePlot"
            Layout.fillWidth: true
            Layout.preferredHeight: Math.round(280 * Theme.heightScale)
            onPaint: {
                const ctx = getContext("2d")
                ctx.reset()
                ctx.fillStyle = "#101418"
                ctx.fillRect(0, 0, width, height)
                const r = dialog.report
                const b = Logic.bounds(dialog.points, r ? r.switching_current_A : 0)
                const w = width - 60, h = height - 30
                ctx.save()
                ctx.translate(50, 10)
                ctx.strokeStyle = "#3a4048"
                ctx.fillStyle = "#a0a8b0"
                ctx.font = "11px sans-serif"
                for (let d = b.decadeMin; d <= b.decadeMax; ++d) {
                    const y = Logic.position(b, b.xMin, Math.pow(10, d), w, h).y
                    ctx.beginPath(); ctx.moveTo(0, y); ctx.lineTo(w, y); ctx.stroke()
                    ctx.fillText("1e" + d, -40, y + 4)
                }
                ctx.fillText((b.xMin * 1e6).toFixed(1) + " μA", 0, h + 16)
                ctx.fillText((b.xMax * 1e6).toFixed(1) + " μA", w - 50, h + 16)
                ctx.strokeStyle = "#5aa0ff"
                ctx.fillStyle = "#5aa0ff"
                ctx.beginPath()
                let first = true
                for (const p of dialog.points) {
                    if (p.latched)
                        continue
                    const q = Logic.position(b, p.bias, p.cps, w, h)
                    if (first) ctx.moveTo(q.x, q.y); else ctx.lineTo(q.x, q.y)
                    first = false
                }
                ctx.stroke()
                for (const p of dialog.points) {
                    const q = Logic.position(b, p.bias, p.latched ? 0 : p.cps, w, h)
                    ctx.fillStyle = p.latched ? "#ff5050" : "#5aa0ff"
                    ctx.fillRect(q.x - 2, q.y - 2, 4, 4)
                }
                if (r && typeof r.recommended_bias_A === "number") {
                    const x = Logic.position(b, r.recommended_bias_A, 1, w, h).x
                    ctx.strokeStyle = "#40d080"
                    ctx.beginPath(); ctx.moveTo(x, 0); ctx.lineTo(x, h); ctx.stroke()
                    ctx.fillStyle = "#40d080"
                    ctx.fillText("recommended", x - 80, 12)
                }
                ctx.restore()
            }
        }

        Label {
            objectName: "characteriseResult"
            Layout.fillWidth: true
            text: Logic.summary(dialog.report)
            wrapMode: Text.WordWrap
        }

        RowLayout {
            spacing: 8
            Button {
                objectName: "characteriseStart"
                text: "Start"
                enabled: !dialog.running
                onClicked: dialog.start()
            }
            Button {
                objectName: "characteriseCancelZero"
                text: "Cancel, bias to 0"
                enabled: dialog.running
                onClicked: dialog.cancel(false)
            }
            Button {
                objectName: "characteriseCancelRestore"
                text: "Cancel, bias as before"
                enabled: dialog.running
                onClicked: dialog.cancel(true)
            }
            Item { Layout.fillWidth: true }
            Button {
                objectName: "characteriseApply"
                text: "Apply"
                enabled: dialog.canApply
                onClicked: dialog.apply()
            }
            Button {
                objectName: "characteriseClose"
                text: "Close"
                enabled: !dialog.running
                onClicked: dialog.close()
            }
        }
    }
}
