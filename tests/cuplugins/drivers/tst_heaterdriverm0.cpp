// The heater driver against a scripted module: its codes and commands, the decoding of its
// structures, the composites kept in step with every single property, wrong-length answers
// and the bytes of every write.
#include "bytes.h"
#include "compositeharness.h"
#include "drivers/heaterdriverm0.h"

#include <QSignalSpy>
#include <QTest>

using harness::None;
using harness::Row;

namespace {

QByteArray dataAnswer()
{
    return Bytes().u8(0x41).u8(0x42).pad(1, 0xEE).pad(1, 0xEF).f32(3.75f);
}

// Pairs (0.5, 1.5), (2.5, 3.5), then 4.5, 5.5, 6.5, 7.5, in field order.
QByteArray eepromAnswer()
{
    Bytes b;
    for (int i = 0; i < 8; ++i)
        b.f32(0.5f + float(i));
    return b;
}

QByteArray pairBytes(float first, float second)
{
    return Bytes().f32(first).f32(second);
}

// The module's table, in the driver's creation order.
const QList<Row>& rows()
{
    static const QList<Row> table = {
        {"data", 16, None, "", 0, dataAnswer()},
        {"floatValue", 17, 18, "data", 4, Bytes().f32(-9.5f)},
        {"byte0", 19, 20, "data", 0, Bytes().u8(0x7E)},
        {"byte1", 21, 22, "data", 1, Bytes().u8(0x81)},
        {"eepromConst", 23, 24, "", 0, eepromAnswer()},
        {"pair0", 33, 34, "eepromConst", 0, pairBytes(-1.0f, -2.0f)},
        {"pair1", 35, 36, "eepromConst", 8, pairBytes(-3.0f, -4.0f)},
        {"const0", 25, 26, "eepromConst", 16, Bytes().f32(-5.0f)},
        {"const1", 27, 28, "eepromConst", 20, Bytes().f32(-6.0f)},
        {"const2", 29, 30, "eepromConst", 24, Bytes().f32(-7.0f)},
        {"const3", 31, 32, "eepromConst", 28, Bytes().f32(-8.0f)},
        {"command13", None, 13, "", 0, {}},
        {"command14", None, 14, "", 0, {}},
    };
    return table;
}

harness::Probes probesOf(HeaterDriverM0& d)
{
    using harness::probe;
    return {
        {"data", probe(d.data())},
        {"floatValue", probe(d.floatValue())},
        {"byte0", probe(d.byte0())},
        {"byte1", probe(d.byte1())},
        {"eepromConst", probe(d.eepromConst())},
        {"pair0", probe(d.pair0())},
        {"pair1", probe(d.pair1())},
        {"const0", probe(d.const0())},
        {"const1", probe(d.const1())},
        {"const2", probe(d.const2())},
        {"const3", probe(d.const3())},
        {"command13", probe(d.command13())},
        {"command14", probe(d.command14())},
    };
}

// A typed write of each writable property and the bytes the module must receive.
struct WriteRow
{
    QString accessor;
    std::function<void(HeaterDriverM0&)> write;
    quint8 code;
    QByteArray bytes;
};

const QList<WriteRow>& writes()
{
    using D = HeaterDriverM0;
    static const QList<WriteRow> table = {
        {"floatValue", [](D& d) { d.floatValue()->write(2.5f); }, 18, Bytes().f32(2.5f)},
        {"byte0", [](D& d) { d.byte0()->write(char(0x12)); }, 20, Bytes().u8(0x12)},
        {"byte1", [](D& d) { d.byte1()->write(char(0xF0)); }, 22, Bytes().u8(0xF0)},
        {"eepromConst",
         [](D& d) {
             VX9HT0V0_EEPROM_Const_t e{};
             e.pair0 = {1, 2};
             e.pair1 = {3, 4};
             e.const0 = 5;
             e.const1 = 6;
             e.const2 = 7;
             e.const3 = 8;
             d.eepromConst()->write(e);
         },
         24, Bytes().f32(1).f32(2).f32(3).f32(4).f32(5).f32(6).f32(7).f32(8)},
        {"pair0",
         [](D& d) {
             d.pair0()->write({0.25f, 4.0f});
         },
         34, pairBytes(0.25f, 4.0f)},
        {"pair1",
         [](D& d) {
             d.pair1()->write({1.25f, 5.0f});
         },
         36, pairBytes(1.25f, 5.0f)},
        {"const0", [](D& d) { d.const0()->write(0.75f); }, 26, Bytes().f32(0.75f)},
        {"const1", [](D& d) { d.const1()->write(1.75f); }, 28, Bytes().f32(1.75f)},
        {"const2", [](D& d) { d.const2()->write(2.75f); }, 30, Bytes().f32(2.75f)},
        {"const3", [](D& d) { d.const3()->write(3.75f); }, 32, Bytes().f32(3.75f)},
        {"command13", [](D& d) { d.command13()->execute(); }, 13, {}},
        {"command14", [](D& d) { d.command14()->execute(); }, 14, {}},
    };
    return table;
}

} // namespace

class TestHeaterDriverM0 : public QObject
{
    Q_OBJECT

    std::unique_ptr<harness::ScriptedModule> module;
    std::unique_ptr<HeaterDriverM0> driver;
    harness::Probes probes;

    bool answer(quint8 code, const QByteArray& bytes)
    {
        module->answers[code] = bytes;
        for (const Row& row : rows()) {
            if (row.readCode == code)
                return probes[row.accessor].read();
        }
        return false;
    }

private slots:
    void init()
    {
        module = std::make_unique<harness::ScriptedModule>();
        QVERIFY(module->start());
        module->commands = {13, 14};
        driver = std::make_unique<HeaterDriverM0>();
        module->attach(*driver);
        probes = probesOf(*driver);
    }
    void cleanup()
    {
        probes.clear();
        driver.reset();
        module.reset();
    }

    void propertiesCarryTheModuleCodes()
    {
        harness::checkCodes(*driver, probes, rows());
        QStringList writable, written;
        for (const Row& row : rows()) {
            if (row.writeCode != None)
                writable << row.accessor;
        }
        for (const WriteRow& w : writes())
            written << w.accessor;
        writable.sort();
        written.sort();
        QCOMPARE(written, writable);
    }

    void registeredWithTheMetaTypeSystem() { harness::checkMetaType<HeaterDriverM0>(); }

    void dataAnswerFillsTheDataProperties()
    {
        QSignalSpy updated(driver.get(), &HeaterDriverM0::dataUpdated);
        QVERIFY(answer(16, dataAnswer()));
        const VX9HTM0V0_Data_t d = driver->data()->cached();
        QCOMPARE(d.byte0, char(0x41));
        QCOMPARE(d.byte1, char(0x42));
        QCOMPARE(d.floatValue, 3.75f);
        QCOMPARE(driver->byte0()->cached(), char(0x41));
        QCOMPARE(driver->byte1()->cached(), char(0x42));
        QCOMPARE(driver->floatValue()->cached(), 3.75f);
        QCOMPARE(updated.size(), 1);
        QCOMPARE(updated.at(0).at(0).value<VX9HTM0V0_Data_t>(), d);
    }

    void eepromAnswerFillsTheEepromProperties()
    {
        QSignalSpy updated(driver.get(), &HeaterDriverM0::eepromConstUpdated);
        QVERIFY(answer(23, eepromAnswer()));
        const VX9HT0V0_EEPROM_Const_t e = driver->eepromConst()->cached();
        QCOMPARE(e.pair0, (pair_t<float>{0.5f, 1.5f}));
        QCOMPARE(e.pair1, (pair_t<float>{2.5f, 3.5f}));
        QCOMPARE(e.const0, 4.5f);
        QCOMPARE(e.const1, 5.5f);
        QCOMPARE(e.const2, 6.5f);
        QCOMPARE(e.const3, 7.5f);
        QCOMPARE(driver->pair0()->cached(), (pair_t<float>{0.5f, 1.5f}));
        QCOMPARE(driver->pair1()->cached(), (pair_t<float>{2.5f, 3.5f}));
        QCOMPARE(driver->const0()->cached(), 4.5f);
        QCOMPARE(driver->const1()->cached(), 5.5f);
        QCOMPARE(driver->const2()->cached(), 6.5f);
        QCOMPARE(driver->const3()->cached(), 7.5f);
        QCOMPARE(updated.size(), 1);
        QCOMPARE(updated.at(0).at(0).value<VX9HT0V0_EEPROM_Const_t>(), e);
    }

    // The pairs answer to the highest EEPROM codes although they lie first in the structure.
    void pair0AnswerLandsAtOffsetZero()
    {
        QVERIFY(answer(23, eepromAnswer()));
        QVERIFY(answer(33, pairBytes(100.0f, 200.0f)));
        const VX9HT0V0_EEPROM_Const_t e = driver->eepromConst()->cached();
        QCOMPARE(e.pair0, (pair_t<float>{100.0f, 200.0f}));
        QCOMPARE(e.pair1, (pair_t<float>{2.5f, 3.5f}));
        QCOMPARE(e.const3, 7.5f);
    }

    void commandsAreAcknowledged()
    {
        bool ok = false;
        driver->command13()->executeSync(&ok, 1);
        QVERIFY(ok);
        module->commands.remove(14);
        driver->command14()->executeSync(&ok, 1);
        QVERIFY(!ok);
        QCOMPARE(module->peer.packets().size(), 2);
        QCOMPARE(module->peer.packets().at(1).command, quint8(14));
    }

    void compositeAnswerSetsItsFields_data()
    {
        QTest::addColumn<QString>("composite");
        QTest::newRow("data") << "data";
        QTest::newRow("eepromConst") << "eepromConst";
    }
    void compositeAnswerSetsItsFields()
    {
        QFETCH(QString, composite);
        harness::checkCompositeAnswer(*module, driver.get(), probes, rows(), composite);
    }

    void singleAnswerReplacesOnlyItsField_data() { harness::addRows(rows(), harness::isSingle); }
    void singleAnswerReplacesOnlyItsField()
    {
        QFETCH(QString, accessor);
        harness::checkSingleAnswer(*module, driver.get(), probes, rows(),
                                   *harness::findRow(rows(), accessor));
    }

    void singleAnswersBuildTheCompositeFromZero_data() { compositeAnswerSetsItsFields_data(); }
    void singleAnswersBuildTheCompositeFromZero()
    {
        QFETCH(QString, composite);
        harness::checkFieldsBuildComposite(*module, driver.get(), probes, rows(), composite);
    }

    void wrongLengthAnswersAreIgnored_data()
    {
        harness::addRows(rows(), [](const Row& row) { return row.readCode != None; });
    }
    void wrongLengthAnswersAreIgnored()
    {
        QFETCH(QString, accessor);
        harness::checkWrongLengths(*module, driver.get(), probes, rows(),
                                   *harness::findRow(rows(), accessor));
    }

    void writesCarryTheValueBytes_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < writes().size(); ++i)
            QTest::newRow(qPrintable(writes().at(i).accessor)) << i;
    }
    void writesCarryTheValueBytes()
    {
        QFETCH(int, index);
        const WriteRow& w = writes().at(index);
        harness::checkWrite(
            *module, *driver, probes, rows(), [&] { w.write(*driver); }, w.code, w.bytes);
    }

    void structuresNameTheirFields()
    {
        QVERIFY(answer(16, dataAnswer()));
        QVERIFY(answer(23, eepromAnswer()));
        const VX9HTM0V0_Data_t d = driver->data()->cached();
        harness::checkGadget(VX9HTM0V0_Data_t::staticMetaObject, &d,
                             {{"byte0", QVariant::fromValue(char(0x41))},
                              {"byte1", QVariant::fromValue(char(0x42))},
                              {"floatValue", QVariant::fromValue(3.75f)}});
        const VX9HT0V0_EEPROM_Const_t e = driver->eepromConst()->cached();
        harness::checkGadget(VX9HT0V0_EEPROM_Const_t::staticMetaObject, &e,
                             {{"pair0", QVariant::fromValue(pair_t<float>{0.5f, 1.5f})},
                              {"pair1", QVariant::fromValue(pair_t<float>{2.5f, 3.5f})},
                              {"const0", QVariant::fromValue(4.5f)},
                              {"const1", QVariant::fromValue(5.5f)},
                              {"const2", QVariant::fromValue(6.5f)},
                              {"const3", QVariant::fromValue(7.5f)}});
    }
};

QTEST_GUILESS_MAIN(TestHeaterDriverM0)
#include "tst_heaterdriverm0.moc"
