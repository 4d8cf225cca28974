#include "enginesession.h"

#include "clioutput.h"
#include "engine/settings.h"
#include "engine/workerprocess.h"
#include "interruptwatcher.h"
#include "link/eventwait.h"
#include "models/dataproviderlist.h"
#include "unitprobe.h"

#include <QJsonArray>
#include <climits>

EngineSession::EngineSession(const Target& target, InterruptWatcher* interrupts, QObject* parent)
    : QObject(parent), m_target(target), m_interrupts(interrupts), m_worker(WorkerAsync::instance())
{
    // Set before any connect command is queued; the queue's mutex hands it to the worker.
    m_worker->process()->setUnitPort(target.port);
    m_worker->process()->setAnswerTimeoutMs(target.answerTimeoutMs);

    connect(m_worker, &WorkerAsync::sendErrorMessage, this,
            [this](const QString& title, const QString& error) {
                ++m_errors;
                printError(QStringLiteral("%1: %2").arg(title, error));
            });
    connect(m_worker, &WorkerAsync::sendMessage, this,
            [](const QString& title, const QString& message) {
                printError(QStringLiteral("%1: %2").arg(title, message));
            });
    connect(m_worker, &WorkerAsync::commandExecuted, this,
            [this](int command, const QVariant& parameter, bool ok) {
                m_outcomes.append({command, parameter, ok});
            });
    connect(m_worker->process(), &WorkerProcess::deviceListUpdated, this,
            [this](const QJsonObject& list) {
                m_moduleList = list;
                m_listReceived = true;
            });
}

EngineSession::~EngineSession()
{
    // The series belong to the commands that made them; the worker must not keep them.
    m_worker->settings()->setSeries({});
    delete m_worker;
}

QString EngineSession::unitDescription() const
{
    return QStringLiteral("%1 port %2").arg(m_target.unitText).arg(m_target.port);
}

bool EngineSession::connectToUnit()
{
    m_listReceived = false;
    if (!run(WorkerAsync::CommandConnect, m_target.unitText)) {
        printError(interrupted()
                       ? QStringLiteral("interrupted")
                       : unitProblem(m_target.unitText, m_target.port, m_target.answerTimeoutMs));
        return false;
    }
    // The list comes before the connect command's end; an answer that is no module list
    // arrives as an empty object.
    if (!m_listReceived || m_moduleList.isEmpty()) {
        printError(
            QStringLiteral("the unit at %1 sent no readable module list").arg(unitDescription()));
        return false;
    }
    return true;
}

QJsonObject EngineSession::moduleInfo(int address) const
{
    const QJsonArray info = m_moduleList.value(QLatin1String("info")).toArray();
    const int count = m_moduleList.value(QLatin1String("count")).toInt(-1);
    for (int i = 0; i < count && i < info.size(); ++i) {
        const QJsonObject entry = info.at(i).toObject();
        if (entry.value(QLatin1String("address")).toInt(-1) == address)
            return entry;
    }
    return {};
}

int EngineSession::moduleType(int address) const
{
    const QList<DataProviderItem> items = m_worker->dataList()->items();
    for (const DataProviderItem& item : items) {
        if (item.value(QStringLiteral("address")).toInt() == address)
            return item.value(QStringLiteral("type")).toInt();
    }
    return -1;
}

bool EngineSession::connectToSspdChannel(int channel)
{
    if (!connectToUnit())
        return false;
    const int type = moduleType(channel);
    if (type == DataProviderList::DeviceTypeSspdM0 || type == DataProviderList::DeviceTypeSspdM1)
        return true;
    failure(type < 0 ? QStringLiteral("the unit has no module at address %1").arg(channel)
                     : QStringLiteral("module %1 is no SSPD channel").arg(channel));
    return false;
}

QList<int> EngineSession::addressesOfTypes(const QList<int>& types) const
{
    QList<int> addresses;
    const QList<DataProviderItem> items = m_worker->dataList()->items();
    for (const DataProviderItem& item : items) {
        const int address = item.value(QStringLiteral("address")).toInt();
        if (types.contains(item.value(QStringLiteral("type")).toInt()) &&
            !addresses.contains(address))
            addresses.append(address);
    }
    return addresses;
}

bool EngineSession::runQueued(int command, const std::function<void()>& queue)
{
    const int from = outcomeCount();
    queue();
    int found = -1;
    waitUntil([&] {
        for (int i = from; i < m_outcomes.size(); ++i) {
            if (m_outcomes.at(i).command == command) {
                found = i;
                return true;
            }
        }
        return false;
    });
    return found >= 0 && m_outcomes.at(found).ok;
}

bool EngineSession::run(WorkerAsync::WorkerCommands command, const QVariant& parameter)
{
    return runQueued(command, [&] { m_worker->sendCommand(command, parameter); });
}

bool EngineSession::activate(WorkerAsync::WorkerMode mode)
{
    return runQueued(WorkerAsync::CommandSetMode, [&] { m_worker->activateMode(mode); });
}

bool EngineSession::waitUntil(const std::function<bool()>& done)
{
    // The worker bounds every device operation; the user ends anything longer.
    cuWaitForEvents([&] { return done() || interrupted(); }, INT_MAX);
    return done();
}

bool EngineSession::interrupted() const
{
    return m_interrupts && m_interrupts->wasInterrupted();
}
