#include "clioptions.h"

#include "clirunner.h"
#include "enginecommands.h"
#include "link/cutcpsocketiointerface.h"
#include "link/hostaddresstext.h"
#include "link/storedsettings.h"
#include "propertytable.h"

namespace {

static_assert(AbstractDriver::DefaultAnswerTimeoutMs == cuTcpSocketIOInterface::QueryTimeoutMs,
              "--timeout-ms has one default for module answers and text queries");

QString driverCommandsHelp()
{
    QStringList kinds;
    for (const ModuleKind& kind : moduleKinds())
        kinds << kind.name;
    return QStringLiteral(
               "Commands straight on the driver library:\n"
               "  query TEXT                         send one text command to the unit (CR LF\n"
               "                                     is appended unless TEXT ends with it) and\n"
               "                                     print the answer\n"
               "  identity MODULE                    type, modification, hardware, firmware,\n"
               "                                     description and UDID of the module at bus\n"
               "                                     address MODULE, as JSON\n"
               "  read MODULE KIND PROPERTY          read one property and print it as JSON;\n"
               "                                     structures field by field\n"
               "  write MODULE KIND PROPERTY VALUE   write one property (numbers, booleans as\n"
               "                                     0/1, structures as a JSON object) and\n"
               "                                     report whether the module acknowledged\n"
               "\n"
               "KIND is one of: %1. PROPERTY is the driver's accessor name (data, params,\n"
               "eepromConst, current, relays, ...); a wrong name lists the kind's properties.\n"
               "--tries and --timeout-ms apply to these commands only.")
        .arg(kinds.join(", "));
}

QCommandLineOption valueOption(const QString& name, const QString& description,
                               const QString& valueName)
{
    return QCommandLineOption(name, description, valueName);
}

} // namespace

CliOptions::CliOptions()
    : unit(QStringLiteral("unit"),
           QStringLiteral("Unit address (default: the address the application last used, else "
                          "%1).")
               .arg(cuHostAddressFromText(StoredSettings::DefaultUnitAddress).toString()),
           QStringLiteral("ADDR")),
      port(QStringLiteral("port"),
           QStringLiteral("Unit TCP port (default %1).").arg(CliRunner::Options().port),
           QStringLiteral("N"), QString::number(CliRunner::Options().port)),
      tries(QStringLiteral("tries"),
            QStringLiteral("Requests per module read or write (default 3)."), QStringLiteral("N"),
            QStringLiteral("3")),
      timeout(QStringLiteral("timeout-ms"),
              QStringLiteral("Answer time-out per request in milliseconds (default %1).")
                  .arg(CliRunner::Options().timeoutMs),
              QStringLiteral("N"), QString::number(CliRunner::Options().timeoutMs))
{
    m_parser.setApplicationDescription(
        QStringLiteral("Talks to a Tavik control unit over TCP.\n\n") + driverCommandsHelp() +
        QStringLiteral("\n\n") + engineCommandsHelp() +
        QStringLiteral("\n\nExit status: 0 success; 1 the unit cannot be reached, or it or a "
                       "module\nrefused, failed or did not answer; 2 usage error."));
    m_parser.addHelpOption();
    m_parser.addOptions({unit, port, tries, timeout});
    m_parser.addOptions({
        valueOption("mode", "monitor: all (default), cps or temp.", "MODE"),
        valueOption("channels", "monitor, preset save: module addresses, e.g. 1,2.", "LIST"),
        valueOption("time-constant", "monitor cps/temp, sweep: seconds per reading.", "S"),
        valueOption("duration", "monitor, sweep histogram: seconds to run.", "S"),
        valueOption("channel", "sweep: the SSPD channel's module address.", "N"),
        valueOption("from", "sweep: start value (A, V or cps).", "X"),
        valueOption("to", "sweep: end value.", "Y"),
        valueOption("step", "sweep: step, or the histogram's bin width.", "S"),
        valueOption("trigger", "sweep current: stop when the voltage exceeds V (default 0.1).",
                    "V"),
        valueOption("out", "sweep, eeprom read: output file.", "FILE"),
        QCommandLineOption("store", "eeprom write: make the module keep the constants."),
    });
    m_parser.addPositionalArgument(
        QStringLiteral("command"),
        QStringLiteral("query, identity, read, write, list, monitor, set, sweep, preset, unit "
                       "or eeprom."));
    m_parser.addPositionalArgument(QStringLiteral("arguments"),
                                   QStringLiteral("Arguments of the command."),
                                   QStringLiteral("[...]"));
}

bool CliOptions::parse(const QStringList& arguments)
{
    return m_parser.parse(arguments);
}

QHash<QString, QString> CliOptions::givenOptions() const
{
    QHash<QString, QString> given;
    for (const QString& name : m_parser.optionNames())
        given.insert(name, m_parser.value(name));
    return given;
}
