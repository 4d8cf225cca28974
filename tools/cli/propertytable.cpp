#include "propertytable.h"

#include "drivers/heaterdriverm0.h"
#include "drivers/sisbiassourcedriverm0.h"
#include "drivers/siscontrollinedriverm0.h"
#include "drivers/sspddriverm0.h"
#include "drivers/sspddriverm1.h"
#include "drivers/tempdriverm0.h"
#include "drivers/tempdriverm1.h"

namespace {

// Names the accessor once: the table key and the call are the same word.
#define TAVIK_PROPERTY(Driver, accessor)                                                           \
    {                                                                                              \
        QStringLiteral(#accessor),                                                                 \
            [](CommonDriver* d) { return propertyAccess(static_cast<Driver*>(d)->accessor()); }    \
    }

QVariantList tableToList(const auto& table)
{
    QVariantList list;
    for (const pair_t<float>& entry : table)
        list << QVariant::fromValue(entry);
    return list;
}

// A value that the driver gets by an operation of its own rather than through one
// property: the operation runs with the given tries, then the value is taken from the driver.
template <typename Driver>
std::function<PropertyAccess(CommonDriver*)> operation(std::function<bool(Driver*)> run,
                                                       std::function<QVariant(Driver*)> take)
{
    return [run, take](CommonDriver* d) {
        auto* driver = static_cast<Driver*>(d);
        PropertyAccess access;
        access.read = [driver, run, take](bool* ok, int tries) {
            bool done = false;
            for (int i = 0; i < tries && !done; ++i)
                done = run(driver);
            *ok = done;
            return take(driver);
        };
        return access;
    };
}

template <typename Driver>
QVariant perChannel(Driver* driver, const std::function<QVariant(Driver*, int)>& value)
{
    QVariantList list;
    for (int ch = 0; ch < Driver::ChannelCount; ++ch)
        list << value(driver, ch);
    return list;
}

template <typename Driver>
ModuleKind kind(const QString& name, const QString& typeString,
                QMap<QString, std::function<PropertyAccess(CommonDriver*)>> own)
{
    ModuleKind k{name, typeString, [] { return std::unique_ptr<CommonDriver>(new Driver); },
                 std::move(own)};
    const QMap<QString, std::function<PropertyAccess(CommonDriver*)>> common{
        TAVIK_PROPERTY(CommonDriver, typeString),
        TAVIK_PROPERTY(CommonDriver, modification),
        TAVIK_PROPERTY(CommonDriver, hardwareVersion),
        TAVIK_PROPERTY(CommonDriver, firmwareVersion),
        TAVIK_PROPERTY(CommonDriver, description),
        TAVIK_PROPERTY(CommonDriver, udid),
    };
    k.properties.insert(common);
    return k;
}

} // namespace

const QList<ModuleKind>& moduleKinds()
{
    static const QList<ModuleKind> kinds{
        kind<SspdDriverM0>(QStringLiteral("sspd0"), QStringLiteral("VX9SDM0"),
                           {
                               TAVIK_PROPERTY(SspdDriverM0, data),
                               TAVIK_PROPERTY(SspdDriverM0, current),
                               TAVIK_PROPERTY(SspdDriverM0, voltage),
                               TAVIK_PROPERTY(SspdDriverM0, counts),
                               TAVIK_PROPERTY(SspdDriverM0, status),
                               TAVIK_PROPERTY(SspdDriverM0, shortEnable),
                               TAVIK_PROPERTY(SspdDriverM0, amplifierEnable),
                               TAVIK_PROPERTY(SspdDriverM0, rfKeyToComparator),
                               TAVIK_PROPERTY(SspdDriverM0, comparatorEnable),
                               TAVIK_PROPERTY(SspdDriverM0, counterEnable),
                               TAVIK_PROPERTY(SspdDriverM0, autoResetEnable),
                               TAVIK_PROPERTY(SspdDriverM0, params),
                               TAVIK_PROPERTY(SspdDriverM0, cmpRefLevel),
                               TAVIK_PROPERTY(SspdDriverM0, timeConst),
                               TAVIK_PROPERTY(SspdDriverM0, autoResetThreshold),
                               TAVIK_PROPERTY(SspdDriverM0, autoResetTimeOut),
                               TAVIK_PROPERTY(SspdDriverM0, autoResetCounts),
                               TAVIK_PROPERTY(SspdDriverM0, eepromConst),
                               TAVIK_PROPERTY(SspdDriverM0, currentAdcCoeffs),
                               TAVIK_PROPERTY(SspdDriverM0, voltageAdcCoeffs),
                               TAVIK_PROPERTY(SspdDriverM0, currentDacCoeffs),
                               TAVIK_PROPERTY(SspdDriverM0, cmpRefDacCoeffs),
                               TAVIK_PROPERTY(SspdDriverM0, auxFlag),
                           }),
        kind<SspdDriverM1>(QStringLiteral("sspd1"), QStringLiteral("VX9SDM1"),
                           {
                               TAVIK_PROPERTY(SspdDriverM1, data),
                               TAVIK_PROPERTY(SspdDriverM1, current),
                               TAVIK_PROPERTY(SspdDriverM1, currentMonitor),
                               TAVIK_PROPERTY(SspdDriverM1, voltage),
                               TAVIK_PROPERTY(SspdDriverM1, counts),
                               TAVIK_PROPERTY(SspdDriverM1, status),
                               TAVIK_PROPERTY(SspdDriverM1, shortEnable),
                               TAVIK_PROPERTY(SspdDriverM1, amplifierEnable),
                               TAVIK_PROPERTY(SspdDriverM1, hfModeEnable),
                               TAVIK_PROPERTY(SspdDriverM1, comparatorEnable),
                               TAVIK_PROPERTY(SspdDriverM1, counterEnable),
                               TAVIK_PROPERTY(SspdDriverM1, autoResetEnable),
                               TAVIK_PROPERTY(SspdDriverM1, params),
                               TAVIK_PROPERTY(SspdDriverM1, cmpRefLevel),
                               TAVIK_PROPERTY(SspdDriverM1, timeConst),
                               TAVIK_PROPERTY(SspdDriverM1, autoResetThreshold),
                               TAVIK_PROPERTY(SspdDriverM1, autoResetTimeOut),
                               TAVIK_PROPERTY(SspdDriverM1, autoResetCounts),
                               TAVIK_PROPERTY(SspdDriverM1, eepromConst),
                               TAVIK_PROPERTY(SspdDriverM1, currentAdcCoeffs),
                               TAVIK_PROPERTY(SspdDriverM1, currentMonitorAdcCoeffs),
                               TAVIK_PROPERTY(SspdDriverM1, voltageAdcCoeffs),
                               TAVIK_PROPERTY(SspdDriverM1, currentDacCoeffs),
                               TAVIK_PROPERTY(SspdDriverM1, cmpRefDacCoeffs),
                               TAVIK_PROPERTY(SspdDriverM1, pulseWidth),
                               TAVIK_PROPERTY(SspdDriverM1, auxFlag),
                           }),
        kind<TempDriverM0>(QStringLiteral("temp0"), QStringLiteral("VX9TDM0"),
                           {
                               TAVIK_PROPERTY(TempDriverM0, data),
                               TAVIK_PROPERTY(TempDriverM0, temperature),
                               TAVIK_PROPERTY(TempDriverM0, pressure),
                               TAVIK_PROPERTY(TempDriverM0, tempSensorCurrent),
                               TAVIK_PROPERTY(TempDriverM0, tempSensorVoltage),
                               TAVIK_PROPERTY(TempDriverM0, pressSensorVoltageP),
                               TAVIK_PROPERTY(TempDriverM0, pressSensorVoltageN),
                               TAVIK_PROPERTY(TempDriverM0, commutator),
                               TAVIK_PROPERTY(TempDriverM0, eepromConst),
                               TAVIK_PROPERTY(TempDriverM0, tempSensorCurrentAdcCoeffs),
                               TAVIK_PROPERTY(TempDriverM0, tempSensorCurrentDacCoeffs),
                               TAVIK_PROPERTY(TempDriverM0, tempSensorVoltageCoeffs),
                               TAVIK_PROPERTY(TempDriverM0, pressSensorVoltagePCoeffs),
                               TAVIK_PROPERTY(TempDriverM0, pressSensorVoltageNCoeffs),
                               TAVIK_PROPERTY(TempDriverM0, pressSensorCoeffs),
                               {QStringLiteral("tempTable"),
                                operation<TempDriverM0>(&TempDriverM0::readTempTable,
                                                        [](TempDriverM0* t) {
                                                            return QVariant(
                                                                tableToList(t->tempTable()));
                                                        })},
                           }),
        kind<TempDriverM1>(
            QStringLiteral("temp1"), QStringLiteral("VX9TDM1"),
            {
                TAVIK_PROPERTY(TempDriverM1, relays),
                TAVIK_PROPERTY(TempDriverM1, switcherMode),
                {QStringLiteral("temperatures"),
                 operation<TempDriverM1>(&TempDriverM1::readTemperatures,
                                         [](TempDriverM1* t) {
                                             return perChannel<TempDriverM1>(
                                                 t, [](auto* t, int ch) {
                                                     return QVariant(t->temperature(ch));
                                                 });
                                         })},
                {QStringLiteral("sensorVoltages"),
                 operation<TempDriverM1>(&TempDriverM1::readSensorVoltages,
                                         [](TempDriverM1* t) {
                                             return perChannel<TempDriverM1>(
                                                 t, [](auto* t, int ch) {
                                                     return QVariant(t->sensorVoltage(ch));
                                                 });
                                         })},
                {QStringLiteral("channelSettings"),
                 operation<TempDriverM1>(&TempDriverM1::readChannelSettings,
                                         [](TempDriverM1* t) {
                                             return perChannel<TempDriverM1>(t, [](auto* t,
                                                                                   int ch) {
                                                 return QVariant::fromValue(t->channelSetting(ch));
                                             });
                                         })},
                {QStringLiteral("calibration"),
                 operation<TempDriverM1>(&TempDriverM1::readCalibration,
                                         [](TempDriverM1* t) {
                                             return perChannel<TempDriverM1>(
                                                 t, [](auto* t, int ch) {
                                                     return QVariant::fromValue(t->calibration(ch));
                                                 });
                                         })},
                {QStringLiteral("tempTables"),
                 operation<TempDriverM1>(&TempDriverM1::readTempTables,
                                         [](TempDriverM1* t) {
                                             return perChannel<TempDriverM1>(
                                                 t, [](auto* t, int ch) {
                                                     return QVariant(tableToList(t->tableData(ch)));
                                                 });
                                         })},
            }),
        kind<HeaterDriverM0>(QStringLiteral("heater"), QStringLiteral("VX9HTM0"),
                             {
                                 TAVIK_PROPERTY(HeaterDriverM0, data),
                                 TAVIK_PROPERTY(HeaterDriverM0, floatValue),
                                 TAVIK_PROPERTY(HeaterDriverM0, byte0),
                                 TAVIK_PROPERTY(HeaterDriverM0, byte1),
                                 TAVIK_PROPERTY(HeaterDriverM0, eepromConst),
                                 TAVIK_PROPERTY(HeaterDriverM0, pair0),
                                 TAVIK_PROPERTY(HeaterDriverM0, pair1),
                                 TAVIK_PROPERTY(HeaterDriverM0, const0),
                                 TAVIK_PROPERTY(HeaterDriverM0, const1),
                                 TAVIK_PROPERTY(HeaterDriverM0, const2),
                                 TAVIK_PROPERTY(HeaterDriverM0, const3),
                             }),
        kind<SisBiasSourceDriverM0>(QStringLiteral("sisbias"), QStringLiteral("VX9BSM0"),
                                    {
                                        TAVIK_PROPERTY(SisBiasSourceDriverM0, data),
                                        TAVIK_PROPERTY(SisBiasSourceDriverM0, value0),
                                        TAVIK_PROPERTY(SisBiasSourceDriverM0, value1),
                                        TAVIK_PROPERTY(SisBiasSourceDriverM0, flag),
                                        TAVIK_PROPERTY(SisBiasSourceDriverM0, modeByte),
                                        TAVIK_PROPERTY(SisBiasSourceDriverM0, eepromConst),
                                        TAVIK_PROPERTY(SisBiasSourceDriverM0, pair0),
                                        TAVIK_PROPERTY(SisBiasSourceDriverM0, pair2),
                                        TAVIK_PROPERTY(SisBiasSourceDriverM0, pair4),
                                        TAVIK_PROPERTY(SisBiasSourceDriverM0, const0),
                                        TAVIK_PROPERTY(SisBiasSourceDriverM0, pair1),
                                        TAVIK_PROPERTY(SisBiasSourceDriverM0, pair3),
                                        TAVIK_PROPERTY(SisBiasSourceDriverM0, pair5),
                                        TAVIK_PROPERTY(SisBiasSourceDriverM0, const1),
                                        TAVIK_PROPERTY(SisBiasSourceDriverM0, const2),
                                        TAVIK_PROPERTY(SisBiasSourceDriverM0, extraFlag),
                                        TAVIK_PROPERTY(SisBiasSourceDriverM0, sweepParams),
                                    }),
        kind<SisControlLineDriverM0>(QStringLiteral("sisline"), QStringLiteral("VX9CLM0"),
                                     {
                                         TAVIK_PROPERTY(SisControlLineDriverM0, data),
                                         TAVIK_PROPERTY(SisControlLineDriverM0, floatValue),
                                         TAVIK_PROPERTY(SisControlLineDriverM0, flag),
                                         TAVIK_PROPERTY(SisControlLineDriverM0, eepromConst),
                                         TAVIK_PROPERTY(SisControlLineDriverM0, pair0),
                                         TAVIK_PROPERTY(SisControlLineDriverM0, pair1),
                                         TAVIK_PROPERTY(SisControlLineDriverM0, pair2),
                                         TAVIK_PROPERTY(SisControlLineDriverM0, const0),
                                         TAVIK_PROPERTY(SisControlLineDriverM0, extraFlag),
                                     }),
    };
    return kinds;
}

const ModuleKind* findModuleKind(const QString& name)
{
    for (const ModuleKind& k : moduleKinds())
        if (k.name == name)
            return &k;
    return nullptr;
}

const ModuleKind* moduleKindOfType(const QString& typeString)
{
    // The engine tells module types apart the same way: the model code within the text.
    for (const ModuleKind& k : moduleKinds())
        if (typeString.contains(k.typeString))
            return &k;
    return nullptr;
}
