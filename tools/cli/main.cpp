// cu-tavik-cli: a shell tool for engineers and scripts. Straight on the driver library it
// sends one text command to a unit, reads a module's identity, or reads or writes one
// property; through the measurement engine (the application's own worker) it lists the
// modules, monitors, sets parameters, runs sweeps, keeps presets, maintains the unit and
// moves calibration constants; it finds units, lists the firmware catalogue of the web
// server and updates a module's firmware from it, and over the RS-485 line writes a
// module's firmware through its bootloader.
#include "bootcommand.h"
#include "clioptions.h"
#include "clioutput.h"
#include "clirunner.h"
#include "discovercommand.h"
#include "enginecommands.h"
#include "exitcode.h"
#include "firmwarelistcommand.h"
#include "firmwareupdatecommand.h"
#include "link/hostaddresstext.h"
#include "link/storedsettings.h"
#include "tavikversion.h"

#include <QApplication>
#include <QCoreApplication>
#include <QSettings>
#include <memory>

namespace {

QtMessageHandler qtMessageHandlerBeforeStartup = nullptr;

// The address the application last connected to, as the application stores it; without
// one, the application's default, written the ordinary way.
QString storedUnitAddress()
{
    const QSettings settings(StoredSettings::Organisation, StoredSettings::Application);
    const QVariant stored = settings.value(StoredSettings::UnitAddressKey);
    if (stored.isValid())
        return stored.toString();
    return cuHostAddressFromText(StoredSettings::DefaultUnitAddress).toString();
}

// While the GUI application starts, its notes about the desktop session (a missing
// XDG_RUNTIME_DIR in a cron job or over ssh) mean nothing to a shell user; errors pass.
void quietStartupHandler(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        qtMessageHandlerBeforeStartup(type, context, text);
}

// The engine's chart series need a GUI application; the tool never shows a window.
std::unique_ptr<QCoreApplication> makeApplication(bool engine, int& argc, char* argv[])
{
    if (!engine)
        return std::make_unique<QCoreApplication>(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qtMessageHandlerBeforeStartup = qInstallMessageHandler(quietStartupHandler);
    auto app = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(qtMessageHandlerBeforeStartup);
    return app;
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    CliOptions cli;
    const bool parsed = cli.parse(arguments);
    const bool firmwareUpdate =
        cli.command() == u"firmware" && cli.positional().value(1) == u"update";
    const bool engine =
        parsed && !cli.helpRequested() && (isEngineCommand(cli.command()) || firmwareUpdate);

    const std::unique_ptr<QCoreApplication> app = makeApplication(engine, argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("cu-tavik-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVIK_VERSION));

    if (!parsed)
        return usageError(cli.errorText());
    if (cli.helpRequested()) {
        cliOut() << cli.helpText() << Qt::flush;
        return checkedExit(Exit::Success);
    }
    if (cli.command() == QLatin1String("discover"))
        return runDiscoverCommand(cli.positional(), cli.givenOptions());
    if (cli.command() == QLatin1String("boot"))
        return runBootCommand(cli.positional(), cli.givenOptions());

    if (cli.command() == u"firmware") {
        const QString subcommand = cli.positional().value(1);
        if (subcommand == u"list")
            return runFirmwareList(cli.positional().mid(2), cli.givenOptions());
        if (subcommand != u"update")
            return usageError(
                subcommand.isEmpty()
                    ? QStringLiteral("firmware needs a subcommand: list or update")
                    : QStringLiteral("unknown firmware subcommand: %1").arg(subcommand));
    }

    const QString unitText = cli.isSet(cli.unit) ? cli.value(cli.unit) : storedUnitAddress();
    const QHostAddress unit = cuHostAddressFromText(unitText);
    if (unit.isNull())
        return usageError(QStringLiteral("not a unit address: %1").arg(unitText));
    bool ok = false;
    const uint port = cli.value(cli.port).toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return usageError(QStringLiteral("--port must be 1 to 65535"));
    // Every command that asks a unit waits this long for each answer.
    const int timeoutMs = cli.value(cli.timeout).toInt(&ok);
    if (!ok || timeoutMs < 1)
        return usageError(QStringLiteral("--timeout-ms must be a positive number"));

    const QStringList args = cli.positional();
    const QString command = cli.command();
    // What the engine commands and the firmware update share; the rest of their options
    // are their own.
    const EngineSession::Target target{unitText, quint16(port), timeoutMs};
    QHash<QString, QString> ownOptions = cli.givenOptions();
    for (const char* shared : {"unit", "port", "timeout-ms"})
        ownOptions.remove(QLatin1String(shared));
    if (firmwareUpdate)
        return runFirmwareUpdate(args.mid(2), ownOptions, target);
    if (engine)
        return checkedExit(runEngineCommand({args, ownOptions}, target));

    const QStringList driverOptions = {"unit", "port", "tries", "timeout-ms", "force"};
    for (const QString& name : cli.givenOptions().keys()) {
        if (!driverOptions.contains(name))
            return usageError(QStringLiteral("--%1 does not apply to %2").arg(name, command));
    }

    CliRunner::Options options;
    options.unitText = unitText;
    options.unit = unit;
    options.port = quint16(port);
    options.tries = cli.value(cli.tries).toInt(&ok);
    if (!ok || options.tries < 1)
        return usageError(QStringLiteral("--tries must be a positive number"));
    options.timeoutMs = timeoutMs;

    options.force = cli.isSet(cli.force);
    if (options.force && command != "read" && command != "write")
        return usageError(QStringLiteral("--force does not apply to %1").arg(command));

    const auto expect = [&](int count) { return args.size() == count + 1; };
    CliRunner runner(options);
    if (command == "query" && expect(1))
        return checkedExit(runner.query(args.at(1)));
    if (command == "identity" && expect(1))
        return checkedExit(runner.identity(args.at(1)));
    if (command == "read" && expect(3))
        return checkedExit(runner.read(args.at(1), args.at(2), args.at(3)));
    if (command == "write" && expect(4))
        return checkedExit(runner.write(args.at(1), args.at(2), args.at(3), args.at(4)));
    if (command.isEmpty())
        return usageError(QStringLiteral("no command given"));
    if (QStringList{"query", "identity", "read", "write"}.contains(command))
        return usageError(QStringLiteral("wrong number of arguments for %1").arg(command));
    return usageError(QStringLiteral("unknown command: %1").arg(command));
}
