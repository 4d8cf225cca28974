// The commands the screen queues for the worker: state changes, single parameter writes,
// the unit's own text commands and the EEPROM transfers.
#include "workerprocess.h"

#include "drivers/abstractdriver.h"
#include "engine/workerasync.h"
#include "enginelog.h"
#include "link/cutcpsocketiointerface.h"
#include "models/driverhelper.h"
#include "models/eepromdatastorage.h"

#include <QMetaEnum>
#include <QMutexLocker>
#include <QStringList>
#include <optional>

namespace {

constexpr int QueryTimeoutMs = 500;

// The names a single parameter write may carry; anything else is dropped.
const QStringList FreeStyleNames = {
    "current",
    "time_const",
    "cmp_ref_level",
    "status_shorted",
    "operate",
    "temperature_sensor_current",
    "status_amplifier_on",
    "status_comparator_on",
    "status_counter_on",
    "status_rfkey_to_cmp",
    "status_hfmode_on",
    "status_autoreset_on",
    "auto_reset_threshold",
    "auto_reset_time_out",
};

// Module addresses as the screen hands them over: a list of ints, or a list from QML whose
// every element is a number. Texts are no lists of addresses, whatever QVariant makes of them.
std::optional<QList<int>> channelList(const QVariant& parameter)
{
    if (parameter.metaType() == QMetaType::fromType<QList<int>>())
        return parameter.value<QList<int>>();
    if (parameter.typeId() == QMetaType::QString || parameter.typeId() == QMetaType::QByteArray ||
        !parameter.canConvert<QVariantList>())
        return std::nullopt;
    QList<int> channels;
    const QVariantList list = parameter.toList();
    for (const QVariant& element : list) {
        bool ok = false;
        channels.append(element.toInt(&ok));
        if (!ok)
            return std::nullopt;
    }
    return channels;
}

} // namespace

bool WorkerProcess::executeCommand()
{
    const QMetaEnum names = QMetaEnum::fromType<WorkerAsync::WorkerCommands>();
    for (;;) {
        CommandEntry entry;
        {
            QMutexLocker locker(&m_commandMutex);
            if (m_commands.isEmpty())
                return true;
            entry = m_commands.takeFirst();
        }
        qCDebug(lcEngine) << "execute command:" << names.valueToKey(entry.command)
                          << "params:" << entry.parameter;
        if (!performCommand(entry))
            return true;
    }
}

// False ends the draining for this pass; the queue keeps the rest for the next one.
bool WorkerProcess::performCommand(const CommandEntry& entry)
{
    const QVariant& parameter = entry.parameter;
    switch (entry.command) {
    case WorkerAsync::CommandConnect:
        if (parameter.canConvert<QString>())
            connectToUnit(parameter.toString());
        break;
    case WorkerAsync::CommandSetMode:
        setMode(parameter.toInt());
        break;
    case WorkerAsync::CommandSetActiveChannels:
        if (std::optional<QList<int>> channels = channelList(parameter))
            m_activeChannels = *channels;
        break;
    case WorkerAsync::CommandSetTimeOut: {
        bool ok = false;
        const int ms = parameter.toInt(&ok);
        if (ok)
            m_timeConstant = ms;
        break;
    }
    case WorkerAsync::CommandFreeStyle: {
        const QVariantList list = parameter.toList();
        if (list.size() < 3)
            return false;
        AbstractDriver* driver = driverByAddress(list.at(0).toInt());
        const QString name = list.at(1).toString();
        if (driver && FreeStyleNames.contains(name)) {
            DriverHelper helper(driver);
            helper.writeParameter(name, list.at(2), 1);
        }
        break;
    }
    case WorkerAsync::CommandSweepParams:
        if (parameter.canConvert<QVariantMap>())
            m_sweepParameters = parameter.toMap();
        break;
    case WorkerAsync::CommandResetUnits:
        sendSystemCommand(QStringLiteral("SYST:URES"));
        break;
    case WorkerAsync::CommandSystemReset:
        sendSystemCommand(QStringLiteral("SYST:SRES"));
        break;
    case WorkerAsync::CommandPowerOff:
        sendSystemCommand(QStringLiteral("SYST:POFF"));
        break;
    case WorkerAsync::CommandAddUnit:
        changeModuleList(parameter.toInt(), true);
        break;
    case WorkerAsync::CommandRemoveUnit:
        changeModuleList(parameter.toInt(), false);
        break;
    case WorkerAsync::CommandUpdateUnit:
        // The lock stays: the unit releases it when the screen sends CommandLock 0 after the
        // update.
        if (sendSystemCommand(QStringLiteral("SYST:LOCK 1")))
            sendSystemCommand(QStringLiteral("SYST:UPDT %1\r\n").arg(parameter.toInt()));
        break;
    case WorkerAsync::CommandLock:
        sendSystemCommand(QStringLiteral("SYST:LOCK %1").arg(parameter.toInt() != 0 ? 1 : 0));
        break;
    case WorkerAsync::CommandUpdateEepromConst: {
        const int address = parameter.toInt();
        if (AbstractDriver* driver = driverByAddress(address)) {
            DriverHelper helper(driver);
            emit eepromDataReady(address, helper.readEepromConst());
        }
        break;
    }
    case WorkerAsync::CommandSetEepromConst: {
        auto* storage = qobject_cast<EepromDataStorage*>(parameter.value<QObject*>());
        if (!storage)
            break;
        if (AbstractDriver* driver = driverByAddress(storage->address())) {
            DriverHelper helper(driver);
            helper.writeEepromConst(storage, 1);
            emit eepromUpdated();
        }
        break;
    }
    case WorkerAsync::CommandWriteEEPROM:
        if (AbstractDriver* driver = driverByAddress(parameter.toInt())) {
            // Only the modules that keep constants store them; the helper leaves the rest.
            DriverHelper helper(driver);
            helper.storeEeprom();
            emit eepromUpdated();
        }
        break;
    default:
        qCDebug(lcEngine) << "unknown command" << entry.command << "ignored";
        break;
    }
    return true;
}

void WorkerProcess::changeModuleList(int address, bool add)
{
    const QString change =
        add ? QStringLiteral("SYST:DEVL:ADD %1") : QStringLiteral("SYST:DEVL:REMV %1");
    if (!sendSystemCommand(change.arg(address)))
        return;
    if (!sendSystemCommand(QStringLiteral("SYST:DEVL:SAVE")))
        return;
    if (!updateDeviceList(m_transport)) {
        emit sendErrorMessage(QStringLiteral("Error"),
                              QStringLiteral("Error at 'get device list' command"));
        return;
    }
    if (add)
        emit sendMessage(QStringLiteral("Success"),
                         QStringLiteral("Unit %1 sicessfully added").arg(address));
    else
        emit sendMessage(QStringLiteral("Success"),
                         QStringLiteral("Unit %1 successfully removed").arg(address));
}

bool WorkerProcess::sendSystemCommand(const QString& command)
{
    if (!m_transport)
        return false;
    bool ok = false;
    const QString answer =
        m_transport->query(command + QStringLiteral("\r\n"), QueryTimeoutMs, &ok);
    if (ok && answer.contains(QLatin1String("ok"), Qt::CaseInsensitive))
        return true;
    // The update command carries a line end of its own; the message shows the bare text.
    emit sendErrorMessage(QStringLiteral("Error"),
                          QStringLiteral("Error at '%1' command").arg(command.trimmed()));
    return false;
}
