#include "driverhelper.h"

#include "drivers/sspddriverm0.h"
#include "drivers/sspddriverm1.h"
#include "drivers/tempdriverm0.h"
#include "drivers/tempdriverm1.h"
#include "link/eventwait.h"
#include "modelslog.h"

#include <QPointer>
#include <QStringList>
#include <cmath>
#include <type_traits>

namespace {

// The short stays on this long after the read-out chain of a channel has been switched on,
// so that the detector sees its bias only once the chain is up.
constexpr int ShortRemovalDelayMs = 200;

// Status keys by bit, bit 0 first; the models differ only in bit 3.
const QStringList SspdM0Flags = {
    "status_inite",         "status_shorted",    "status_amplifier_on", "status_rfkey_to_cmp",
    "status_comparator_on", "status_counter_on", "status_autoreset_on", "status_error"};
const QStringList SspdM1Flags = {
    "status_inite",         "status_shorted",    "status_amplifier_on", "status_hfmode_on",
    "status_comparator_on", "status_counter_on", "status_autoreset_on", "status_error"};

template <typename Driver> constexpr bool isModel0 = std::is_same_v<Driver, SspdDriverM0>;

void addFlags(QVariantMap& map, quint8 status, const QStringList& keys)
{
    for (int bit = 0; bit < keys.size(); ++bit)
        map.insert(keys.at(bit), bool(status & (1u << bit)));
}

// Counts per second from the counts of the last time constant. A time constant that was
// never read (zero) or that the module reports as zero or below gives no rate at all: an
// infinite or undefined rate would land in the plots and the sweep results as a value.
template <typename Driver> void addCps(QVariantMap& map, Driver* driver, float counts)
{
    const float timeConst = driver->timeConst()->cached();
    if (!std::isfinite(timeConst) || timeConst <= 0.0f) {
        qCDebug(lcModels) << "no counts per second at address" << driver->address()
                          << "with time constant" << timeConst;
        return;
    }
    const float cps = counts / timeConst;
    if (std::isfinite(cps))
        map.insert("cps", cps);
}

template <typename P, typename T> bool writeAcknowledged(P* property, const T& value, int tries)
{
    bool ok = false;
    property->writeSync(value, &ok, tries);
    return ok;
}

// A number for a float setting of the module; refused (nothing sent) when the value is not
// a number or does not fit a float, so that no junk reaches a DAC.
template <typename P> bool writeFloat(P* property, const QVariant& value, int tries)
{
    bool ok = false;
    const double number = value.toDouble(&ok);
    const float narrowed = float(number);
    if (!ok || !std::isfinite(narrowed)) {
        qCWarning(lcModels) << "refused to write" << value << "to address"
                            << property->driver()->address() << "with code"
                            << property->writeCode();
        return false;
    }
    return writeAcknowledged(property, narrowed, tries);
}

template <typename Driver> QVariantMap sspdData(Driver* driver, int tries)
{
    bool ok = false;
    const auto data = driver->data()->read(&ok, tries);
    if (!ok)
        return {};
    QVariantMap map;
    map.insert("current", data.current);
    if constexpr (!isModel0<Driver>)
        map.insert("currentMonitor", data.currentMonitor);
    map.insert("voltage", data.voltage);
    map.insert("counts", data.counts);
    addFlags(map, data.status.toByte(), isModel0<Driver> ? SspdM0Flags : SspdM1Flags);
    map.insert("operate", data.status.isOperating());
    addCps(map, driver, data.counts);
    return map;
}

template <typename Driver> QVariantMap sspdParams(Driver* driver, int tries)
{
    bool ok = false;
    const auto params = driver->params()->read(&ok, tries);
    if (!ok)
        return {};
    QVariantMap map;
    map.insert("cmp_ref_level", params.cmpRefLevel);
    map.insert("time_const", params.timeConst);
    map.insert("auto_reset_threshold", params.autoResetThreshold);
    map.insert("auto_reset_time_out", params.autoResetTimeOut);
    map.insert("auto_reset_counts", static_cast<unsigned int>(params.autoResetCounts));
    return map;
}

// Switching a channel on or off as a whole. The line is shorted in the same write that sets
// the read-out chain; when switching on, the short goes 200 ms later. The short is only
// removed after the module took the new status: with the chain in an unknown state the
// channel stays shorted, which is the safe side for the detector.
template <typename Driver> bool operateSspd(Driver* driver, bool on, int tries)
{
    constexpr quint8 kept = isModel0<Driver> ? 0xC3 : 0xCB;
    constexpr quint8 chain = isModel0<Driver> ? 0x3C : 0x34;
    constexpr quint8 shorted = 0x02;
    using Status = std::decay_t<decltype(driver->status()->cached())>;

    const quint8 status =
        quint8((driver->status()->cached().toByte() & kept) | shorted | (on ? chain : 0));
    if (!writeAcknowledged(driver->status(), Status::fromByte(status), tries)) {
        qCWarning(lcModels) << "status" << Qt::hex << status << "not taken at address" << Qt::dec
                            << driver->address();
        return false;
    }
    if (!on)
        return true;
    const QPointer<Driver> alive(driver);
    DriverHelper::wait(ShortRemovalDelayMs);
    if (!alive)
        return false;
    return writeAcknowledged(driver->shortEnable(), false, tries);
}

template <typename Driver>
bool writeSspd(Driver* driver, const QString& name, const QVariant& value, int tries)
{
    if (name == u"current")
        return writeFloat(driver->current(), value, tries);
    if (name == u"time_const")
        return writeFloat(driver->timeConst(), value, tries);
    if (name == u"cmp_ref_level")
        return writeFloat(driver->cmpRefLevel(), value, tries);
    if (name == u"auto_reset_threshold")
        return writeFloat(driver->autoResetThreshold(), value, tries);
    if (name == u"auto_reset_time_out")
        return writeFloat(driver->autoResetTimeOut(), value, tries);
    if (name == u"status_shorted")
        return writeAcknowledged(driver->shortEnable(), value.toBool(), tries);
    if (name == u"status_amplifier_on")
        return writeAcknowledged(driver->amplifierEnable(), value.toBool(), tries);
    if (name == u"status_comparator_on")
        return writeAcknowledged(driver->comparatorEnable(), value.toBool(), tries);
    if (name == u"status_counter_on")
        return writeAcknowledged(driver->counterEnable(), value.toBool(), tries);
    if (name == u"status_autoreset_on")
        return writeAcknowledged(driver->autoResetEnable(), value.toBool(), tries);
    if (name == u"operate")
        return operateSspd(driver, value.toBool(), tries);
    if constexpr (isModel0<Driver>) {
        if (name == u"status_rfkey_to_cmp")
            return writeAcknowledged(driver->rfKeyToComparator(), value.toBool(), tries);
    } else {
        if (name == u"status_hfmode_on")
            return writeAcknowledged(driver->hfModeEnable(), value.toBool(), tries);
    }
    return false;
}

bool writeTemp(TempDriverM0* driver, const QString& name, const QVariant& value, int tries)
{
    if (name == u"temperature_sensor_current")
        return writeFloat(driver->tempSensorCurrent(), value, tries);
    if (name == u"operate") {
        // The commutator is only switched when it is not already where it should be.
        const bool on = value.toBool();
        if (driver->commutator()->cached() == on)
            return true;
        return writeAcknowledged(driver->commutator(), on, tries);
    }
    return false;
}

} // namespace

DriverHelper::DriverHelper(AbstractDriver* driver, QObject* parent)
    : QObject(parent), m_driver(driver), m_sspdM0(qobject_cast<SspdDriverM0*>(driver)),
      m_sspdM1(qobject_cast<SspdDriverM1*>(driver)), m_tempM0(qobject_cast<TempDriverM0*>(driver)),
      m_tempM1(qobject_cast<TempDriverM1*>(driver)), m_type(m_sspdM0   ? TypeSspdM0
                                                            : m_sspdM1 ? TypeSspdM1
                                                            : m_tempM0 ? TypeTempM0
                                                            : m_tempM1 ? TypeTempM1
                                                                       : TypeOther)
{
}

QVariantMap DriverHelper::readData(int tries)
{
    if (m_sspdM0)
        return sspdData(m_sspdM0, tries);
    if (m_sspdM1)
        return sspdData(m_sspdM1, tries);
    if (m_tempM0) {
        bool ok = false;
        const VX9TDM0V1_Data_t data = m_tempM0->data()->read(&ok, tries);
        if (!ok)
            return {};
        return {{"temperature", data.temperature},
                {"pressure", data.pressure},
                {"temperature_sensor_current", data.tempSensorCurrent},
                {"temperature_sensor_voltage", data.tempSensorVoltage},
                {"pressure_sensor_voltage_pos", data.pressSensorVoltageP},
                {"pressure_sensor_voltage_neg", data.pressSensorVoltageN},
                {"operate", data.commutator}};
    }
    if (m_tempM1) {
        // The module keeps no data structure: its temperatures and sensor voltages are read
        // by its own operations, and the record shows the first sensor.
        if (!m_tempM1->readTemperatures() || !m_tempM1->readSensorVoltages())
            return {};
        return {{"temperature", m_tempM1->temperature(0)},
                {"temperature_sensor_voltage", m_tempM1->sensorVoltage(0)}};
    }
    // The other modules have no value map.
    return {};
}

QVariantMap DriverHelper::readParams(int tries)
{
    if (m_sspdM0)
        return sspdParams(m_sspdM0, tries);
    if (m_sspdM1)
        return sspdParams(m_sspdM1, tries);
    return {};
}

bool DriverHelper::writeParameter(const QString& name, const QVariant& value, int tries)
{
    if (m_sspdM0)
        return writeSspd(m_sspdM0, name, value, tries);
    if (m_sspdM1)
        return writeSspd(m_sspdM1, name, value, tries);
    if (m_tempM0)
        return writeTemp(m_tempM0, name, value, tries);
    return false;
}

QVariant DriverHelper::value(const QString& name) const
{
    if (name != u"voltage")
        return {};
    if (m_sspdM0)
        return m_sspdM0->voltage()->cached();
    if (m_sspdM1)
        return m_sspdM1->voltage()->cached();
    return {};
}

void DriverHelper::wait(int ms)
{
    // Nothing ever completes this wait: the thread sleeps in its dispatcher, runs whatever
    // events arrive, and goes on at the deadline.
    cuWaitForEvents([] { return false; }, ms);
}

bool DriverHelper::storeEeprom()
{
    CommonDriver* driver = m_sspdM0   ? static_cast<CommonDriver*>(m_sspdM0)
                           : m_sspdM1 ? static_cast<CommonDriver*>(m_sspdM1)
                           : m_tempM0 ? static_cast<CommonDriver*>(m_tempM0)
                                      : nullptr;
    if (!driver)
        return false;
    bool ok = false;
    driver->eepromWrite()->executeSync(&ok, 1);
    if (!ok)
        qCWarning(lcModels) << "module at address" << driver->address()
                            << "did not confirm storing its EEPROM";
    return ok;
}

#include "moc_driverhelper.cpp"
