#include "clioptions.h"

#include "bootcommand.h"
#include "clirunner.h"
#include "discovercommand.h"
#include "enginecommands.h"
#include "firmwarelistcommand.h"
#include "firmwareupdatecommand.h"
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
                          "%1).")
               .arg(cuHostAddressFromText(StoredSettings::DefaultUnitAddress).toString()),
           QStringLiteral("ADDR")),
      port(QStringLiteral("port"),
           QStringLiteral("Unit TCP port (default %1); boot: the serial device.")
               .arg(CliRunner::Options().port),
           QStringLiteral("N"), QString::number(CliRunner::Options().port)),
      tries(QStringLiteral("tries"),
            QStringLiteral("Requests per module read or write (default 3)."), QStringLiteral("N"),
            QStringLiteral("3")),
      timeout(QStringLiteral("timeout-ms"),
              QStringLiteral("Answer time-out per request in milliseconds (default %1).")
                  .arg(CliRunner::Options().timeoutMs),
              QStringLiteral("N"), QString::number(CliRunner::Options().timeoutMs)),
      force(QStringLiteral("force"),
            QStringLiteral("read, write: skip the check that the module is of KIND; write: "
                           "send values beyond the application's limits; eeprom write: accept "
                           "another module's constants (another UDID)."))
{
    // One section per group of commands, in the order the help shows them.
    const QStringList sections = {
        driverCommandsHelp(),   engineCommandsHelp(), discoverCommandHelp(),
        firmwareCommandsHelp(), firmwareUpdateHelp(), bootCommandHelp(),
    };
    m_parser.setApplicationDescription(
        QStringLiteral("Talks to a Tavik control unit over TCP.\n\n") +
        sections.join(QStringLiteral("\n\n")) +
        QStringLiteral("\n\nExit status: 0 success; 1 the unit cannot be reached, or it or a "
                       "module\nrefused, failed or did not answer; 2 usage error."));
    m_parser.addHelpOption();
    m_parser.addOptions({unit, port, tries, timeout, force});
    m_parser.addOptions({
        valueOption("mode", "monitor: all (default), cps or temp.", "MODE"),
        valueOption("channels", "monitor, preset save: module addresses, e.g. 1,2.", "LIST"),
        valueOption("time-constant", "monitor cps/temp, sweep: seconds per reading.", "S"),
        valueOption("duration", "monitor, sweep histogram: seconds to run.", "S"),
        QCommandLineOption("keep-going",
                           "monitor: go on through a unit that stops answering, and end with "
                           "status 0 even when readings failed."),
        valueOption("channel", "sweep, characterise: the SSPD channel's module address.", "N"),
        valueOption("dark-limit",
                    "characterise: excess dark counts allowed at the recommended bias "
                    "(default 100).",
                    "CPS"),
        QCommandLineOption("apply", "characterise: leave the channel at the recommended bias."),
        valueOption("from", "sweep: start value (A, V or cps).", "X"),
        valueOption("to", "sweep: end value.", "Y"),
        valueOption("step", "sweep: step, or the histogram's bin width.", "S"),
        valueOption("trigger", "sweep current: stop when the voltage exceeds V (default 0.1).",
                    "V"),
        valueOption("out", "sweep, eeprom read: output file.", "FILE"),
        QCommandLineOption("store", "eeprom write: make the module keep the constants."),
        valueOption("wait-ms", "discover: milliseconds to collect answers (default 500).", "N"),
        QCommandLineOption("wait-for-device", "boot: wait for the module to be plugged in."),
        valueOption("family", "firmware list: module family, VX9SD or VX9TD.", "F"),
        valueOption("modification", "firmware list, update: module modification.", "M"),
        valueOption("hardware", "firmware list, update: hardware revision.", "H"),
        valueOption("base-url", "firmware: root address of the firmware catalogue.", "URL"),
        valueOption("version", "firmware update: the firmware version to install.", "V"),
        valueOption("file-server-port",
                    "firmware update: port the unit fetches the image "
                    "from (default 9879).",
                    "N"),
        valueOption("update-timeout",
                    "firmware update: seconds for the whole update "
                    "(default 600).",
                    "S"),
    });
    m_parser.addPositionalArgument(
        QStringLiteral("command"),
        QStringLiteral("query, identity, read, write, list, monitor, set, sweep, preset, unit, "
                       "eeprom, characterise, discover, firmware or boot."));
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
