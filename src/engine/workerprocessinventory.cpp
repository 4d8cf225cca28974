// Connecting to a unit and taking its inventory: the module list it reports, one driver per
// module the engine knows, and the list object handed to the screen.
#include "workerprocess.h"

#include "drivers/sspddriverm0.h"
#include "drivers/sspddriverm1.h"
#include "drivers/tempdriverm0.h"
#include "drivers/tempdriverm1.h"
#include "enginelog.h"
#include "link/cutcpsocketiointerface.h"
#include "link/hostaddresstext.h"
#include "modulelistparser.h"

#include <QJsonArray>

namespace {

// A legacy unit lists addresses and types only; the type is read back until the module
// answers once.
constexpr int TypeStringTries = 100;

// Modules pad their texts with zero bytes up to the field width.
QString withoutPadding(QString text)
{
    while (text.endsWith(QChar(0)))
        text.chop(1);
    return text;
}

} // namespace

void WorkerProcess::connectToUnit(const QString& address)
{
    // Drivers of the old link must never be used again, whatever the new one gives.
    destroyDrivers();
    destroyTransport();
    m_connectionLost = false;

    auto* transport = new cuTcpSocketIOInterface(this);
    transport->setHostAddress(cuHostAddressFromText(address));
    transport->setPort(m_unitPort);
    if (!updateDeviceList(transport)) {
        qCDebug(lcEngine) << "no inventory from" << address;
        delete transport;
        return;
    }
    m_transport = transport;
    // The loss may be seen in the middle of a driver's wait: it is handled by the main loop,
    // where no driver is in use.
    connect(transport, &cuTcpSocketIOInterface::connectionLost, this,
            [this, transport] { m_connectionLost = transport == m_transport; });
    emit connected();
}

// The unit went away: a running measurement ends as one whose unit stopped answering, the
// worker idles and forgets the unit's modules, and the screen hears that the link is gone.
void WorkerProcess::endLostConnection()
{
    m_connectionLost = false;
    if (!m_transport)
        return;
    const QString address = m_transport->hostAddress().toString();
    qCDebug(lcEngine) << "connection to" << address << "lost";
    switch (m_mode) {
    case WorkerAsync::WorkerModeCpsVersCurrent:
    case WorkerAsync::WorkerModeCpsVersTrigger:
    case WorkerAsync::WorkerModeIVCurves:
    case WorkerAsync::WorkerModeHistogram:
        endLostMeasurement();
        break;
    default:
        break;
    }
    m_mode = WorkerAsync::WorkerModeNoAction;
    destroyDrivers();
    destroyTransport();
    emit connectionLost(address);
}

void WorkerProcess::destroyTransport()
{
    delete m_transport;
    m_transport = nullptr;
}

void WorkerProcess::destroyDrivers()
{
    const QList<AbstractDriver*> drivers = m_drivers;
    m_drivers.clear();
    qDeleteAll(drivers);
}

AbstractDriver* WorkerProcess::createDriver(const QString& type)
{
    AbstractDriver* driver = nullptr;
    if (type.contains(QLatin1String("VX9SDM0")))
        driver = new SspdDriverM0(this);
    else if (type.contains(QLatin1String("VX9SDM1")))
        driver = new SspdDriverM1(this);
    else if (type.contains(QLatin1String("VX9TDM0")))
        driver = new TempDriverM0(this);
    else if (type.contains(QLatin1String("VX9TDM1")))
        driver = new TempDriverM1(this);
    if (driver) {
        driver->setAnswerTimeout(m_answerTimeoutMs);
        // A silent module may be asked many times over; the user's quit or new connection
        // must not wait for all of them.
        driver->setGiveUp([this] { return stopRequested(); });
    }
    return driver;
}

bool WorkerProcess::updateDeviceList(cuTcpSocketIOInterface* transport)
{
    if (!transport)
        return false;
    bool ok = false;
    QString answer = transport->query(QStringLiteral("SYST:DEVJ?\r\n"), m_answerTimeoutMs, &ok);
    if (answer.isEmpty())
        return false;
    const bool legacy = answer.contains(QLatin1String("UNKNOWN COMMAND"));
    if (legacy) {
        answer = transport->query(QStringLiteral("SYST:DEVL?\r\n"), m_answerTimeoutMs, &ok);
        if (answer.isEmpty())
            return false;
    }

    destroyDrivers();
    qCDebug(lcEngine) << "anwer" << answer;
    // Only the legacy form asks the modules themselves, each up to a hundred times.
    m_takingInventory = legacy;
    const QJsonObject list =
        legacy ? legacyModuleList(answer, transport) : jsonModuleList(answer, transport);
    const bool givenUp = legacy && stopRequested();
    m_takingInventory = false;
    if (givenUp) {
        // Half an inventory is none: the modules not yet asked are missing from it.
        qCDebug(lcEngine) << "inventory given up";
        destroyDrivers();
        return false;
    }
    emit deviceListUpdated(list);
    return true;
}

QJsonObject WorkerProcess::legacyModuleList(const QString& answer,
                                            cuTcpSocketIOInterface* transport)
{
    QJsonArray info;
    const QList<ModuleListEntry> entries = legacyModuleEntries(answer);
    for (const ModuleListEntry& entry : entries) {
        if (stopRequested())
            break;
        auto* driver = qobject_cast<CommonDriver*>(createDriver(entry.type));
        if (!driver)
            continue;
        driver->setAddress(entry.address);
        driver->setInterface(transport);
        bool ok = false;
        driver->typeString()->read(&ok, TypeStringTries);
        m_drivers.append(driver);
        driver->readIdentity();

        info.append(QJsonObject{
            {QStringLiteral("address"), int(entry.address)},
            {QStringLiteral("type"), entry.type},
            {QStringLiteral("Description"), withoutPadding(driver->description()->cached())},
            {QStringLiteral("Firmware"), withoutPadding(driver->firmwareVersion()->cached())},
            {QStringLiteral("Hardware"), withoutPadding(driver->hardwareVersion()->cached())},
            {QStringLiteral("Modification"), withoutPadding(driver->modification()->cached())},
            {QStringLiteral("UDID"), driver->udid()->cached().toString()},
        });
    }
    return QJsonObject{
        {QStringLiteral("count"), int(info.size())},
        {QStringLiteral("info"), info},
        {QStringLiteral("software_version"), QStringLiteral("<1.3.0")},
    };
}

QJsonObject WorkerProcess::jsonModuleList(const QString& answer, cuTcpSocketIOInterface* transport)
{
    const QJsonObject list = moduleListObject(answer);
    const QList<ModuleListEntry> entries = jsonModuleEntries(list);
    for (const ModuleListEntry& entry : entries) {
        AbstractDriver* driver = createDriver(entry.type);
        if (!driver)
            continue;
        driver->setAddress(entry.address);
        driver->setInterface(transport);
        m_drivers.append(driver);
    }
    // The unit's object already carries every identity; it goes on unchanged.
    return list;
}

AbstractDriver* WorkerProcess::driverByAddress(int address) const
{
    for (AbstractDriver* driver : m_drivers) {
        if (int(driver->address()) == address)
            return driver;
    }
    return nullptr;
}
