// The unit's text command vocabulary. Every answer is one line; errors begin with "ERROR"
// and never contain the letters "ok" together, which clients take for success.
#include "simunit.h"

#include "net/simfirmwareupdate.h"
#include "siminventory.h"
#include "simlog.h"
#include "simmodule.h"

#include <QTimer>

namespace {

const QByteArray Ok = "ok";
const QByteArray Unknown = "UNKNOWN COMMAND";

// A bus address argument in decimal, 0 to 254 (255 addresses every module at once).
bool parseAddress(const QString& text, quint8* address)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (!ok || value < 0 || value > 254)
        return false;
    *address = quint8(value);
    return true;
}

} // namespace

QByteArray SimUnit::textCommand(const QByteArray& line, const QHostAddress& client)
{
    const QString text = QString::fromLatin1(line).trimmed();
    const qsizetype space = text.indexOf(QLatin1Char(' '));
    const QString keyword = (space < 0 ? text : text.left(space)).toUpper();
    const QString argument = space < 0 ? QString() : text.mid(space + 1).trimmed();
    const bool bare = argument.isEmpty();

    if (keyword == "SYST:DEVJ?" && bare)
        return m_oldUnit ? Unknown : SimInventory::json(modules(), m_softwareVersion);
    if (keyword == "SYST:DEVL?" && bare)
        return SimInventory::legacy(modules());
    if (keyword == "SYST:URES" && bare) {
        resetModules();
        return Ok;
    }
    if (keyword == "SYST:SRES" && bare) {
        // The unit restarts at once: modules back to power-on state, lock released.
        resetModules();
        m_locked = false;
        return Ok;
    }
    if (keyword == "SYST:POFF" && bare) {
        m_poweredOff = true;
        // After the answer has left: a latency fault sends it from a timer of the same
        // interval started after this one, so the power-off waits one more pass.
        QTimer::singleShot(m_faults.latencyMs, this,
                           [this] { QTimer::singleShot(0, this, &SimUnit::powerOff); });
        return Ok;
    }
    if (keyword == "SYST:DEVL:ADD")
        return addCommand(argument);
    if (keyword == "SYST:DEVL:REMV")
        return removeCommand(argument);
    if (keyword == "SYST:DEVL:SAVE" && bare) {
        emit moduleListSaved();
        return Ok;
    }
    if (keyword == "SYST:LOCK")
        return lockCommand(argument);
    if (keyword == "SYST:UPDT")
        return updateCommand(argument, client);
    return Unknown;
}

QByteArray SimUnit::addCommand(const QString& argument)
{
    quint8 address = 0;
    if (!parseAddress(argument, &address))
        return "ERROR: bad address";
    if (m_modules.contains(address)) {
        // A module restarts with new firmware and is listed again once added anew.
        if (m_reflashed.remove(address))
            return Ok;
        return "ERROR: address in use";
    }
    SimModule* module = m_moduleMaker ? m_moduleMaker(address) : nullptr;
    if (!module)
        return "ERROR: no module for this address";
    module->setAddress(address);
    addModule(module);
    qCInfo(lcSim).noquote()
        << QStringLiteral("module %1 (%2) added").arg(address).arg(module->identity().type);
    return Ok;
}

QByteArray SimUnit::removeCommand(const QString& argument)
{
    quint8 address = 0;
    if (!parseAddress(argument, &address))
        return "ERROR: bad address";
    if (updateRunningFor(address))
        return "ERROR: firmware update running";
    if (!removeModule(address))
        return "ERROR: no module at this address";
    m_reflashed.remove(address);
    qCInfo(lcSim).noquote() << QStringLiteral("module %1 removed").arg(address);
    return Ok;
}

QByteArray SimUnit::lockCommand(const QString& argument)
{
    if (argument == "1")
        m_locked = true;
    else if (argument == "0")
        m_locked = false;
    else
        return "ERROR: expected 1 or 0";
    return Ok;
}

QByteArray SimUnit::updateCommand(const QString& argument, const QHostAddress& client)
{
    quint8 address = 0;
    if (!parseAddress(argument, &address))
        return "ERROR: bad address";
    if (!m_locked)
        return "ERROR: unit not locked";
    SimModule* module = m_modules.value(address);
    if (!module)
        return "ERROR: no module at this address";
    if (m_update)
        return "ERROR: firmware update running";
    if (client.isNull())
        return "ERROR: no client to fetch the image from";
    startFirmwareUpdate(client, module);
    return Ok;
}

// The update object exists from the "ok" on, so that a second request finds it busy; it
// calls the client's file server once the answer has left.
void SimUnit::startFirmwareUpdate(const QHostAddress& client, SimModule* module)
{
    auto* update = new SimFirmwareUpdate(this);
    update->setPort(m_firmwareUpdatePort);
    m_update = update;
    m_updateAddress = module->address();
    const quint8 address = module->address();
    connect(update, &SimFirmwareUpdate::finished, this, [this, update, address](bool ok) {
        qCInfo(lcSim).noquote() << QStringLiteral("firmware update of module %1 %2")
                                       .arg(address)
                                       .arg(ok ? "completed" : "failed");
        update->deleteLater();
        if (ok) {
            m_reflashed.insert(address);
            emit moduleStateStored(address);
        }
    });
    QTimer::singleShot(m_faults.latencyMs, update, [update, client, module = QPointer(module)] {
        if (!module || !update->start(client, module)) {
            qCWarning(lcSim) << "firmware update could not start";
            update->deleteLater();
        }
    });
}

bool SimUnit::updateRunningFor(quint8 address) const
{
    return m_update && m_updateAddress == address;
}
