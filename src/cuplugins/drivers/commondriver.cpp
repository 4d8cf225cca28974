#include "commondriver.h"

namespace {
constexpr quint8 None = DriverProperty_p::NoCode;
}

CommonDriver::CommonDriver(QObject* parent)
    : AbstractDriver(parent),
      m_typeString(new DriverPropertyReadOnly<QString>(this, CodeTypeString, None)),
      m_modification(new DriverPropertyReadOnly<QString>(this, CodeModification, None)),
      m_hardwareVersion(new DriverPropertyReadOnly<QString>(this, CodeHardwareVersion, None)),
      m_firmwareVersion(new DriverPropertyReadOnly<QString>(this, CodeFirmwareVersion, None)),
      m_description(new DriverPropertyReadOnly<QString>(this, CodeDescription, None)),
      m_udid(new DriverPropertyReadOnly<cUDID>(this, CodeUdid, None)),
      m_command0(new DriverCommand(this, None, CodeCommand0)),
      m_command1(new DriverCommand(this, None, CodeCommand1)),
      m_command2(new DriverCommand(this, None, CodeCommand2)),
      m_bootloaderCommand(new DriverCommand(this, None, CodeBootloader)),
      m_eepromWrite(new DriverCommand(this, None, CodeEepromWrite))
{
    m_eepromWrite->writeCallbacks()->add([this] { emit eepromWrited(); });
}

CommonDriver::~CommonDriver()
{
    delete m_typeString;
    delete m_modification;
    delete m_hardwareVersion;
    delete m_firmwareVersion;
    delete m_description;
    delete m_udid;
    delete m_command0;
    delete m_command1;
    delete m_command2;
    delete m_bootloaderCommand;
    delete m_eepromWrite;
}

bool CommonDriver::readIdentity()
{
    bool ok = false;
    for (auto* text :
         {m_typeString, m_modification, m_hardwareVersion, m_firmwareVersion, m_description}) {
        text->read(&ok, 1);
        if (!ok)
            return false;
    }
    m_udid->read(&ok, 1);
    return ok;
}
