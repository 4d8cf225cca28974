#include "firmwareupdatecommand.h"

#include "clioutput.h"
#include "enginerequests.h"
#include "exitcode.h"
#include "firmware/filemaphandler.h"
#include "firmware/fileserver.h"
#include "firmwarelistcommand.h"
#include "interruptwatcher.h"
#include "link/eventwait.h"
#include "link/unitports.h"
#include "models/dataproviderlist.h"

#include <QDeadlineTimer>
#include <QJsonObject>
#include <climits>
#include <memory>

namespace {

constexpr double DefaultTimeoutS = 600;
// The unlock at the end goes out even after Ctrl-C; this long it may take.
constexpr int UnlockWaitMs = 5000;

struct UpdateRequest
{
    int module = 0;
    QString version;
    QString modification; // empty: the module's own
    QString hardware;     // empty: the module's own
    std::optional<QString> baseUrl;
    quint16 fileServerPort = UnitPorts::FileServer;
    double timeoutS = DefaultTimeoutS;
};

std::optional<UpdateRequest> parseRequest(const QStringList& arguments,
                                          const QHash<QString, QString>& options, QString* error)
{
    const auto fail = [error](const QString& text) {
        *error = text;
        return std::nullopt;
    };
    const QStringList known = {"version",  "modification",     "hardware",
                               "base-url", "file-server-port", "update-timeout"};
    for (auto it = options.cbegin(); it != options.cend(); ++it) {
        if (!known.contains(it.key()))
            return fail(QStringLiteral("--%1 does not apply to firmware update").arg(it.key()));
    }
    if (arguments.size() != 1)
        return fail(QStringLiteral("usage: firmware update MODULE --version V"));
    UpdateRequest request;
    const std::optional<int> module = parseModuleAddress(arguments.first());
    if (!module)
        return fail(QStringLiteral("not a module address: %1").arg(arguments.first()));
    request.module = *module;
    request.version = options.value(QStringLiteral("version"));
    if (request.version.isEmpty())
        return fail(QStringLiteral("firmware update needs --version"));
    request.modification = options.value(QStringLiteral("modification"));
    request.hardware = options.value(QStringLiteral("hardware"));
    if (options.contains(QStringLiteral("base-url"))) {
        request.baseUrl = options.value(QStringLiteral("base-url"));
        if (!isFirmwareWebAddress(*request.baseUrl))
            return fail(QStringLiteral("--base-url must be an http or https address: %1")
                            .arg(*request.baseUrl));
    }
    bool ok = true;
    if (options.contains(QStringLiteral("file-server-port"))) {
        const uint port = options.value(QStringLiteral("file-server-port")).toUInt(&ok);
        if (!ok || port == 0 || port > 65535)
            return fail(QStringLiteral("--file-server-port must be 1 to 65535"));
        request.fileServerPort = quint16(port);
    }
    if (options.contains(QStringLiteral("update-timeout"))) {
        request.timeoutS = options.value(QStringLiteral("update-timeout")).toDouble(&ok);
        if (!ok || !(request.timeoutS > 0) || request.timeoutS > 86400)
            return fail(
                QStringLiteral("--update-timeout must be above 0 and at most 86400 seconds"));
    }
    return request;
}

// The family of a module's images: its type string without "M" and the model digit.
QString familyOf(int deviceType)
{
    switch (deviceType) {
    case DataProviderList::DeviceTypeSspdM0:
    case DataProviderList::DeviceTypeSspdM1:
        return QStringLiteral("VX9SD");
    case DataProviderList::DeviceTypeTempM0:
    case DataProviderList::DeviceTypeTempM1:
        return QStringLiteral("VX9TD");
    default:
        return {};
    }
}

class Update
{
public:
    Update(EngineSession& session, const UpdateRequest& request)
        : m_session(session), m_request(request),
          m_deadline(qint64(request.timeoutS * 1000), Qt::CoarseTimer)
    {
    }

    int run()
    {
        if (!m_session.connectToUnit())
            return Exit::Failure;
        const QString url = imageUrl();
        if (url.isEmpty())
            return Exit::Failure;
        const int result = update(url);
        return unlock() ? result : Exit::Failure;
    }

private:
    // The address of the image, once the catalogue holds the version for the module;
    // empty (with the reason printed) otherwise.
    QString imageUrl()
    {
        const QJsonObject info = m_session.moduleInfo(m_request.module);
        const int type = m_session.moduleType(m_request.module);
        if (info.isEmpty() || type < 0)
            return fail(
                QStringLiteral("the unit has no module at address %1").arg(m_request.module));
        const QString family = familyOf(type);
        if (family.isEmpty())
            return fail(QStringLiteral("module %1 is a %2; only SSPD and temperature modules "
                                       "take a firmware update")
                            .arg(m_request.module)
                            .arg(info.value(QLatin1String("type")).toString()));
        const QString modification = m_request.modification.isEmpty()
                                         ? info.value(QLatin1String("Modification")).toString()
                                         : m_request.modification;
        const QString hardware = m_request.hardware.isEmpty()
                                     ? info.value(QLatin1String("Hardware")).toString()
                                     : m_request.hardware;
        if (modification.isEmpty() || hardware.isEmpty())
            return fail(QStringLiteral("module %1 reports no modification or hardware revision; "
                                       "give --modification and --hardware")
                            .arg(m_request.module));

        std::unique_ptr<FileMapHandler> catalogue =
            m_request.baseUrl ? std::make_unique<FileMapHandler>(*m_request.baseUrl)
                              : std::make_unique<FileMapHandler>();
        bool loaded = false;
        QObject::connect(catalogue.get(), &FileMapHandler::errorOccurred, catalogue.get(),
                         [](const QString& message) { printError(message); });
        QObject::connect(catalogue.get(), &FileMapHandler::loadingFinished, catalogue.get(),
                         [&loaded] { loaded = true; });
        catalogue->loadFileMap();
        if (!waitFor([&loaded] { return loaded; }))
            return fail(m_session.interrupted()
                            ? QStringLiteral("interrupted")
                            : QStringLiteral("the firmware catalogue at %1 did not load in time")
                                  .arg(catalogue->baseUrl()));
        catalogue->updateFilters(family, modification, hardware);
        const QString image = family + u'M' + modification + u'V' + hardware;
        if (!catalogue->versions().contains(m_request.version)) {
            const QStringList versions = catalogue->versions();
            return fail(QStringLiteral("firmware %1 is not in the catalogue at %2 for %3 "
                                       "(versions: %4)")
                            .arg(m_request.version, catalogue->baseUrl(), image,
                                 versions.isEmpty() ? QStringLiteral("none")
                                                    : versions.join(QStringLiteral(", "))));
        }
        cliOut() << QStringLiteral("module %1: %2 modification %3 hardware %4 firmware %5; "
                                   "update to %6\n")
                        .arg(m_request.module)
                        .arg(info.value(QLatin1String("type")).toString(), modification, hardware,
                             info.value(QLatin1String("Firmware")).toString(), m_request.version)
                 << Qt::flush;
        return catalogue->baseUrl() + m_request.version + u'/' + image +
               QStringLiteral("_code.bin");
    }

    int update(const QString& url)
    {
        FileServer server;
        bool completed = false;
        QString error;
        // One line per change, as the unit's reports and the download come.
        QObject::connect(&server, &FileServer::statusChanged, &server, [](const QString& status) {
            cliOut() << "status: " << status << Qt::endl;
        });
        QObject::connect(&server, &FileServer::progressChanged, &server, [](int progress) {
            cliOut() << "progress: " << progress << '%' << Qt::endl;
        });
        QObject::connect(&server, &FileServer::clientConnected, &server,
                         [&server, url] { server.downloadAndSendFile(url); });
        QObject::connect(&server, &FileServer::fileTransferCompleted, &server,
                         [&completed] { completed = true; });
        // The unit closes the connection once done; what follows its completion is no error.
        QObject::connect(&server, &FileServer::errorOccurred, &server,
                         [&completed, &error](const QString& text) {
                             if (completed || !error.isEmpty())
                                 return;
                             error = text;
                             printError(text);
                         });

        server.startServer(m_request.fileServerPort);
        if (!error.isEmpty())
            return Exit::Failure;
        // The engine locks the unit and starts the update; the lock is released at the end.
        m_lockTaken = true;
        if (!m_session.run(WorkerAsync::CommandUpdateUnit, m_request.module)) {
            server.stopServer();
            return failure(m_session.interrupted() ? QStringLiteral("interrupted")
                                                   : QStringLiteral("the unit did not start the "
                                                                    "update"));
        }
        waitFor([&] { return completed || !error.isEmpty(); });
        server.stopServer();
        if (completed)
            return Exit::Success;
        if (!error.isEmpty())
            return failure(QStringLiteral("the update of module %1 failed").arg(m_request.module));
        return failure(m_session.interrupted()
                           ? QStringLiteral("interrupted")
                           : QStringLiteral("the update did not complete within %1 s")
                                 .arg(m_request.timeoutS));
    }

    // Releases the lock the update took, also after Ctrl-C; false if the unit refused.
    bool unlock()
    {
        if (!m_lockTaken)
            return true;
        const int from = m_session.outcomeCount();
        m_session.worker()->sendCommand(WorkerAsync::CommandLock, 0);
        bool ok = false;
        const bool done = cuWaitForEvents(
            [&] {
                for (const EngineSession::Outcome& outcome : m_session.outcomesSince(from)) {
                    if (outcome.command == WorkerAsync::CommandLock) {
                        ok = outcome.ok;
                        return true;
                    }
                }
                return false;
            },
            UnlockWaitMs);
        if (!done || !ok)
            printError(QStringLiteral("the unit could not be unlocked"));
        return done && ok;
    }

    bool waitFor(const std::function<bool()>& done)
    {
        cuWaitForEvents(
            [&] { return done() || m_session.interrupted() || m_deadline.hasExpired(); },
            int(qMin<qint64>(m_deadline.remainingTime(), INT_MAX)));
        return done();
    }

    QString fail(const QString& message)
    {
        printError(message);
        return {};
    }

    EngineSession& m_session;
    const UpdateRequest m_request;
    const QDeadlineTimer m_deadline;
    bool m_lockTaken = false;
};

} // namespace

QString firmwareUpdateHelp()
{
    return QStringLiteral(
        "Firmware update (through the measurement engine):\n"
        "  firmware update MODULE --version V [--modification M --hardware H]\n"
        "          [--base-url URL] [--file-server-port N] [--update-timeout S]\n"
        "                                     update the module's firmware as the update\n"
        "                                     dialog does: V must be in the catalogue for\n"
        "                                     the module's family, modification and\n"
        "                                     hardware (default: the module's own); the\n"
        "                                     image is served on TCP port N (default 9879,\n"
        "                                     where the unit connects); prints \"status:\n"
        "                                     TEXT\" and \"progress: N%\" lines as the\n"
        "                                     download and the unit's reports come, and\n"
        "                                     unlocks the unit at the end; exit 0 only when\n"
        "                                     the unit completes within S seconds (default\n"
        "                                     600)");
}

int runFirmwareUpdate(const QStringList& arguments, const QHash<QString, QString>& options,
                      const EngineSession::Target& target)
{
    QString error;
    const std::optional<UpdateRequest> request = parseRequest(arguments, options, &error);
    if (!request)
        return usageError(error);
    InterruptWatcher interrupts;
    EngineSession session(target, &interrupts);
    return Update(session, *request).run();
}
