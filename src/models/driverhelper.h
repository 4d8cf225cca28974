#pragma once
// Named values of one module driver: reads its structures into maps keyed by the device
// list's record keys, writes one parameter by name, and moves its EEPROM constants to and
// from the calibration storage. Lives on the worker thread beside its driver.
#include <QObject>
#include <QVariantMap>

class AbstractDriver;
class SspdDriverM0;
class SspdDriverM1;
class TempDriverM0;
class TempDriverM1;
class EepromDataStorage;

class DriverHelper : public QObject
{
    Q_OBJECT
public:
    // The DeviceType codes of the device list.
    enum Type { TypeSspdM0 = 0, TypeSspdM1 = 1, TypeTempM0 = 2, TypeTempM1 = 3, TypeOther = 4 };

    explicit DriverHelper(AbstractDriver* driver, QObject* parent = nullptr);

    AbstractDriver* driver() const { return m_driver; }
    int type() const { return m_type; }
    bool isSspd() const { return m_type == TypeSspdM0 || m_type == TypeSspdM1; }

    // One read of the module's data structure (of the model-1 temperature module: its
    // temperatures and sensor voltages, one try each); empty when it fails or the module
    // has no map.
    QVariantMap readData(int tries = 1);
    // One read of the SSPD parameter structure; empty when it fails or for other modules.
    QVariantMap readParams(int tries = 1);
    // Sets one named value; unknown names and other module types are ignored.
    bool writeParameter(const QString& name, const QVariant& value, int tries = 1);
    // Cached values that need no bus access ("voltage" of an SSPD module).
    QVariant value(const QString& name) const;
    // Lets the thread's events run for ms milliseconds without busy waiting.
    static void wait(int ms);

    // EEPROM constants as named items (and, for the temperature module, its table).
    QVariantMap readEepromConst(int tries = 1);
    bool writeEepromConst(EepromDataStorage* storage, int tries = 1);
    // Makes the module burn the constants it holds into its EEPROM.
    bool storeEeprom();

private:
    AbstractDriver* m_driver;
    SspdDriverM0* m_sspdM0;
    SspdDriverM1* m_sspdM1;
    TempDriverM0* m_tempM0;
    TempDriverM1* m_tempM1;
    int m_type;
};
