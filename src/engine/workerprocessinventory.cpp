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

#include <QJsonArray>
#include <QJsonDocument>

namespace {

constexpr int QueryTimeoutMs = 500;
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

// The text after the first "=" of a legacy field; null when the field has none.
QString valueOf(const QString& field)
{
    const qsizetype equals = field.indexOf(u'=');
    return equals < 0 ? QString() : field.mid(equals + 1);
}

} // namespace

void WorkerProcess::connectToUnit(const QString& address)
{
    // Drivers of the old link must never be used again, whatever the new one gives.
    destroyDrivers();
    destroyTransport();

    auto* transport = new cuTcpSocketIOInterface(this);
    transport->setHostAddress(cuHostAddressFromText(address));
    transport->setPort(m_unitPort);
    if (!updateDeviceList(transport)) {
        qCDebug(lcEngine) << "no inventory from" << address;
        delete transport;
        return;
    }
    m_transport = transport;
    emit connected();
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
    if (type.contains(QLatin1String("VX9SDM0")))
        return new SspdDriverM0(this);
    if (type.contains(QLatin1String("VX9SDM1")))
        return new SspdDriverM1(this);
    if (type.contains(QLatin1String("VX9TDM0")))
        return new TempDriverM0(this);
    if (type.contains(QLatin1String("VX9TDM1")))
        return new TempDriverM1(this);
    return nullptr;
}

bool WorkerProcess::updateDeviceList(cuTcpSocketIOInterface* transport)
{
    if (!transport)
        return false;
    bool ok = false;
    QString answer = transport->query(QStringLiteral("SYST:DEVJ?\r\n"), QueryTimeoutMs, &ok);
    if (answer.isEmpty())
        return false;
    const bool legacy = answer.contains(QLatin1String("UNKNOWN COMMAND"));
    if (legacy) {
        answer = transport->query(QStringLiteral("SYST:DEVL?\r\n"), QueryTimeoutMs, &ok);
        if (answer.isEmpty())
            return false;
    }

    destroyDrivers();
    qCDebug(lcEngine) << "anwer" << answer;
    const QJsonObject list =
        legacy ? legacyModuleList(answer, transport) : jsonModuleList(answer, transport);
    emit deviceListUpdated(list);
    return true;
}

QJsonObject WorkerProcess::legacyModuleList(const QString& answer,
                                            cuTcpSocketIOInterface* transport)
{
    QJsonArray info;
    const QStringList lines = answer.split(QStringLiteral("<br>"));
    for (const QString& line : lines) {
        const QStringList fields = line.split(u':');
        if (fields.size() != 3)
            continue;
        const QString addressText = valueOf(fields.at(1));
        const QString typeText = valueOf(fields.at(2));
        if (addressText.isNull() || typeText.isNull())
            continue;
        // The last line still carries the answer's line end.
        const QString type = typeText.trimmed();
        const quint8 address = quint8(addressText.toInt() & 0xFF);
        auto* driver = qobject_cast<CommonDriver*>(createDriver(type));
        if (!driver)
            continue;
        driver->setAddress(address);
        driver->setInterface(transport);
        bool ok = false;
        driver->typeString()->read(&ok, TypeStringTries);
        m_drivers.append(driver);
        driver->readIdentity();

        info.append(QJsonObject{
            {QStringLiteral("address"), int(address)},
            {QStringLiteral("type"), type},
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
    const QJsonObject list = QJsonDocument::fromJson(answer.toLocal8Bit()).object();
    const int count = list.value(QLatin1String("count")).toInt(-1);
    const QJsonArray info = list.value(QLatin1String("info")).toArray();
    // "count" may promise more entries than the array holds.
    for (int i = 0; i < count && i < info.size(); ++i) {
        const QJsonObject entry = info.at(i).toObject();
        const QString type = entry.value(QLatin1String("type")).toString();
        const quint8 address = quint8(entry.value(QLatin1String("address")).toInt(-1) & 0xFF);
        AbstractDriver* driver = createDriver(type);
        if (!driver)
            continue;
        driver->setAddress(address);
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
