#include "monitorcommand.h"

#include "clioutput.h"
#include "csvformat.h"
#include "engine/settings.h"
#include "engine/workerprocess.h"
#include "enginesession.h"
#include "exitcode.h"
#include "models/dataproviderlist.h"

#include <QDateTime>
#include <QHash>
#include <QLineSeries>
#include <QTimer>
#include <algorithm>

namespace {

constexpr int ReadingAnswered = 1; // DataProviderList::DeviceStatusActive

QList<int> typesOf(MonitorRequest::Kind kind)
{
    switch (kind) {
    case MonitorRequest::Cps:
        return {DataProviderList::DeviceTypeSspdM0, DataProviderList::DeviceTypeSspdM1};
    case MonitorRequest::Temperature:
        return {DataProviderList::DeviceTypeTempM0, DataProviderList::DeviceTypeTempM1};
    case MonitorRequest::All:
        break;
    }
    return {};
}

QString kindName(MonitorRequest::Kind kind)
{
    switch (kind) {
    case MonitorRequest::Cps:
        return QStringLiteral("SSPD");
    case MonitorRequest::Temperature:
        return QStringLiteral("temperature");
    case MonitorRequest::All:
        break;
    }
    return QStringLiteral("known");
}

// The chosen channels, checked against the inventory; the default for the kind without
// --channels. Empty with the error printed when they do not fit.
QList<int> channelsFor(EngineSession& session, const MonitorRequest& request, bool* ok)
{
    *ok = false;
    const QList<int> types = typesOf(request.kind);
    if (!request.channels) {
        const QList<int> channels =
            request.kind == MonitorRequest::All
                ? session.addressesOfTypes(
                      {DataProviderList::DeviceTypeSspdM0, DataProviderList::DeviceTypeSspdM1,
                       DataProviderList::DeviceTypeTempM0, DataProviderList::DeviceTypeTempM1,
                       DataProviderList::DeviceTypeUnknown})
                : session.addressesOfTypes(types);
        if (channels.isEmpty())
            failure(QStringLiteral("the unit has no %1 module").arg(kindName(request.kind)));
        *ok = !channels.isEmpty();
        return channels;
    }
    for (int address : *request.channels) {
        const int type = session.moduleType(address);
        if (type < 0) {
            failure(QStringLiteral("the unit has no module at address %1").arg(address));
            return {};
        }
        const bool fits = request.kind == MonitorRequest::All || types.contains(type);
        if (!fits) {
            failure(QStringLiteral("module %1 is no %2 module")
                        .arg(address)
                        .arg(kindName(request.kind)));
            return {};
        }
    }
    *ok = true;
    return *request.channels;
}

QString typeStringOf(EngineSession& session, int address)
{
    return session.moduleInfo(address).value(QLatin1String("type")).toString();
}

} // namespace

QStringList monitorColumns(MonitorRequest::Kind kind)
{
    switch (kind) {
    case MonitorRequest::All:
        return {"time",    "address",     "type",    "status",        "current",
                "voltage", "counts",      "cps",     "cmp_ref_level", "time_const",
                "operate", "temperature", "pressure"};
    case MonitorRequest::Cps:
        return {"time",    "address", "status",        "cps",        "counts",
                "current", "voltage", "cmp_ref_level", "time_const", "operate"};
    case MonitorRequest::Temperature:
        return {"time",
                "address",
                "status",
                "temperature",
                "pressure",
                "temperature_sensor_current",
                "temperature_sensor_voltage",
                "operate"};
    }
    return {};
}

int monitor(EngineSession& session, const MonitorRequest& request)
{
    if (!session.connectToUnit())
        return Exit::Failure;
    bool channelsOk = false;
    const QList<int> channels = channelsFor(session, request, &channelsOk);
    if (!channelsOk)
        return Exit::Failure;

    // The time plots take their channels from the chart's series names, as on the screen.
    QObject charts;
    WorkerAsync::WorkerMode mode = WorkerAsync::WorkerModeAllChannels;
    Settings* settings = session.worker()->settings();
    if (request.kind != MonitorRequest::All) {
        const bool cps = request.kind == MonitorRequest::Cps;
        mode =
            cps ? WorkerAsync::WorkerModeCpsVersTime : WorkerAsync::WorkerModeTemperatureVersTime;
        QList<QAbstractSeries*> series;
        for (int address : channels) {
            auto* line = new QLineSeries(&charts);
            line->setName(
                (cps ? QStringLiteral("SSPD %1") : QStringLiteral("Temperature %1")).arg(address));
            series.append(line);
        }
        settings->setSeries(series);
        if (request.timeConstant)
            settings->setTimeConstant(*request.timeConstant);
    }
    session.worker()->initializeGUI(mode);

    const QStringList columns = monitorColumns(request.kind);
    cliOut() << Csv::line(columns) << Qt::endl;
    // Lines nobody receives (a full disk, a closed pipe) end the monitor.
    bool outputLost = !outputWritten();
    // Failed readings in a row of every channel that has answered once: when all of them
    // have failed as often as a sweep may, the unit is gone. Channels that never answered
    // (a module that gives no readings) do not count.
    QHash<int, int> failedInARow;
    const auto unitLost = [&] {
        if (failedInARow.isEmpty())
            return false;
        for (int failed : std::as_const(failedInARow)) {
            if (failed < WorkerProcess::UnitLostAfterFailedReadings)
                return false;
        }
        return true;
    };
    int failedReadings = 0;
    // The last reading of every channel read so far: the unit is silent while all failed.
    QHash<int, bool> answeredLast;
    bool silent = false;
    const auto followUnit = [&](int address, bool answered) {
        answeredLast.insert(address, answered);
        const bool nowSilent =
            std::none_of(answeredLast.cbegin(), answeredLast.cend(), [](bool a) { return a; });
        if (nowSilent == silent)
            return;
        silent = nowSilent;
        const QString at = Csv::time(QDateTime::currentDateTimeUtc());
        printError(silent ? QStringLiteral("the unit stopped answering at %1").arg(at)
                          : QStringLiteral("the unit answers again at %1").arg(at));
    };
    QObject printer;
    QObject::connect(
        session.worker()->process(), &WorkerProcess::dataReady, &printer,
        [&](int address, const QHash<QString, QVariant>& record) {
            if (!channels.contains(address))
                return;
            const bool answered = record.value("status").toInt() == ReadingAnswered;
            if (answered)
                failedInARow.insert(address, 0);
            else if (failedInARow.contains(address))
                ++failedInARow[address];
            if (!answered)
                ++failedReadings;
            followUnit(address, answered);
            QStringList fields;
            for (const QString& column : columns) {
                if (column == "time")
                    fields << Csv::time(QDateTime::currentDateTimeUtc());
                else if (column == "address")
                    fields << QString::number(address);
                else if (column == "type")
                    fields << typeStringOf(session, address);
                else if (column == "status")
                    fields << (record.value("status").toInt() == ReadingAnswered ? "ok" : "fault");
                else
                    fields << Csv::value(record.value(column));
            }
            cliOut() << Csv::line(fields) << Qt::endl;
            outputLost = outputLost || !outputWritten();
        });

    // A unit that closes the connection leaves the worker idle: without --keep-going the
    // monitor ends, with it the monitor connects again (once a second) and reads on.
    bool closed = false;
    QObject::connect(session.worker(), &WorkerAsync::disconnected, &printer, [&] {
        closed = true;
        printError(QStringLiteral("the unit closed the connection at %1")
                       .arg(Csv::time(QDateTime::currentDateTimeUtc())));
    });

    if (!session.activate(mode)) {
        settings->setSeries({});
        return session.interrupted() ? Exit::Success : failure("the monitor did not start");
    }
    bool timeUp = false;
    QTimer end;
    end.setSingleShot(true);
    QObject::connect(&end, &QTimer::timeout, [&] { timeUp = true; });
    if (request.duration)
        end.start(int(*request.duration * 1000.0));
    const auto over = [&] { return timeUp || outputLost || session.interrupted(); };
    // Ctrl-C is the ordinary end of a monitor without --duration.
    session.waitUntil([&] { return over() || closed || (!request.keepGoing && unitLost()); });
    QTimer pause;
    pause.setSingleShot(true);
    while (closed && request.keepGoing && !over()) {
        closed = false;
        failedInARow.clear();
        if (session.connectToUnit() && !closed && session.activate(mode) && !closed) {
            printError(QStringLiteral("connected again at %1")
                           .arg(Csv::time(QDateTime::currentDateTimeUtc())));
            session.waitUntil([&] { return over() || closed; });
        } else {
            closed = true;
            pause.start(1000);
            session.waitUntil([&] { return over() || !pause.isActive(); });
        }
    }
    session.worker()->activateMode(WorkerAsync::WorkerModeNoAction);
    settings->setSeries({});
    if (outputLost)
        return Exit::Failure;
    if (request.keepGoing)
        return Exit::Success;
    if (closed)
        return failure(QStringLiteral("monitor ended: the unit closed the connection"));
    if (unitLost())
        return failure(QStringLiteral("monitor ended: the unit stopped answering"));
    if (failedReadings > 0)
        return failure(QStringLiteral("%1 reading(s) failed").arg(failedReadings));
    return Exit::Success;
}
