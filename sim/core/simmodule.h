#pragma once
// One module of the simulated unit: it answers the packets sent to its bus address the way
// the module firmware does. The identity and the common commands are answered here; each
// kind of module answers its own command codes.
#include "drivers/cudid.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <cstring>
#include <optional>

class SimEnvironment;

class SimModule : public QObject
{
    Q_OBJECT
public:
    struct Identity
    {
        QString type; // e.g. "VX9SDM0"
        QString modification;
        QString hardware;
        QString firmware;
        QString description;
        cUDID udid;
    };

    // One packet back to the client, from this module's address.
    struct Answer
    {
        quint8 command;
        QByteArray data;
    };

    SimModule(quint8 address, const Identity& identity, SimEnvironment* environment,
              QObject* parent = nullptr);

    quint8 address() const { return m_address; }
    void setAddress(quint8 address) { m_address = address; }
    const Identity& identity() const { return m_identity; }
    void setFirmwareVersion(const QString& version) { m_identity.firmware = version; }

    // The answers to one packet for this module, in order; none is silence, as for an
    // unknown code on a real bus.
    QList<Answer> handlePacket(quint8 command, const QByteArray& data);

    // A unit reset: everything but the EEPROM back to its power-on state.
    virtual void reset() = 0;
    // Physical parameters of the model from a rack description ("physics" object); unknown
    // keys are an error, missing ones keep their defaults.
    virtual bool configure(const QJsonObject& physics, QString* error) = 0;
    // The EEPROM contents (constants, tables) as JSON, for the state file and rack files.
    virtual QJsonObject eeprom() const = 0;
    virtual bool setEeprom(const QJsonObject& eeprom, QString* error) = 0;

signals:
    // The module was told to store its EEPROM (common command 12).
    void eepromStored();

protected:
    // Answers to this kind's own codes; nullopt for a code the module does not know.
    virtual std::optional<QList<Answer>> handleOwn(quint8 command, const QByteArray& data) = 0;

    SimEnvironment* environment() const { return m_environment; }

    // The bytes of a wire structure or value, as the module sends them.
    template <typename T> static QByteArray bytesOf(const T& value)
    {
        return QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
    }
    // A wire structure from request data; false (value untouched) unless the length is exact.
    template <typename T> static bool fromBytes(const QByteArray& data, T* value)
    {
        if (data.size() != qsizetype(sizeof(T)))
            return false;
        std::memcpy(static_cast<void*>(value), data.constData(), sizeof(T));
        return true;
    }
    static QList<Answer> acknowledge(quint8 command) { return {{command, {}}}; }
    static QList<Answer> answer(quint8 command, const QByteArray& data)
    {
        return {{command, data}};
    }

private:
    quint8 m_address;
    Identity m_identity;
    SimEnvironment* m_environment;
};
