#include "clioptions.h"

#include "enginecommands.h"
#include "propertytable.h"

namespace {

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
               "read and write first ask the module its type and refuse a module of another\n"
               "kind. write sends finite values that fit the property's type; current,\n"
               "cmpRefLevel, timeConst, autoResetThreshold, autoResetTimeOut and\n"
               "tempSensorCurrent (alone or as fields of a structure) stay within what the\n"
               "application allows. A structure may name only some of its fields: the others\n"
               "are read from the module first and written back as they were. --force skips\n"
               "the type check and the application's limits. --tries applies to these\n"
               "commands only.")
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
                          "127.0.0.1)."),
           QStringLiteral("ADDR")),
      port(QStringLiteral("port"), QStringLiteral("Unit TCP port (default 9876)."),
           QStringLiteral("N"), QStringLiteral("9876")),
      tries(QStringLiteral("tries"),
            QStringLiteral("Requests per module read or write (default 3)."), QStringLiteral("N"),
            QStringLiteral("3")),
      timeout(QStringLiteral("timeout-ms"),
              QStringLiteral("Answer time-out per request in milliseconds (default 500). The "
                             "engine commands wait their fixed 500 ms and take no other value."),
              QStringLiteral("N"), QStringLiteral("500")),
      force(QStringLiteral("force"),
            QStringLiteral("read, write: skip the check that the module is of KIND; write: "
                           "send values beyond the application's limits; eeprom write: accept "
                           "another module's constants (another UDID)."))
{
    m_parser.setApplicationDescription(
        QStringLiteral("Talks to a Tavik control unit over TCP.\n\n") + driverCommandsHelp() +
        QStringLiteral("\n\n") + engineCommandsHelp() +
        QStringLiteral("\n\nExit status: 0 success; 1 the unit cannot be reached, or it or a "
                       "module\nrefused, failed or did not answer; 2 usage error."));
    m_parser.addHelpOption();
    m_parser.addOptions({unit, port, tries, timeout, force});
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
