#include "simmodule.h"

namespace {

// Module texts travel as 24-byte UTF-8 fields padded with zeros.
QByteArray textField(const QString& text)
{
    QByteArray bytes = text.toUtf8().left(24);
    bytes.append(24 - bytes.size(), '\0');
    return bytes;
}

enum CommonCode : quint8 {
    Command0 = 0,
    Command1 = 1,
    Command2 = 2,
    Udid = 5,
    TypeString = 6,
    Modification = 7,
    HardwareVersion = 8,
    FirmwareVersion = 9,
    Description = 10,
    Bootloader = 11,
    EepromWrite = 12,
};

} // namespace

SimModule::SimModule(quint8 address, const Identity& identity, SimEnvironment* environment,
                     QObject* parent)
    : QObject(parent), m_address(address), m_identity(identity), m_environment(environment)
{
}

QList<SimModule::Answer> SimModule::handlePacket(quint8 command, const QByteArray& data)
{
    switch (command) {
    case Udid: {
        const auto& bytes = m_identity.udid.bytes();
        return answer(command,
                      QByteArray(reinterpret_cast<const char*>(bytes.data()), cUDID::Size));
    }
    case TypeString:
        return answer(command, textField(m_identity.type));
    case Modification:
        return answer(command, textField(m_identity.modification));
    case HardwareVersion:
        return answer(command, textField(m_identity.hardware));
    case FirmwareVersion:
        return answer(command, textField(m_identity.firmware));
    case Description:
        return answer(command, textField(m_identity.description));
    case Command0:
    case Command1:
    case Command2:
        return acknowledge(command);
    case Bootloader:
        // The module leaves for its serial bootloader, which the TCP unit does not carry.
        return {};
    case EepromWrite:
        emit eepromStored();
        return acknowledge(command);
    default:
        break;
    }
    return handleOwn(command, data).value_or(QList<Answer>{});
}
