#pragma once
// Table-driven checks for module drivers that keep composite structures ("data",
// "eepromConst") in step with their single properties, run against a scripted module on a
// loopback connection. Each test program states its driver's table; the checks here walk it.
#include "drivers/abstractdriver.h"
#include "link/cutcpsocketiointerface.h"
#include "loopbackpeer.h"

#include <QHash>
#include <QMap>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <functional>
#include <memory>

namespace harness {

constexpr quint8 None = 0xFF;

// One property of a driver: its accessor, its codes, the composite that holds its field
// ("" for none) with the field's offset, and an answer the module sends to its read code.
struct Row
{
    QString accessor;
    quint8 readCode;
    quint8 writeCode;
    QString composite;
    int offset;
    QByteArray answer;
};

// Adds one test row per table row that `keep` accepts, named after the accessor.
inline void addRows(const QList<Row>& rows, const std::function<bool(const Row&)>& keep)
{
    QTest::addColumn<QString>("accessor");
    for (const Row& row : rows) {
        if (keep(row))
            QTest::newRow(qPrintable(row.accessor)) << row.accessor;
    }
}

inline bool isSingle(const Row& row)
{
    return row.readCode != None && row.accessor != "data" && row.accessor != "eepromConst";
}

inline const Row* findRow(const QList<Row>& rows, const QString& accessor)
{
    for (const Row& row : rows) {
        if (row.accessor == accessor)
            return &row;
    }
    return nullptr;
}

// A property seen through its public operations, whatever its value type.
struct Probe
{
    quint8 readCode = None;
    quint8 writeCode = None;
    std::function<QByteArray()> cachedBytes; // byte image of cached(); empty for a command
    std::function<bool()> read;              // one try; tells whether an answer came
};
using Probes = QMap<QString, Probe>;

template <typename P> Probe probe(P* p)
{
    using T = typename P::Value;
    Probe result;
    result.readCode = p->readCode();
    result.writeCode = p->writeCode();
    result.cachedBytes = [p] {
        const T value = p->cached();
        return QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
    };
    result.read = [p] {
        bool ok = false;
        p->read(&ok, 1);
        return ok;
    };
    return result;
}

inline Probe probe(DriverCommand* c)
{
    Probe result;
    result.readCode = c->readCode();
    result.writeCode = c->writeCode();
    return result;
}

inline QMap<QString, QByteArray> snapshot(const Probes& probes)
{
    QMap<QString, QByteArray> bytes;
    for (auto it = probes.begin(); it != probes.end(); ++it) {
        if (it->cachedBytes)
            bytes.insert(it.key(), it->cachedBytes());
    }
    return bytes;
}

// The module at Address: answers read requests (no data) from `answers`, acknowledges every
// write (with data) and every code in `commands` with an empty packet of the same code.
class ScriptedModule
{
public:
    static constexpr quint8 Address = 7;

    QHash<quint8, QByteArray> answers;
    QSet<quint8> commands;
    LoopbackPeer peer;
    cuTcpSocketIOInterface link;

    bool start()
    {
        if (!peer.listen())
            return false;
        peer.setPacketResponder([this](const PeerPacket& p) -> QByteArray {
            if (p.address != Address)
                return {};
            if (p.data.isEmpty() && answers.contains(p.command))
                return LoopbackPeer::packet(Address, p.command, answers.value(p.command));
            if (!p.data.isEmpty() || commands.contains(p.command))
                return LoopbackPeer::packet(Address, p.command);
            return {};
        });
        link.setHostAddress(QHostAddress::LocalHost);
        link.setPort(peer.port());
        return true;
    }

    void attach(AbstractDriver& driver)
    {
        driver.setAddress(Address);
        driver.setInterface(&link);
        driver.setAnswerTimeout(30);
    }
};

inline QMetaMethod signalNamed(const QObject* object, const QByteArray& name)
{
    const QMetaObject* meta = object->metaObject();
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod m = meta->method(i);
        if (m.methodType() == QMetaMethod::Signal && m.name() == name)
            return m;
    }
    return {};
}

// The byte image of a signal argument.
inline QByteArray bytesOf(const QVariant& value)
{
    return QByteArray(static_cast<const char*>(value.constData()), value.metaType().sizeOf());
}

// Watches the signals of both composites.
struct CompositeSpies
{
    explicit CompositeSpies(QObject* driver)
        : data(driver, signalNamed(driver, "dataUpdated")),
          eeprom(driver, signalNamed(driver, "eepromConstUpdated"))
    {
    }
    QSignalSpy& of(const QString& composite) { return composite == "data" ? data : eeprom; }
    QSignalSpy data;
    QSignalSpy eeprom;
};

// Fills both composites from the module, so that later changes show against known bytes.
inline void fillComposites(ScriptedModule& module, const Probes& probes, const QList<Row>& rows)
{
    for (const char* composite : {"data", "eepromConst"}) {
        const Row* row = findRow(rows, composite);
        QVERIFY(row);
        module.answers[row->readCode] = row->answer;
        QVERIFY(probes[composite].read());
        QCOMPARE(probes[composite].cachedBytes(), row->answer);
    }
}

// An answer to a composite sets every single property of its fields, changes nothing else
// and emits the composite's signal once with the answer.
inline void checkCompositeAnswer(ScriptedModule& module, QObject* driver, const Probes& probes,
                                 const QList<Row>& rows, const QString& composite)
{
    const Row* row = findRow(rows, composite);
    QVERIFY(row);
    QMap<QString, QByteArray> expected = snapshot(probes);
    expected[composite] = row->answer;
    for (const Row& field : rows) {
        if (field.composite == composite)
            expected[field.accessor] = row->answer.mid(field.offset, field.answer.size());
    }
    CompositeSpies spies(driver);
    module.answers[row->readCode] = row->answer;
    QVERIFY(probes[composite].read());
    QCOMPARE(snapshot(probes), expected);
    QCOMPARE(spies.of(composite).size(), 1);
    QCOMPARE(bytesOf(spies.of(composite).at(0).at(0)), row->answer);
    QCOMPARE(spies.of(composite == "data" ? "eepromConst" : "data").size(), 0);
}

// An answer to a single property replaces exactly its field in its composite (whose signal
// fires once with the new composite) and changes no other cached value. A property outside
// the composites changes only itself and fires nothing.
inline void checkSingleAnswer(ScriptedModule& module, QObject* driver, const Probes& probes,
                              const QList<Row>& rows, const Row& row)
{
    fillComposites(module, probes, rows);
    QMap<QString, QByteArray> expected = snapshot(probes);
    QVERIFY2(expected[row.accessor] != row.answer, "the answer must differ from the cache");
    expected[row.accessor] = row.answer;
    if (!row.composite.isEmpty())
        expected[row.composite].replace(row.offset, row.answer.size(), row.answer);

    CompositeSpies spies(driver);
    module.answers[row.readCode] = row.answer;
    QVERIFY(probes[row.accessor].read());
    QCOMPARE(snapshot(probes), expected);
    for (const char* composite : {"data", "eepromConst"}) {
        if (row.composite != composite) {
            QCOMPARE(spies.of(composite).size(), 0);
            continue;
        }
        QCOMPARE(spies.of(composite).size(), 1);
        QCOMPARE(bytesOf(spies.of(composite).at(0).at(0)), expected[composite]);
    }
}

// On a driver never read before, single answers alone build up the composite from zero.
inline void checkFieldsBuildComposite(ScriptedModule& module, QObject* driver, const Probes& probes,
                                      const QList<Row>& rows, const QString& composite)
{
    const Row* whole = findRow(rows, composite);
    QVERIFY(whole);
    QByteArray expected(whole->answer.size(), '\0');
    CompositeSpies spies(driver);
    int fields = 0;
    for (const Row& row : rows) {
        if (row.composite != composite)
            continue;
        module.answers[row.readCode] = row.answer;
        QVERIFY(probes[row.accessor].read());
        expected.replace(row.offset, row.answer.size(), row.answer);
        ++fields;
        QCOMPARE(spies.of(composite).size(), fields);
        QCOMPARE(bytesOf(spies.of(composite).last().at(0)), expected);
    }
    QCOMPARE(probes[composite].cachedBytes(), expected);
}

// Answers one byte short or one byte long are no answers: they change nothing, fire nothing.
inline void checkWrongLengths(ScriptedModule& module, QObject* driver, const Probes& probes,
                              const QList<Row>& rows, const Row& row)
{
    fillComposites(module, probes, rows);
    const QMap<QString, QByteArray> before = snapshot(probes);
    CompositeSpies spies(driver);
    for (const QByteArray& wrong :
         {row.answer.left(row.answer.size() - 1), row.answer + QByteArray(1, '\x01')}) {
        module.answers[row.readCode] = wrong;
        QVERIFY(!probes[row.accessor].read());
        QCOMPARE(snapshot(probes), before);
    }
    QCOMPARE(spies.data.size(), 0);
    QCOMPARE(spies.eeprom.size(), 0);
}

// A write goes out as one packet with the write code and the value's bytes; its
// acknowledgement changes no cached value and fires nothing.
inline void checkWrite(ScriptedModule& module, AbstractDriver& driver, const Probes& probes,
                       const QList<Row>& rows, const std::function<void()>& write, quint8 code,
                       const QByteArray& bytes)
{
    fillComposites(module, probes, rows);
    const QMap<QString, QByteArray> before = snapshot(probes);
    CompositeSpies spies(&driver);
    const qsizetype sent = module.peer.packets().size();
    write();
    QVERIFY(driver.waitForAnswer()); // the acknowledgement
    QCOMPARE(module.peer.packets().size(), sent + 1);
    const PeerPacket& packet = module.peer.packets().last();
    QCOMPARE(packet.address, ScriptedModule::Address);
    QCOMPARE(packet.command, code);
    QCOMPARE(packet.data, bytes);
    QCOMPARE(snapshot(probes), before);
    QCOMPARE(spies.data.size(), 0);
    QCOMPARE(spies.eeprom.size(), 0);
}

// Every row's accessor carries the row's codes, and the driver's dispatch list holds exactly
// the common properties and the rows, none displaced by another with the same code.
inline void checkCodes(const AbstractDriver& driver, const Probes& probes, const QList<Row>& rows)
{
    QCOMPARE(probes.size(), rows.size());
    QSet<QPair<int, int>> expected = {{6, None},  {7, None},  {8, None}, {9, None},
                                      {10, None}, {5, None},  {None, 0}, {None, 1},
                                      {None, 2},  {None, 11}, {None, 12}};
    for (const Row& row : rows) {
        QVERIFY2(probes.contains(row.accessor), qPrintable(row.accessor));
        QCOMPARE(probes[row.accessor].readCode, row.readCode);
        QCOMPARE(probes[row.accessor].writeCode, row.writeCode);
        expected.insert({row.readCode, row.writeCode});
    }
    QSet<QPair<int, int>> registered;
    for (const DriverProperty_p* p : driver.properties())
        registered.insert({p->readCode(), p->writeCode()});
    QCOMPARE(driver.properties().size(), 11 + rows.size());
    QCOMPARE(registered, expected);
}

// A structure's meta-object names every field once and reads the right value by name.
inline void checkGadget(const QMetaObject& meta, const void* gadget,
                        const QList<QPair<QByteArray, QVariant>>& fields)
{
    QCOMPARE(meta.propertyCount(), fields.size());
    for (const auto& [name, value] : fields) {
        const int index = meta.indexOfProperty(name.constData());
        QVERIFY2(index >= 0, name.constData());
        const QVariant read = meta.property(index).readOnGadget(gadget);
        QCOMPARE(read.typeName(), value.typeName());
        QVERIFY2(read == value, name.constData());
    }
}

// The driver type is known to the meta-type system as a QObject pointer and can be built
// from its meta-object without arguments, that is with a null parent.
template <typename Driver> void checkMetaType()
{
    const QMetaType type = QMetaType::fromType<Driver*>();
    QVERIFY(type.flags().testFlag(QMetaType::PointerToQObject));
    QCOMPARE(type.metaObject(), &Driver::staticMetaObject);
    std::unique_ptr<QObject> made(Driver::staticMetaObject.newInstance());
    QVERIFY(qobject_cast<Driver*>(made.get()));
    QCOMPARE(made->parent(), nullptr);
}

} // namespace harness
