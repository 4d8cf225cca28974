#pragma once
// What every module answers whatever its kind: identity queries and the common commands,
// among them the one that stores its EEPROM constants. Module drivers derive from it.
#include "abstractdriver.h"
#include "cudid.h"

#include <QString>

class CommonDriver : public AbstractDriver
{
    Q_OBJECT
public:
    enum Code : quint8 {
        CodeCommand0 = 0,
        CodeCommand1 = 1,
        CodeCommand2 = 2,
        CodeUdid = 5,
        CodeTypeString = 6,
        CodeModification = 7,
        CodeHardwareVersion = 8,
        CodeFirmwareVersion = 9,
        CodeDescription = 10,
        CodeBootloader = 11,
        CodeEepromWrite = 12,
    };

    explicit CommonDriver(QObject* parent = nullptr);

    DriverPropertyReadOnly<QString>* typeString() { return &m_typeString; }
    DriverPropertyReadOnly<QString>* modification() { return &m_modification; }
    DriverPropertyReadOnly<QString>* hardwareVersion() { return &m_hardwareVersion; }
    DriverPropertyReadOnly<QString>* firmwareVersion() { return &m_firmwareVersion; }
    DriverPropertyReadOnly<QString>* description() { return &m_description; }
    DriverPropertyReadOnly<cUDID>* udid() { return &m_udid; }
    DriverCommand* command0() { return &m_command0; }
    DriverCommand* command1() { return &m_command1; }
    DriverCommand* command2() { return &m_command2; }
    DriverCommand* bootloaderCommand() { return &m_bootloaderCommand; }
    DriverCommand* eepromWrite() { return &m_eepromWrite; }

    // Reads type, modification, hardware, firmware, description and identifier, one try
    // each, stopping at the first that is not answered.
    bool readIdentity();

signals:
    // The module acknowledged storing its EEPROM constants.
    void eepromWrited();

private:
    DriverPropertyReadOnly<QString> m_typeString;
    DriverPropertyReadOnly<QString> m_modification;
    DriverPropertyReadOnly<QString> m_hardwareVersion;
    DriverPropertyReadOnly<QString> m_firmwareVersion;
    DriverPropertyReadOnly<QString> m_description;
    DriverPropertyReadOnly<cUDID> m_udid;
    DriverCommand m_command0;
    DriverCommand m_command1;
    DriverCommand m_command2;
    DriverCommand m_bootloaderCommand;
    DriverCommand m_eepromWrite;
};
