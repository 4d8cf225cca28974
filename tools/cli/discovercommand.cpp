#include "discovercommand.h"

#include "clioutput.h"
#include "exitcode.h"
#include "link/controlunitlistprovider.h"

#include <QEventLoop>

QString discoverCommandHelp()
{
    return QStringLiteral(
        "Finding units (no unit connection):\n"
        "  discover [--wait-ms N]             broadcast a search on every local network and\n"
        "                                     print the address of each unit that answers\n"
        "                                     within N ms (default 500), one per line; this\n"
        "                                     computer is 127.0.0.1. Exit status 1 when the\n"
        "                                     answer port 9878 is in use.");
}

int runDiscoverCommand(const QStringList& arguments, const QHash<QString, QString>& options)
{
    if (arguments.size() != 1)
        return usageError(QStringLiteral("discover takes no arguments"));
    for (const QString& name : options.keys()) {
        if (name != QLatin1String("wait-ms"))
            return usageError(QStringLiteral("--%1 does not apply to discover").arg(name));
    }
    int waitMs = ControlUnitListProvider::DefaultSearchDurationMs;
    if (options.contains(QStringLiteral("wait-ms"))) {
        bool ok = false;
        waitMs = options.value(QStringLiteral("wait-ms")).toInt(&ok);
        if (!ok || waitMs < 1)
            return usageError(QStringLiteral("--wait-ms must be a positive number"));
    }

    ControlUnitListProvider provider;
    provider.setSearchDurationMs(waitMs);
    bool portBusy = false;
    QEventLoop loop;
    QObject::connect(&provider, &ControlUnitListProvider::error, [&portBusy] { portBusy = true; });
    QObject::connect(&provider, &ControlUnitListProvider::ready, &loop, &QEventLoop::quit);
    provider.search();
    if (portBusy)
        return failure(QStringLiteral("cannot search for units: answer port %1 is in use")
                           .arg(provider.answerPort()));
    loop.exec();
    for (const QString& unit : provider.controlUnits())
        cliOut() << unit << '\n';
    cliOut() << Qt::flush;
    return Exit::Success;
}
