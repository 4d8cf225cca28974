#include "unitcommands.h"

#include "clioutput.h"
#include "enginesession.h"
#include "exitcode.h"
#include "parameternames.h"

#include <QJsonDocument>

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
    // A number the panel has no field for goes as it is.
    const std::optional<ParameterRange> range = panelRange(type, request.name);
    if (!parameter->isSwitch && range && !range->contains(request.value.toDouble()))
        return usageError(QStringLiteral("%1 must be from %2 %3")
                              .arg(request.name, range->text(), parameter->unit));

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
