// cu-tavik-sim: a simulated control unit with its modules, for demos, training and tests.
#include "core/simcontrol.h"
#include "core/simenvironment.h"
#include "core/simlog.h"
#include "core/simmodulefactory.h"
#include "core/simoptions.h"
#include "core/simrack.h"
#include "core/simstatefile.h"
#include "core/simunit.h"
#include "link/unitports.h"
#include "net/simcatalogueserver.h"
#include "net/simdiscovery.h"
#include "tavikversion.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// SIGINT and SIGTERM reach the event loop through a socket pair: the handler only writes
// one byte, the notifier quits the application.
int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[0], &byte, 1);
}

bool watchSignals(QCoreApplication* app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return false;
    auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [notifier] {
        notifier->setEnabled(false);
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[1], &byte, 1);
        qCInfo(lcSim) << "signal received, shutting down";
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGTERM, &action, nullptr) == 0;
}

int fail(const QString& message)
{
    QTextStream(stderr) << "cu-tavik-sim: " << message << Qt::endl;
    return 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("cu-tavik-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVIK_VERSION));

    SimOptions options;
    QString output;
    QString error;
    switch (parseSimOptions(QCoreApplication::arguments(), &options, &output, &error)) {
    case SimOptionsResult::Help:
    case SimOptionsResult::Version:
        QTextStream(stdout) << output;
        return 0;
    case SimOptionsResult::Error:
        QTextStream(stderr) << "cu-tavik-sim: " << error << "\n"
                            << "Try 'cu-tavik-sim --help'." << Qt::endl;
        return 2;
    case SimOptionsResult::Run:
        break;
    }
    if (!watchSignals(&app))
        return fail(QStringLiteral("cannot watch SIGINT and SIGTERM"));

    SimEnvironment environment(options.seed);
    SimUnit unit(&environment);
    unit.setListenAddress(options.listen);
    unit.setPort(options.port);
    unit.setVerbose(options.verbose);
    unit.setFaults(options.faults);

    SimRack rack = SimRack::demo();
    if (!options.rackFile.isEmpty()) {
        const auto loaded = SimRack::load(options.rackFile, &error);
        if (!loaded)
            return fail(error);
        rack = *loaded;
    }
    if (!rack.install(&unit, &error))
        return fail(options.rackFile.isEmpty() ? error : options.rackFile + ": " + error);

    SimStateFile* state = nullptr;
    if (!options.stateFile.isEmpty()) {
        state = new SimStateFile(options.stateFile, &unit, &app);
        if (!state->load(&error))
            return fail(error);
        state->watch();
    }

    if (!unit.start(&error))
        return fail(error);
    QObject::connect(&unit, &SimUnit::poweredOff, &app, [] {
        qCInfo(lcSim) << "the unit was powered off; the program ends";
        QCoreApplication::quit();
    });

    if (options.discoverable) {
        auto* discovery = new SimDiscoveryResponder(&app);
        if (!discovery->start())
            return fail(QStringLiteral("cannot listen for discovery broadcasts on UDP %1")
                            .arg(UnitPorts::DiscoveryBroadcast));
    }

    if (options.controlPort != 0) {
        auto* control = new SimControl(&unit, &app);
        if (!control->start(options.controlPort, &error))
            return fail(error);
    }

    SimCatalogueServer* catalogue = nullptr;
    if (!options.firmwareDir.isEmpty()) {
        catalogue = new SimCatalogueServer(options.firmwareDir, &app);
        if (!catalogue->start(options.httpListen, options.httpPort, &error))
            return fail(error);
    }

    QTextStream(stdout) << QStringLiteral("cu-tavik-sim: unit with %1 module(s) listening on "
                                          "%2 port %3%4")
                               .arg(unit.modules().size())
                               .arg(unit.listenAddress().toString())
                               .arg(unit.serverPort())
                               .arg(options.discoverable ? ", discoverable" : "")
                        << Qt::endl;
    if (catalogue)
        QTextStream(stdout) << QStringLiteral("cu-tavik-sim: firmware catalogue %1 at %2")
                                   .arg(options.firmwareDir, catalogue->rootUrl())
                            << Qt::endl;

    const int status = app.exec();
    unit.stop();
    return status;
}
