// The commands the screen queues for the worker: state changes, single parameter writes,
// the unit's own text commands and the EEPROM transfers.
#include "workerprocess.h"

#include "drivers/abstractdriver.h"
#include "engine/workerasync.h"
#include "enginelog.h"
#include "link/cutcpsocketiointerface.h"
#include "models/driverhelper.h"
#include "models/eepromdatastorage.h"
#include "parameterlimits.h"
#include "workerenums.h"

#include <QMetaEnum>
#include <QMutexLocker>
#include <climits>
#include <cmath>
#include <optional>

namespace {

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
        bool ok = false;
        const bool goOn = performCommand(entry, &ok);
        emit commandExecuted(entry.command, entry.parameter, ok);
        if (!goOn)
            return true;
    }
}

// False ends the draining for this pass; the queue keeps the rest for the next one. *ok
// tells whether the command did what it was asked to.
bool WorkerProcess::performCommand(const CommandEntry& entry, bool* ok)
{
    const QVariant& parameter = entry.parameter;
    *ok = false;
    const std::optional<WorkerAsync::WorkerCommands> command =
        enumFromNumber<WorkerAsync::WorkerCommands>(entry.command);
    if (!command) {
        qCDebug(lcEngine) << "unknown command" << entry.command << "ignored";
        return true;
    }
    switch (*command) {
    case WorkerAsync::CommandConnect:
        if (parameter.canConvert<QString>()) {
            connectToUnit(parameter.toString());
            *ok = m_transport != nullptr;
        }
        break;
    case WorkerAsync::CommandSetMode:
        // A number that names no mode leaves the worker idle.
        *ok = setMode(enumFromNumber<WorkerAsync::WorkerMode>(parameter.toInt())
                          .value_or(WorkerAsync::WorkerModeNoAction));
        break;
    case WorkerAsync::CommandSetActiveChannels:
        if (std::optional<QList<int>> channels = channelList(parameter)) {
            m_activeChannels = *channels;
            *ok = true;
        }
        break;
    case WorkerAsync::CommandSetTimeOut: {
        // Milliseconds that fit the step timer; no number, a negative one or an endless one
        // leaves the time constant as it was.
        bool number = false;
        const double ms = parameter.toDouble(&number);
        if (number && std::isfinite(ms) && ms >= 0.0 && ms <= double(INT_MAX)) {
            m_timeConstant = int(ms);
            *ok = true;
        }
        break;
    }
    case WorkerAsync::CommandFreeStyle: {
        const QVariantList list = parameter.toList();
        if (list.size() < 3)
            return false;
        const int address = list.at(0).toInt();
        AbstractDriver* driver = driverByAddress(address);
        const QString name = list.at(1).toString();
        if (!driver || !ParameterLimits::names().contains(name))
            break;
        // A value no panel could make (a bias of an ampere, a level that is no number) would
        // reach the detector as it is: it is refused, and the user hears which.
        if (const QString problem = ParameterLimits::problem(name, list.at(2));
            !problem.isEmpty()) {
            emit sendErrorMessage(
                QStringLiteral("Error"),
                QStringLiteral("Unit %1: %2; not written").arg(address).arg(problem));
            break;
        }
        DriverHelper helper(driver);
        *ok = helper.writeParameter(name, list.at(2), 1);
        break;
    }
    case WorkerAsync::CommandSweepParams:
        if (parameter.canConvert<QVariantMap>()) {
            m_sweepParameters = parameter.toMap();
            *ok = true;
        }
        break;
    case WorkerAsync::CommandResetUnits:
        *ok = sendSystemCommand(QStringLiteral("SYST:URES"));
        break;
    case WorkerAsync::CommandSystemReset:
        *ok = sendSystemCommand(QStringLiteral("SYST:SRES"));
        break;
    case WorkerAsync::CommandPowerOff:
        *ok = sendSystemCommand(QStringLiteral("SYST:POFF"));
        break;
    case WorkerAsync::CommandAddUnit:
        *ok = changeModuleList(parameter.toInt(), true);
        break;
    case WorkerAsync::CommandRemoveUnit:
        *ok = changeModuleList(parameter.toInt(), false);
        break;
    case WorkerAsync::CommandUpdateUnit:
        // The lock stays: the unit releases it when the screen sends CommandLock 0 after the
        // update.
        if (sendSystemCommand(QStringLiteral("SYST:LOCK 1")))
            *ok = sendSystemCommand(QStringLiteral("SYST:UPDT %1\r\n").arg(parameter.toInt()));
        break;
    case WorkerAsync::CommandLock:
        *ok = sendSystemCommand(QStringLiteral("SYST:LOCK %1").arg(parameter.toInt() != 0 ? 1 : 0));
        break;
    case WorkerAsync::CommandUpdateEepromConst: {
        const int address = parameter.toInt();
        if (AbstractDriver* driver = driverByAddress(address)) {
            DriverHelper helper(driver);
            emit eepromDataReady(address, helper.readEepromConst());
            *ok = true;
        }
        break;
    }
    case WorkerAsync::CommandSetEepromConst: {
        auto* storage = qobject_cast<EepromDataStorage*>(parameter.value<QObject*>());
        if (!storage)
            break;
        if (AbstractDriver* driver = driverByAddress(storage->address())) {
            DriverHelper helper(driver);
            *ok = helper.writeEepromConst(storage, 1);
            // A refused or unanswered write must not pass for a written one; the dialog
            // still hears that the transfer is over.
            if (!*ok)
                emit sendErrorMessage(QStringLiteral("Error"),
                                      QStringLiteral("EEPROM constants of unit %1 were not written")
                                          .arg(storage->address()));
            emit eepromUpdated();
        }
        break;
    }
    case WorkerAsync::CommandWriteEEPROM:
        if (AbstractDriver* driver = driverByAddress(parameter.toInt())) {
            // Only the modules that keep constants store them; the helper leaves the rest.
            DriverHelper helper(driver);
            *ok = helper.storeEeprom();
            if (!*ok)
                emit sendErrorMessage(
                    QStringLiteral("Error"),
                    QStringLiteral("Unit %1 did not store its EEPROM").arg(parameter.toInt()));
            emit eepromUpdated();
        }
        break;
    }
    return true;
}

bool WorkerProcess::changeModuleList(int address, bool add)
{
    const QString change =
        add ? QStringLiteral("SYST:DEVL:ADD %1") : QStringLiteral("SYST:DEVL:REMV %1");
    if (!sendSystemCommand(change.arg(address)))
        return false;
    if (!sendSystemCommand(QStringLiteral("SYST:DEVL:SAVE")))
        return false;
    if (!updateDeviceList(m_transport)) {
        emit sendErrorMessage(QStringLiteral("Error"),
                              QStringLiteral("Error at 'get device list' command"));
        return false;
    }
    if (add)
        emit sendMessage(QStringLiteral("Success"),
                         QStringLiteral("Unit %1 sicessfully added").arg(address));
    else
        emit sendMessage(QStringLiteral("Success"),
                         QStringLiteral("Unit %1 successfully removed").arg(address));
    return true;
}

bool WorkerProcess::sendSystemCommand(const QString& command)
{
    if (!m_transport)
        return false;
    bool ok = false;
    const QString answer = m_transport->query(command + QStringLiteral("\r\n"),
                                              cuTcpSocketIOInterface::QueryTimeoutMs, &ok);
    if (ok && answer.contains(QLatin1String("ok"), Qt::CaseInsensitive))
        return true;
    // The update command carries a line end of its own; the message shows the bare text.
    emit sendErrorMessage(QStringLiteral("Error"),
                          QStringLiteral("Error at '%1' command").arg(command.trimmed()));
    return false;
}
