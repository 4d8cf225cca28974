#include "commondriver.h"

namespace {
constexpr quint8 None = DriverProperty_p::NoCode;
}

CommonDriver::CommonDriver(QObject* parent)
    : AbstractDriver(parent), m_typeString(this, CodeTypeString, None),
      m_modification(this, CodeModification, None),
      m_hardwareVersion(this, CodeHardwareVersion, None),
      m_firmwareVersion(this, CodeFirmwareVersion, None),
      m_description(this, CodeDescription, None), m_udid(this, CodeUdid, None),
      m_command0(this, None, CodeCommand0), m_command1(this, None, CodeCommand1),
      m_command2(this, None, CodeCommand2), m_bootloaderCommand(this, None, CodeBootloader),
      m_eepromWrite(this, None, CodeEepromWrite)
{
    m_eepromWrite.writeCallbacks()->add([this] { emit eepromWrited(); });
}

bool CommonDriver::readIdentity()
{
    bool ok = false;
    for (auto* text :
         {&m_typeString, &m_modification, &m_hardwareVersion, &m_firmwareVersion, &m_description}) {
        text->read(&ok, 1);
        if (!ok)
            return false;
    }
    m_udid.read(&ok, 1);
    return ok;
}
