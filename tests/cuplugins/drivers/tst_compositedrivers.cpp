// Every module driver that keeps sets (live data, parameters, EEPROM constants) in step with
// its single properties, from one table per model against a scripted module: set and single
// answers, wrong lengths and the bytes of every write; then what the SSPD drivers do with
// switches and acknowledgements, and the temperature commutator byte.
#include "bytes.h"
#include "drivers/heaterdriverm0.h"
#include "drivers/sisbiassourcedriverm0.h"
#include "drivers/siscontrollinedriverm0.h"
#include "drivers/sspddriverm0.h"
#include "drivers/sspddriverm1.h"
#include "drivers/tempdriverm0.h"
#include "driverunit.h"

#include <QSignalSpy>
#include <QTest>
#include <map>

namespace {
constexpr quint8 No = DriverProperty_p::NoCode;
constexpr quint8 Address = 7;
enum Set { Alone = -1, Data, Params, Eeprom };
const char* const SetSignals[] = {"dataUpdated", "paramsUpdated", "eepromConstUpdated"};
const char* const SetNames[] = {"data.", "params.", "eeprom."};

const auto F = [](float v) -> QByteArray { return Bytes().f32(v); };
const auto U8 = [](quint8 v) -> QByteArray { return Bytes().u8(v); };
const auto Fs = [](std::initializer_list<float> values) {
    Bytes b;
    for (float v : values)
        b.f32(v);
    return b.toByteArray();
};
const auto replaced = [](QByteArray bytes, int offset, const QByteArray& field) {
    return bytes.replace(offset, field.size(), field);
};

// A property seen through its public operations, whatever its value type.
struct Probe
{
    std::function<QByteArray()> cached;          // byte image of cached()
    std::function<QVariant()> value;             // cached() as a variant
    std::function<bool()> request;               // one read try: answered?
    std::function<void(const QByteArray&)> send; // typed write of these bytes, or the command
};

template <typename P> Probe probe(P* p)
{
    using T = typename P::Value;
    Probe r;
    if constexpr (requires { p->cached(); }) {
        r.cached = [p] { return DriverValue<T>::encode(p->cached()); };
        r.value = [p] { return QVariant::fromValue(p->cached()); };
        r.request = [p] {
            bool ok = false;
            p->read(&ok, 1);
            return ok;
        };
    }
    if constexpr (requires(T v) { p->write(v); })
        r.send = [p](const QByteArray& b) { p->write(DriverValue<T>::decode(b)); };
    return r;
}
Probe probe(DriverCommand* c)
{
    Probe r;
    r.send = [c](const QByteArray&) { c->execute(); };
    return r;
}

// One property: its set and the offset of its field there (-1: the whole set), and the
// bytes the module answers to its read code, which a write of it carries as well.
struct Row
{
    const char* name; // the field's name in its set's structure
    Probe p;
    quint8 read, write;
    int set, offset;
    QByteArray value;
    bool ackPublishes = false; // its acknowledgement changes the live data
};

// Model 1 has a current monitor after the current (its live data is four bytes longer), an
// HF mode switch in place of the RF key, a current monitor calibration pair and a pulse width
// (read with 58, written with 57), and its bias current acknowledgement reaches the live data.
template <typename D> QList<Row> sspd(D& d)
{
    constexpr bool m1 = std::is_same_v<D, SspdDriverM1>;
    constexpr int s = m1 ? 4 : 0;
    const QByteArray data = F(1.25e-6f) + (m1 ? F(1.5e-6f) : QByteArray()) + Fs({0.0375f, 4321}) +
                            U8(0x3A) + QByteArray(3, char(0xA5));
    QList<Row> rows = {
        {"data", probe(d.data()), 16, No, Data, -1, data},
        {"current", probe(d.current()), 17, 18, Data, 0, F(2.5e-6f), m1},
        {"voltage", probe(d.voltage()), 19, No, Data, 4 + s, F(0.011f)},
        {"counts", probe(d.counts()), 20, No, Data, 8 + s, F(99)},
        {"status", probe(d.status()), 21, 22, Data, 12 + s, U8(0x15), true},
        {"shortEnable", probe(d.shortEnable()), No, 23, Alone, 0, U8(1), true},
        {"amplifierEnable", probe(d.amplifierEnable()), No, 24, Alone, 0, U8(1), true},
        {"comparatorEnable", probe(d.comparatorEnable()), No, 26, Alone, 0, U8(1), true},
        {"counterEnable", probe(d.counterEnable()), No, 27, Alone, 0, U8(1), true},
        {"autoResetEnable", probe(d.autoResetEnable()), No, 28, Alone, 0, U8(1), true},
        {"params", probe(d.params()), 29, 30, Params, -1,
         Fs({0.15f, 0.5f, 0.8f, 2.5f}) + Bytes().u32(17)},
        {"cmpRefLevel", probe(d.cmpRefLevel()), 31, 32, Params, 0, F(0.33f)},
        {"timeConst", probe(d.timeConst()), 33, 34, Params, 4, F(0.25f)},
        {"autoResetThreshold", probe(d.autoResetThreshold()), 35, 36, Params, 8, F(0.44f)},
        {"autoResetTimeOut", probe(d.autoResetTimeOut()), 37, 38, Params, 12, F(7.5f)},
        {"autoResetCounts", probe(d.autoResetCounts()), 39, 40, Params, 16,
         Bytes().u32(0x01020304)},
        {"eepromConst", probe(d.eepromConst()), 41, 42, Eeprom, -1,
         Fs({1.01f, .02f, 2.03f, .04f, 3.05f, .06f, 4.07f, .08f, 2.5e-9f, 5.09f, 0.1f})
             .left(m1 ? 44 : 32)},
        {"currentAdc", probe(d.currentAdcCoeffs()), 43, 44, Eeprom, 0, Fs({5.5f, -0.5f})},
        {"voltageAdc", probe(d.voltageAdcCoeffs()), 45, 46, Eeprom, 8, Fs({6.5f, -0.6f})},
        {"currentDac", probe(d.currentDacCoeffs()), 47, 48, Eeprom, 16, Fs({7.5f, -0.7f})},
        {"cmpRefDac", probe(d.cmpRefDacCoeffs()), 49, 50, Eeprom, 24 + 3 * s, Fs({9.5f, -0.9f})},
        {"auxFlag", probe(d.auxFlag()), 51, 52, Alone, 0, U8(1)},
    };
    if constexpr (m1) {
        rows.insert(2, {"currentMonitor", probe(d.currentMonitor()), 53, No, Data, 4, F(2.25e-6f)});
        rows.insert(8, {"hfModeEnable", probe(d.hfModeEnable()), No, 56, Alone, 0, U8(1), true});
        rows.insert(20, {"currentMonitorAdc", probe(d.currentMonitorAdcCoeffs()), 54, 55, Eeprom,
                         24, Fs({8.5f, -0.8f})});
        rows.insert(24, {"pulseWidth", probe(d.pulseWidth()), 58, 57, Eeprom, 32, F(3.75e-9f)});
    } else {
        rows.insert(
            7, {"rfKeyToComparator", probe(d.rfKeyToComparator()), No, 25, Alone, 0, U8(1), true});
    }
    return rows;
}

QList<Row> heater(HeaterDriverM0& d)
{
    return {
        {"data", probe(d.data()), 16, No, Data, -1,
         Bytes().u8(0x41).u8(0x42).u8(0xEE).u8(0xEF).f32(3.75f)},
        {"floatValue", probe(d.floatValue()), 17, 18, Data, 4, F(-9.5f)},
        {"byte0", probe(d.byte0()), 19, 20, Data, 0, U8(0x7E)},
        {"byte1", probe(d.byte1()), 21, 22, Data, 1, U8(0x81)},
        {"eepromConst", probe(d.eepromConst()), 23, 24, Eeprom, -1,
         Fs({.5f, 1.5f, 2.5f, 3.5f, 4.5f, 5.5f, 6.5f, 7.5f})},
        // The pairs answer to the highest codes although they lie first in the structure.
        {"pair0", probe(d.pair0()), 33, 34, Eeprom, 0, Fs({-1, -2})},
        {"pair1", probe(d.pair1()), 35, 36, Eeprom, 8, Fs({-3, -4})},
        {"const0", probe(d.const0()), 25, 26, Eeprom, 16, F(-5)},
        {"const1", probe(d.const1()), 27, 28, Eeprom, 20, F(-6)},
        {"const2", probe(d.const2()), 29, 30, Eeprom, 24, F(-7)},
        {"const3", probe(d.const3()), 31, 32, Eeprom, 28, F(-8)},
        {"command13", probe(d.command13()), No, 13, Alone, 0, {}},
        {"command14", probe(d.command14()), No, 14, Alone, 0, {}},
    };
}

QList<Row> sisControlLine(SisControlLineDriverM0& d)
{
    return {
        {"data", probe(d.data()), 16, No, Data, -1,
         F(0.5f) + Bytes().u8(1).u8(0xEE).u8(0xEF).u8(0xF0)},
        {"floatValue", probe(d.floatValue()), 17, 18, Data, 0, F(-4.25f)},
        {"flag", probe(d.flag()), 19, 20, Data, 4, U8(0)},
        {"eepromConst", probe(d.eepromConst()), 23, 24, Eeprom, -1,
         Fs({.5f, 1.5f, 2.5f, 3.5f, 4.5f, 5.5f, 6.5f})},
        {"pair0", probe(d.pair0()), 25, 26, Eeprom, 0, Fs({-1, -2})},
        {"pair1", probe(d.pair1()), 27, 28, Eeprom, 8, Fs({-3, -4})},
        {"pair2", probe(d.pair2()), 29, 30, Eeprom, 16, Fs({-5, -6})},
        {"const0", probe(d.const0()), 31, 32, Eeprom, 24, F(-7)},
        {"extraFlag", probe(d.extraFlag()), 21, 22, Alone, 0, U8(1)},
    };
}

QList<Row> sisBiasSource(SisBiasSourceDriverM0& d)
{
    QByteArray sweep;
    for (int i = 1; i <= 20; ++i)
        sweep.append(char(0x10 + i));
    return {
        {"data", probe(d.data()), 16, No, Data, -1,
         Fs({1.25f, -3.5f}) + Bytes().u8(1).u8(0x5A).u8(0xEE).u8(0xEF)},
        {"value0", probe(d.value0()), 17, 18, Data, 0, F(7.75f)},
        {"value1", probe(d.value1()), 19, 20, Data, 4, F(-0.125f)},
        {"flag", probe(d.flag()), 21, 22, Data, 8, U8(0)},
        {"modeByte", probe(d.modeByte()), 23, 24, Data, 9, U8(0xA5)},
        {"eepromConst", probe(d.eepromConst()), 27, 28, Eeprom, -1,
         Fs({.5f, 1.5f, 2.5f, 3.5f, 4.5f, 5.5f, 6.5f, 7.5f, 8.5f, 9.5f, 10.5f, 11.5f, 12.5f, 13.5f,
             14.5f})},
        {"pair0", probe(d.pair0()), 29, 30, Eeprom, 0, Fs({-1, -2})},
        {"pair2", probe(d.pair2()), 33, 34, Eeprom, 16, Fs({-5, -6})},
        {"pair4", probe(d.pair4()), 37, 38, Eeprom, 32, Fs({-9, -10})},
        {"const0", probe(d.const0()), 39, 40, Eeprom, 48, F(-13)},
        {"pair1", probe(d.pair1()), 31, 32, Eeprom, 8, Fs({-3, -4})},
        {"pair3", probe(d.pair3()), 35, 36, Eeprom, 24, Fs({-7, -8})},
        {"pair5", probe(d.pair5()), 41, 42, Eeprom, 40, Fs({-11, -12})},
        {"const1", probe(d.const1()), 43, 44, Eeprom, 52, F(-14)},
        {"const2", probe(d.const2()), 45, 46, Eeprom, 56, F(-15)},
        {"extraFlag", probe(d.extraFlag()), 25, 26, Alone, 0, U8(1)},
        {"sweepParams", probe(d.sweepParams()), 47, 48, Alone, 0, sweep},
        {"command49", probe(d.command49()), No, 49, Alone, 0, {}},
        {"command50", probe(d.command50()), No, 50, Alone, 0, {}},
    };
}

QList<Row> tempM0(TempDriverM0& d)
{
    const QByteArray data = Fs({77.5f, 1.25e-3f, 1.0e-5f, 0.875f, 0.0123f, -0.0456f}) + U8(1) +
                            QByteArray(3, char(0xA5));
    return {
        {"data", probe(d.data()), 16, No, Data, -1, data},
        {"temperature", probe(d.temperature()), 17, No, Data, 0, F(4.25f)},
        {"pressure", probe(d.pressure()), 18, No, Data, 4, F(998.5f)},
        {"tempSensorCurrent", probe(d.tempSensorCurrent()), 19, 20, Data, 8, F(2.5e-6f)},
        {"tempSensorVoltage", probe(d.tempSensorVoltage()), 21, No, Data, 12, F(1.125f)},
        {"pressSensorVoltageP", probe(d.pressSensorVoltageP()), 22, No, Data, 16, F(0.333f)},
        {"pressSensorVoltageN", probe(d.pressSensorVoltageN()), 23, No, Data, 20, F(-0.777f)},
        {"commutator", probe(d.commutator()), 24, 25, Data, 24, U8(0)},
        {"eepromConst", probe(d.eepromConst()), 26, 27, Eeprom, -1,
         Fs({1, -2, 11, -12, 21, -22, 31, -32, 41, -42, 51, -52})},
        {"tempSensorCurrentAdc", probe(d.tempSensorCurrentAdcCoeffs()), 28, 29, Eeprom, 0,
         Fs({.625f, -99.5f})},
        {"tempSensorCurrentDac", probe(d.tempSensorCurrentDacCoeffs()), 30, 31, Eeprom, 8,
         Fs({3, 4})},
        {"tempSensorVoltage", probe(d.tempSensorVoltageCoeffs()), 32, 33, Eeprom, 16, Fs({5, 6})},
        {"pressSensorVoltageP", probe(d.pressSensorVoltagePCoeffs()), 34, 35, Eeprom, 24,
         Fs({7, 8})},
        {"pressSensorVoltageN", probe(d.pressSensorVoltageNCoeffs()), 36, 37, Eeprom, 32,
         Fs({9, 10})},
        {"pressSensorCoeffs", probe(d.pressSensorCoeffs()), 38, 39, Eeprom, 40, Fs({11, 12})},
        {"tempTable", {}, 40, 41, Alone, 0, {}}, // moved only by the chunked table transfer
    };
}

// A field of a set (not the whole set, nor a property outside every set).
bool inSet(const Row& r)
{
    return r.set != Alone && r.offset >= 0;
}

struct Model
{
    const char* name;
    std::function<CommonDriver*()> make;
    std::function<QList<Row>(CommonDriver*)> rows;
};
template <typename D> Model model(const char* name, QList<Row> (*rows)(D&))
{
    return {name, [] { return new D; },
            [rows](CommonDriver* d) { return rows(*static_cast<D*>(d)); }};
}
enum { SspdM0, SspdM1, TempM0 };
const QList<Model>& models()
{
    static const QList<Model> list = {model("sspd m0", sspd<SspdDriverM0>),
                                      model("sspd m1", sspd<SspdDriverM1>),
                                      model("temp m0", tempM0),
                                      model("heater", heater),
                                      model("sis line", sisControlLine),
                                      model("sis bias", sisBiasSource)};
    return list;
}

} // namespace

class TestCompositeDrivers : public QObject
{
    Q_OBJECT

    std::unique_ptr<DriverUnit> unit;
    std::unique_ptr<CommonDriver> driver;
    QList<Row> rows;
    quint8 flushes = 0;
    std::map<int, std::unique_ptr<QSignalSpy>> spies; // of the sets' signals

    int emitted() const
    {
        int n = 0;
        for (const auto& [set, spy] : spies)
            n += int(spy->size());
        return n;
    }
    QByteArray lastEmitted(int set) { return bytesOf(spies[set]->last().at(0)); }
    void clearSpies()
    {
        for (const auto& [set, spy] : spies)
            spy->clear();
    }

    // Every test starts here: the driver of the row's model, attached to a module that
    // answers reads from answers and acknowledges writes and commands.
    void start()
    {
        QFETCH(int, model);
        unit = std::make_unique<DriverUnit>();
        QVERIFY(unit->start());
        driver.reset(models().at(model).make());
        unit->attach(*driver, Address);
        rows = models().at(model).rows(driver.get());
        const QMetaObject* meta = driver->metaObject();
        for (const Row& r : std::as_const(rows)) {
            if (r.read == No && r.value.isEmpty())
                unit->commands << r.write;
            for (int i = 0; r.offset < 0 && i < meta->methodCount(); ++i) {
                if (meta->method(i).name() == SetSignals[r.set])
                    spies[r.set] = std::make_unique<QSignalSpy>(driver.get(), meta->method(i));
            }
        }
        unit->script(Address);
    }
    const Row& row(const char* name) const
    {
        for (const Row& r : rows) {
            if (qstrcmp(r.name, name) == 0)
                return r;
        }
        qFatal("no row %s", name);
    }
    int wholeOf(int set) const
    {
        for (int i = 0; i < rows.size(); ++i) {
            if (rows[i].set == set && rows[i].offset < 0)
                return i;
        }
        return -1;
    }
    bool answer(const Row& r, const QByteArray& bytes)
    {
        unit->answers[r.read] = bytes;
        return r.p.request();
    }
    bool acknowledged(const Row& r, const QByteArray& bytes)
    {
        r.p.send(bytes);
        return driver->waitForAnswer();
    }
    QList<QByteArray> snapshot() const
    {
        QList<QByteArray> bytes;
        for (const Row& r : rows)
            bytes << (r.p.cached ? r.p.cached() : QByteArray());
        return bytes;
    }
    // Answers every set. Each answer reaches every single property of its fields and nothing
    // else, and its set's signal fires once with it.
    void fillSets()
    {
        for (const Row& whole : std::as_const(rows)) {
            if (whole.offset >= 0)
                continue;
            QList<QByteArray> expected = snapshot();
            for (int i = 0; i < rows.size(); ++i) {
                if (&rows[i] == &whole || (rows[i].set == whole.set && inSet(rows[i])))
                    expected[i] = whole.value.mid(qMax(rows[i].offset, 0), rows[i].value.size());
            }
            clearSpies();
            QVERIFY(answer(whole, whole.value));
            QCOMPARE(unit->peer.packets().last().command, whole.read);
            QVERIFY(unit->peer.packets().last().data.isEmpty());
            QCOMPARE(snapshot(), expected);
            QCOMPARE(emitted(), 1);
            QCOMPARE(lastEmitted(whole.set), whole.value);
        }
        clearSpies();
    }
    // Once this read is answered, every packet the module sent before has been handled. An
    // answer right behind another small packet may wait for the delayed TCP acknowledgement.
    void flush()
    {
        driver->setAnswerTimeout(2000);
        QVERIFY(answer(row("auxFlag"), U8(++flushes)));
        driver->setAnswerTimeout(30);
    }

    static void addModels(QList<int> only = {})
    {
        QTest::addColumn<int>("model");
        for (int i = 0; i < models().size(); ++i) {
            if (only.isEmpty() || only.contains(i))
                QTest::newRow(models().at(i).name) << i;
        }
    }
    static void addRows(const std::function<bool(const Row&)>& keep)
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<int>("row");
        for (int i = 0; i < models().size(); ++i) {
            std::unique_ptr<CommonDriver> d(models().at(i).make());
            const QList<Row> list = models().at(i).rows(d.get());
            for (int j = 0; j < list.size(); ++j) {
                const Row& r = list[j];
                if (keep(r))
                    QTest::addRow("%s %s%s", models().at(i).name, inSet(r) ? SetNames[r.set] : "",
                                  r.name)
                        << i << j;
            }
        }
    }

private slots:
    void cleanup()
    {
        spies.clear();
        driver.reset();
        unit.reset();
    }

    // A single answer replaces exactly its field of its set (on zeros when the set was never
    // answered), whose signal fires once with the new set; outside a set it changes itself.
    void singleAnswer_data()
    {
        addRows([](const Row& r) { return r.offset >= 0 && r.read != No && r.p.request; });
    }
    void singleAnswer()
    {
        start();
        QFETCH(int, row);
        const Row& r = rows.at(row);
        const int whole = wholeOf(r.set);
        if (inSet(r)) {
            QVERIFY(answer(r, r.value));
            QCOMPARE(rows[whole].p.cached(),
                     replaced(QByteArray(rows[whole].value.size(), 0), r.offset, r.value));
        }
        fillSets();
        QList<QByteArray> expected = snapshot();
        QVERIFY2(expected[row] != r.value, "the answer must differ from the set's");
        expected[row] = r.value;
        if (inSet(r))
            expected[whole] = replaced(expected[whole], r.offset, r.value);
        clearSpies();
        QVERIFY(answer(r, r.value));
        QCOMPARE(unit->peer.packets().last().command, r.read);
        QVERIFY(unit->peer.packets().last().data.isEmpty());
        QCOMPARE(snapshot(), expected);
        QCOMPARE(emitted(), inSet(r) ? 1 : 0);
        if (inSet(r))
            QCOMPARE(lastEmitted(r.set), expected[whole]);
    }

    // An answer a byte short or long is no answer: it changes nothing and fires nothing.
    void wrongLengths_data() { addModels(); }
    void wrongLengths()
    {
        start();
        fillSets();
        const QList<QByteArray> before = snapshot();
        clearSpies();
        for (const Row& r : std::as_const(rows)) {
            if (!r.p.request)
                continue;
            for (const QByteArray& bad : {r.value.chopped(1), r.value + '\x01'}) {
                QVERIFY2(!answer(r, bad), r.name);
                QCOMPARE(snapshot(), before);
            }
        }
        QCOMPARE(emitted(), 0);
    }

    // A write goes out as one packet with the write code and the value's bytes; its
    // acknowledgement changes nothing cached, but for the SSPD live data: the status (model 1:
    // the bias current too) and the switches.
    void writes_data() { addModels(); }
    void writes()
    {
        start();
        fillSets();
        QList<QByteArray> before = snapshot();
        for (const Row& r : std::as_const(rows)) {
            if (!r.p.send)
                continue;
            clearSpies();
            QVERIFY2(acknowledged(r, r.value), r.name);
            const PeerPacket& sent = unit->peer.packets().last();
            QCOMPARE(sent.address, Address);
            QCOMPARE(sent.command, r.write);
            QCOMPARE(sent.data, r.value);
            if (r.ackPublishes && !inSet(r)) { // a switch, see switches()
                before = snapshot();
                continue;
            }
            const int whole = wholeOf(Data);
            if (r.ackPublishes) // the live data takes it, its own property keeps the report
                before[whole] = replaced(before[whole], r.offset, r.value);
            QCOMPARE(snapshot(), before);
            QCOMPARE(emitted(), int(r.ackPublishes));
            if (r.ackPublishes)
                QCOMPARE(lastEmitted(Data), before[whole]);
        }
        // Without an acknowledgement nothing changes.
        unit->acknowledge = false;
        clearSpies();
        for (const Row& r : std::as_const(rows)) {
            QByteArray other = r.value;
            for (char& c : other)
                c = char(~c);
            QVERIFY(!r.ackPublishes || !acknowledged(r, other));
        }
        QCOMPARE(snapshot(), before);
        QCOMPARE(emitted(), 0);
    }

    // An acknowledged switch changes its bit of the status the module last reported (not
    // of an earlier acknowledgement's result); the status property keeps the report.
    void switches_data() { addModels({SspdM0, SspdM1}); }
    void switches()
    {
        start();
        const Row& data = row("data");
        const Row& status = row("status");
        int bit = 0;
        for (const Row& s : std::as_const(rows)) {
            if (s.read != No)
                continue;
            const quint8 mask = quint8(1u << ++bit);
            for (const quint8 reported : {quint8(0x00), quint8(0xFF)}) {
                const bool on = reported == 0;
                QVERIFY(answer(data, replaced(data.value, status.offset, U8(reported))));
                clearSpies();
                QVERIFY(acknowledged(s, U8(on)));
                const QByteArray expected =
                    replaced(data.value, status.offset, U8(on ? mask : 0xFF & ~mask));
                QCOMPARE(data.p.cached(), expected);
                QCOMPARE(status.p.cached(), U8(reported));
                QCOMPARE(emitted(), 1);
                QCOMPARE(lastEmitted(Data), expected);
            }
        }
        QVERIFY(answer(data, data.value)); // status 0x3A
        const auto statusNow = [&] { return quint8(data.p.cached().at(status.offset)); };
        QVERIFY(acknowledged(row("amplifierEnable"), U8(1)));
        QCOMPARE(statusNow(), quint8(0x3E));
        QVERIFY(acknowledged(row("counterEnable"), U8(0)));
        QCOMPARE(statusNow(), quint8(0x1A));
        QVERIFY(answer(status, U8(0x02))); // a status answer is the new reference
        QVERIFY(acknowledged(row("shortEnable"), U8(0)));
        QCOMPARE(statusNow(), quint8(0x00));
    }

    // The written value is known only while the last packet through the property was that
    // write: a stray acknowledgement, or one after a read request, must not publish one.
    void strayAcknowledgementsAreIgnored_data()
    {
        addRows([](const Row& r) { return r.ackPublishes && inSet(r); });
    }
    void strayAcknowledgementsAreIgnored()
    {
        start();
        QFETCH(int, row);
        const Row& r = rows.at(row);
        fillSets();
        clearSpies();
        unit->peer.sendToClient(LoopbackPeer::packet(Address, r.write));
        flush();
        unit->acknowledge = false;
        r.p.send(r.value);
        QVERIFY(!r.p.request()); // the module stays silent
        unit->peer.sendToClient(LoopbackPeer::packet(Address, r.write));
        flush();
        QCOMPARE(rows.at(wholeOf(Data)).p.cached(), rows.at(wholeOf(Data)).value);
        QCOMPARE(emitted(), 0);
    }

    // A module may report "on" with any non-zero byte; the driver keeps the commutator a
    // clean 0 or 1 in the live data and in the single property.
    void commutatorReadsAnyNonZeroByteAsOn_data() { addModels({TempM0}); }
    void commutatorReadsAnyNonZeroByteAsOn()
    {
        start();
        auto* temp = static_cast<TempDriverM0*>(driver.get());
        const Row& data = row("data");
        QVERIFY(answer(data, replaced(data.value, 24, U8(0x02))));
        QCOMPARE(data.p.cached(), data.value);
        QVERIFY(answer(row("commutator"), U8(0x80)));
        QCOMPARE(temp->commutator()->receivedData(), U8(1));
        QCOMPARE(data.p.cached(), data.value);
        QVERIFY(answer(row("commutator"), U8(0)));
        QCOMPARE(data.p.cached().at(24), '\0');
    }
};

QTEST_GUILESS_MAIN(TestCompositeDrivers)
#include "tst_compositedrivers.moc"
