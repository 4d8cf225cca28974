#include "unitcommands.h"

#include "clioutput.h"
#include "enginesession.h"
#include "exitcode.h"
#include "models/dataproviderlist.h"
#include "models/driverdatamodel.h"
#include "models/driverrowtables.h"
#include "parameternames.h"

#include <QJsonDocument>
#include <cmath>

namespace {

DataProviderItem recordOf(EngineSession& session, int address)
{
    const QList<DataProviderItem> items = session.worker()->dataList()->items();
    for (const DataProviderItem& item : items) {
        if (item.value(QStringLiteral("address")).toInt() == address)
            return item;
    }
    return {};
}

// The range the module's parameter panel allows for a number, in SI units; none when the
// panel has no such field (the value then goes as it is).
bool withinPanelRange(const DataProviderItem& record, const QString& name, double value,
                      QString* allowed)
{
    QList<DriverDataItem> rows;
    appendDriverRows(rows, record);
    for (const DriverDataItem& row : std::as_const(rows)) {
        if (row.name() != name || row.type() != DriverDataModel::DriverDataTypeDouble ||
            row.scale() == 0)
            continue;
        const double min = row.min() / row.scale();
        const double max = row.max() / row.scale();
        const double slack = 1e-9 * qMax(std::abs(min), std::abs(max));
        *allowed = QStringLiteral("%1 to %2").arg(min).arg(max);
        return value >= min - slack && value <= max + slack;
    }
    return true;
}

} // namespace

int listModules(EngineSession& session)
{
    if (!session.connectToUnit())
        return Exit::Failure;
    cliOut() << QJsonDocument(session.moduleList()).toJson(QJsonDocument::Indented) << Qt::flush;
    return Exit::Success;
}

int setParameter(EngineSession& session, const SetRequest& request)
{
    if (!session.connectToUnit())
        return Exit::Failure;
    const int type = session.moduleType(request.module);
    if (type < 0)
        return failure(QStringLiteral("the unit has no module at address %1").arg(request.module));
    const ParameterName* parameter = findParameterName(request.name);
    if (!parameter || !parameter->types.contains(type))
        return usageError(QStringLiteral("module %1 is a %2, which has no parameter %3")
                              .arg(request.module)
                              .arg(typeName(type), request.name));
    QString allowed;
    if (!parameter->isSwitch && !withinPanelRange(recordOf(session, request.module), request.name,
                                                  request.value.toDouble(), &allowed))
        return usageError(
            QStringLiteral("%1 must be from %2 %3").arg(request.name, allowed, parameter->unit));

    const bool ok = session.runQueued(WorkerAsync::CommandFreeStyle, [&] {
        session.worker()->setParameter(request.module, request.name, request.value);
    });
    if (session.interrupted())
        return failure(QStringLiteral("interrupted"));
    if (!ok)
        return failure(QStringLiteral("module %1 did not take %2 = %3")
                           .arg(request.module)
                           .arg(request.name, request.value.toString()));
    return Exit::Success;
}

int unitCommand(EngineSession& session, const UnitRequest& request)
{
    if (!session.connectToUnit())
        return Exit::Failure;
    // The engine reports a refused command itself (sendErrorMessage).
    const int errorsBefore = session.errorCount();
    if (session.run(request.command, request.parameter))
        return Exit::Success;
    if (session.interrupted())
        return failure(QStringLiteral("interrupted"));
    if (session.errorCount() == errorsBefore)
        return failure(QStringLiteral("the unit did not carry out the command"));
    return Exit::Failure;
}
