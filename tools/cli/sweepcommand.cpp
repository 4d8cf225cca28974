#include "sweepcommand.h"

#include "clioutput.h"
#include "csvformat.h"
#include "engine/settings.h"
#include "engine/workerprocess.h"
#include "enginesession.h"
#include "exitcode.h"
#include "models/dataproviderlist.h"
#include "outputfile.h"
#include "sweepcsv.h"

#include <QAreaSeries>
#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QLineSeries>
#include <QTimer>

namespace {

void setRow(QList<DriverDataItem>* rows, const QString& name, double value)
{
    for (DriverDataItem& row : *rows) {
        if (row.name() == name)
            row.setValue(value);
    }
}

QVariant rowValue(const QList<DriverDataItem>* rows, const QString& name)
{
    for (const DriverDataItem& row : *rows) {
        if (row.name() == name)
            return row.value();
    }
    return {};
}

QString unitOf(WorkerAsync::WorkerMode mode)
{
    switch (mode) {
    case WorkerAsync::WorkerModeCpsVersTrigger:
        return QStringLiteral("V");
    case WorkerAsync::WorkerModeHistogram:
        return QStringLiteral("cps");
    default:
        return QStringLiteral("A");
    }
}

QString withUnit(const QVariant& value, const QString& unit)
{
    return QStringLiteral("%1 %2").arg(Csv::number(value.toDouble(), Csv::ExactDigits), unit);
}

// The chart the sweep tab would show: a line for the stepped sweeps, an area with its upper
// line for the histogram. Children of owner.
struct SweepChart
{
    QLineSeries* line = nullptr;
    QAreaSeries* area = nullptr;

    QList<QPointF> points() const
    {
        if (area)
            return area->upperSeries() ? area->upperSeries()->points() : QList<QPointF>();
        return line->points();
    }
};

SweepChart makeChart(WorkerAsync::WorkerMode mode, QObject* owner)
{
    SweepChart chart;
    if (mode == WorkerAsync::WorkerModeHistogram) {
        chart.area = new QAreaSeries(owner);
        chart.area->setUpperSeries(new QLineSeries(chart.area));
    } else {
        chart.line = new QLineSeries(owner);
    }
    return chart;
}

} // namespace

int sweep(EngineSession& session, const SweepRequest& request)
{
    // A file that cannot be written is found before the sweep, not after it.
    OutputFile file(request.out);
    if (QString error; !file.open(&error))
        return usageError(error);
    if (!session.connectToSspdChannel(request.channel))
        return Exit::Failure;

    // As the sweep tab does it: the channel, the mode's rows with the user's values, the
    // chart's series; then the mode starts.
    WorkerAsync* worker = session.worker();
    Settings* settings = worker->settings();
    settings->setActiveChannel(request.channel);
    worker->initializeGUI(request.mode);
    QList<DriverDataItem>* rows = worker->sweepParameterRows(request.mode);
    setRow(rows, QStringLiteral("from"), request.from);
    setRow(rows, QStringLiteral("to"), request.to);
    setRow(rows, QStringLiteral("step"), request.step);
    if (request.trigger)
        setRow(rows, QStringLiteral("trigger"), *request.trigger);
    if (request.timeConstant)
        setRow(rows, QStringLiteral("time_constant"), *request.timeConstant);
    QObject owner;
    const SweepChart chart = makeChart(request.mode, &owner);
    settings->setSeries({chart.line ? static_cast<QAbstractSeries*>(chart.line) : chart.area});

    const bool histogram = request.mode == WorkerAsync::WorkerModeHistogram;
    bool finished = false;
    int readings = 0;
    QDeadlineTimer histogramEnd;
    // Set when the engine ended the measurement because the unit stopped answering; it
    // comes before the sweep's end.
    QString lost;
    QObject::connect(worker, &WorkerAsync::sweepFinished, &owner, [&] { finished = true; });
    QObject::connect(worker->process(), &WorkerProcess::measurementLost, &owner,
                     [&](const QString& reason) { lost = reason; });
    QObject::connect(worker, &WorkerAsync::progressChanged, &owner, [&] {
        printProgress(
            QStringLiteral("sweep %1: %2 %").arg(request.kind).arg(worker->progress(), 0, 'f', 1));
    });
    QObject::connect(worker->process(), &WorkerProcess::dataReady, &owner, [&] {
        ++readings;
        if (histogram)
            printProgress(QStringLiteral("histogram: %1 readings, %2 s left")
                              .arg(readings)
                              .arg(histogramEnd.remainingTime() / 1000));
    });

    const QDateTime started = QDateTime::currentDateTimeUtc();
    if (!session.activate(request.mode)) {
        worker->activateMode(WorkerAsync::WorkerModeNoAction);
        settings->setSeries({});
        if (session.interrupted())
            return failure(QStringLiteral("interrupted before the sweep started"));
        return failure(worker->statusText().isEmpty() ? QStringLiteral("the sweep did not start")
                                                      : worker->statusText());
    }
    bool complete = false;
    if (histogram) {
        bool timeUp = false;
        QTimer end;
        end.setSingleShot(true);
        QObject::connect(&end, &QTimer::timeout, [&] { timeUp = true; });
        const int ms = int(*request.duration * 1000.0);
        histogramEnd.setRemainingTime(ms);
        end.start(ms);
        // Ctrl-C ends a histogram early like its duration does; a lost unit ends it for good.
        session.waitUntil([&] { return timeUp || !lost.isEmpty(); });
        complete = lost.isEmpty();
    } else {
        complete = session.waitUntil([&] { return finished; }) && lost.isEmpty();
    }
    // Readings still on their way count no more: the screen has left the mode.
    worker->activateMode(WorkerAsync::WorkerModeNoAction);
    endProgress();
    const QList<QPointF> points = chart.points();
    settings->setSeries({});

    if (points.isEmpty()) {
        file.cancel();
        return failure(QStringLiteral("%1module %2 gave no reading; %3 not written")
                           .arg(lost.isEmpty() ? QString() : lost + QStringLiteral("; "))
                           .arg(request.channel)
                           .arg(request.out));
    }
    const QJsonObject module = session.moduleInfo(request.channel);
    const QString unit = unitOf(request.mode);
    SweepCsv::Metadata metadata = {
        {"command", "cu-tavik-cli sweep " + request.kind},
        {"program", QStringLiteral("cu-tavik-cli %1, engine %2")
                        .arg(QCoreApplication::applicationVersion(), worker->WorkerVersion())},
        {"started", Csv::time(started)},
        {"unit", session.unitDescription()},
        {"module", QString::number(request.channel)},
        {"module_type", module.value("type").toString()},
        {"module_udid", module.value("UDID").toString()},
        {"module_firmware", module.value("Firmware").toString()},
        {"from", withUnit(request.from, unit)},
        {"to", withUnit(request.to, unit)},
        {histogram ? "bin_width" : "step", withUnit(request.step, unit)},
    };
    if (request.mode == WorkerAsync::WorkerModeCpsVersCurrent)
        metadata.append({"trigger", withUnit(rowValue(rows, "trigger"), "V")});
    metadata.append({"time_constant", withUnit(rowValue(rows, "time_constant"), "s")});
    if (histogram)
        metadata.append({"duration", withUnit(*request.duration, "s")});
    const QString endKey = !lost.isEmpty() ? "unit_lost" : complete ? "ended" : "interrupted";
    metadata.append({endKey, Csv::time(QDateTime::currentDateTimeUtc())});

    const QList<QStringList> table =
        histogram ? SweepCsv::histogramRows(request.from, request.step, points)
                  : SweepCsv::sweepRows(request.mode, points);
    const QByteArray text = SweepCsv::document(metadata, SweepCsv::columns(request.mode), table);
    if (QString error; !file.write(text, &error))
        return failure(error);
    if (!lost.isEmpty())
        return failure(QStringLiteral("%1; the points so far are in %2").arg(lost, request.out));
    if (!complete)
        return failure(QStringLiteral("interrupted; the points so far are in %1").arg(request.out));
    return Exit::Success;
}
