// cu-tavik-cli: a shell tool on the driver library for engineers and scripts. It sends one
// text command to a unit, reads a module's identity, or reads or writes one property.
#include "clirunner.h"
#include "link/hostaddresstext.h"
#include "propertytable.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSettings>
#include <QTextStream>

namespace {

QString commandsHelp()
{
    QStringList kinds;
    for (const ModuleKind& kind : moduleKinds())
        kinds << kind.name;
    return QStringLiteral(
               "Commands:\n"
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
               "\n"
               "Exit status: 0 success; 1 the unit cannot be reached or the module does not\n"
               "answer; 2 usage error.")
        .arg(kinds.join(", "));
}

int usageError(const QString& message)
{
    QTextStream(stderr) << "cu-tavik-cli: " << message << "\n"
                        << "Try 'cu-tavik-cli --help'." << Qt::endl;
    return CliRunner::UsageError;
}

// The address the application last connected to, as the application stores it.
QString storedUnitAddress()
{
    const QSettings settings(QStringLiteral("Norvane"), QStringLiteral("cu-tavik"));
    return settings.value(QStringLiteral("TcpIpAddress"), QStringLiteral("127.0.0.1")).toString();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("cu-tavik-cli"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Talks to a Tavik control unit over TCP.\n\n") +
                                     commandsHelp());
    parser.addHelpOption();
    const QCommandLineOption unitOption(
        QStringLiteral("unit"),
        QStringLiteral("Unit address (default: the address the application last used, else "
                       "127.0.0.1)."),
        QStringLiteral("ADDR"));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Unit TCP port (default 9876)."),
                                        QStringLiteral("N"), QStringLiteral("9876"));
    const QCommandLineOption triesOption(
        QStringLiteral("tries"), QStringLiteral("Requests per module read or write (default 3)."),
        QStringLiteral("N"), QStringLiteral("3"));
    const QCommandLineOption timeoutOption(
        QStringLiteral("timeout-ms"),
        QStringLiteral("Answer time-out per request in milliseconds (default 500)."),
        QStringLiteral("N"), QStringLiteral("500"));
    parser.addOptions({unitOption, portOption, triesOption, timeoutOption});
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("query, identity, read or write."));
    parser.addPositionalArgument(QStringLiteral("arguments"),
                                 QStringLiteral("Arguments of the command."),
                                 QStringLiteral("[...]"));

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        QTextStream(stdout) << parser.helpText();
        return CliRunner::Success;
    }

    CliRunner::Options options;
    options.unitText = parser.isSet(unitOption) ? parser.value(unitOption) : storedUnitAddress();
    options.unit = cuHostAddressFromText(options.unitText);
    if (options.unit.isNull())
        return usageError(QStringLiteral("not a unit address: %1").arg(options.unitText));
    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return usageError(QStringLiteral("--port must be 1 to 65535"));
    options.port = quint16(port);
    options.tries = parser.value(triesOption).toInt(&ok);
    if (!ok || options.tries < 1)
        return usageError(QStringLiteral("--tries must be a positive number"));
    options.timeoutMs = parser.value(timeoutOption).toInt(&ok);
    if (!ok || options.timeoutMs < 1)
        return usageError(QStringLiteral("--timeout-ms must be a positive number"));

    const QStringList args = parser.positionalArguments();
    const QString command = args.value(0);
    const auto expect = [&](int count) { return args.size() == count + 1; };
    CliRunner runner(options);
    if (command == "query" && expect(1))
        return runner.query(args.at(1));
    if (command == "identity" && expect(1))
        return runner.identity(args.at(1));
    if (command == "read" && expect(3))
        return runner.read(args.at(1), args.at(2), args.at(3));
    if (command == "write" && expect(4))
        return runner.write(args.at(1), args.at(2), args.at(3), args.at(4));
    if (command.isEmpty())
        return usageError(QStringLiteral("no command given"));
    if (QStringList{"query", "identity", "read", "write"}.contains(command))
        return usageError(QStringLiteral("wrong number of arguments for %1").arg(command));
    return usageError(QStringLiteral("unknown command: %1").arg(command));
}
