// The SIS bias source driver against a scripted module: its codes (several out of field
// order), the decoding of its structures, the composites kept in step with every single
// property, wrong-length answers and the bytes of every write.
#include "bytes.h"
#include "compositeharness.h"
#include "drivers/sisbiassourcedriverm0.h"

#include <QSignalSpy>
#include <QTest>

using harness::None;
using harness::Row;

namespace {

QByteArray dataAnswer()
{
    return Bytes().f32(1.25f).f32(-3.5f).u8(1).u8(0x5A).pad(1, 0xEE).pad(1, 0xEF);
}

// Pairs (0.5, 1.5), (2.5, 3.5) ... (10.5, 11.5), then 12.5, 13.5, 14.5, in field order.
QByteArray eepromAnswer()
{
    Bytes b;
    for (int i = 0; i < 15; ++i)
        b.f32(0.5f + float(i));
    return b;
}

QByteArray sweepAnswer()
{
    Bytes b;
    for (int i = 1; i <= 20; ++i)
        b.u8(quint8(0x10 + i));
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
        {"value0", 17, 18, "data", 0, Bytes().f32(7.75f)},
        {"value1", 19, 20, "data", 4, Bytes().f32(-0.125f)},
        {"flag", 21, 22, "data", 8, Bytes().u8(0)},
        {"modeByte", 23, 24, "data", 9, Bytes().u8(0xA5)},
        {"eepromConst", 27, 28, "", 0, eepromAnswer()},
        {"pair0", 29, 30, "eepromConst", 0, pairBytes(-1.0f, -2.0f)},
        {"pair2", 33, 34, "eepromConst", 16, pairBytes(-5.0f, -6.0f)},
        {"pair4", 37, 38, "eepromConst", 32, pairBytes(-9.0f, -10.0f)},
        {"const0", 39, 40, "eepromConst", 48, Bytes().f32(-13.0f)},
        {"pair1", 31, 32, "eepromConst", 8, pairBytes(-3.0f, -4.0f)},
        {"pair3", 35, 36, "eepromConst", 24, pairBytes(-7.0f, -8.0f)},
        {"pair5", 41, 42, "eepromConst", 40, pairBytes(-11.0f, -12.0f)},
        {"const1", 43, 44, "eepromConst", 52, Bytes().f32(-14.0f)},
        {"const2", 45, 46, "eepromConst", 56, Bytes().f32(-15.0f)},
        {"extraFlag", 25, 26, "", 0, Bytes().u8(1)},
        {"sweepParams", 47, 48, "", 0, sweepAnswer()},
        {"command49", None, 49, "", 0, {}},
        {"command50", None, 50, "", 0, {}},
    };
    return table;
}

harness::Probes probesOf(SisBiasSourceDriverM0& d)
{
    using harness::probe;
    return {
        {"data", probe(d.data())},
        {"value0", probe(d.value0())},
        {"value1", probe(d.value1())},
        {"flag", probe(d.flag())},
        {"modeByte", probe(d.modeByte())},
        {"eepromConst", probe(d.eepromConst())},
        {"pair0", probe(d.pair0())},
        {"pair1", probe(d.pair1())},
        {"pair2", probe(d.pair2())},
        {"pair3", probe(d.pair3())},
        {"pair4", probe(d.pair4())},
        {"pair5", probe(d.pair5())},
        {"const0", probe(d.const0())},
        {"const1", probe(d.const1())},
        {"const2", probe(d.const2())},
        {"extraFlag", probe(d.extraFlag())},
        {"sweepParams", probe(d.sweepParams())},
        {"command49", probe(d.command49())},
        {"command50", probe(d.command50())},
    };
}

// A typed write of each writable property and the bytes the module must receive.
struct WriteRow
{
    QString accessor;
    std::function<void(SisBiasSourceDriverM0&)> write;
    quint8 code;
    QByteArray bytes;
};

const QList<WriteRow>& writes()
{
    using D = SisBiasSourceDriverM0;
    static const QList<WriteRow> table = {
        {"value0", [](D& d) { d.value0()->write(2.5f); }, 18, Bytes().f32(2.5f)},
        {"value1", [](D& d) { d.value1()->write(-7.25f); }, 20, Bytes().f32(-7.25f)},
        {"flag", [](D& d) { d.flag()->write(true); }, 22, Bytes().u8(1)},
        {"modeByte", [](D& d) { d.modeByte()->write(char(0x3C)); }, 24, Bytes().u8(0x3C)},
        {"eepromConst",
         [](D& d) {
             VX9BSM0V0_EEPROM_Const_t e{};
             e.pair0 = {1, 2};
             e.pair1 = {3, 4};
             e.pair2 = {5, 6};
             e.pair3 = {7, 8};
             e.pair4 = {9, 10};
             e.pair5 = {11, 12};
             e.const0 = 13;
             e.const1 = 14;
             e.const2 = 15;
             d.eepromConst()->write(e);
         },
         28,
         Bytes()
             .f32(1)
             .f32(2)
             .f32(3)
             .f32(4)
             .f32(5)
             .f32(6)
             .f32(7)
             .f32(8)
             .f32(9)
             .f32(10)
             .f32(11)
             .f32(12)
             .f32(13)
             .f32(14)
             .f32(15)},
        {"pair0",
         [](D& d) {
             d.pair0()->write({0.25f, 4.0f});
         },
         30, pairBytes(0.25f, 4.0f)},
        {"pair1",
         [](D& d) {
             d.pair1()->write({1.25f, 5.0f});
         },
         32, pairBytes(1.25f, 5.0f)},
        {"pair2",
         [](D& d) {
             d.pair2()->write({2.25f, 6.0f});
         },
         34, pairBytes(2.25f, 6.0f)},
        {"pair3",
         [](D& d) {
             d.pair3()->write({3.25f, 7.0f});
         },
         36, pairBytes(3.25f, 7.0f)},
        {"pair4",
         [](D& d) {
             d.pair4()->write({4.25f, 8.0f});
         },
         38, pairBytes(4.25f, 8.0f)},
        {"pair5",
         [](D& d) {
             d.pair5()->write({5.25f, 9.0f});
         },
         42, pairBytes(5.25f, 9.0f)},
        {"const0", [](D& d) { d.const0()->write(0.75f); }, 40, Bytes().f32(0.75f)},
        {"const1", [](D& d) { d.const1()->write(1.75f); }, 44, Bytes().f32(1.75f)},
        {"const2", [](D& d) { d.const2()->write(2.75f); }, 46, Bytes().f32(2.75f)},
        {"extraFlag", [](D& d) { d.extraFlag()->write(true); }, 26, Bytes().u8(1)},
        {"sweepParams",
         [](D& d) {
             VX9BSM0_SWEEP_PARAMS_t s{};
             s.setByteArray(sweepAnswer());
             d.sweepParams()->write(s);
         },
         48, sweepAnswer()},
        {"command49", [](D& d) { d.command49()->execute(); }, 49, {}},
        {"command50", [](D& d) { d.command50()->execute(); }, 50, {}},
    };
    return table;
}

} // namespace

class TestSisBiasSourceDriverM0 : public QObject
{
    Q_OBJECT

    std::unique_ptr<harness::ScriptedModule> module;
    std::unique_ptr<SisBiasSourceDriverM0> driver;
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
        module->commands = {49, 50};
        driver = std::make_unique<SisBiasSourceDriverM0>();
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

    void registeredWithTheMetaTypeSystem() { harness::checkMetaType<SisBiasSourceDriverM0>(); }

    void dataAnswerOfTwelveBytesFillsTheDataProperties()
    {
        QSignalSpy updated(driver.get(), &SisBiasSourceDriverM0::dataUpdated);
        QVERIFY(answer(16, dataAnswer()));
        const VX9BSM0_Data_t d = driver->data()->cached();
        QCOMPARE(d.value0, 1.25f);
        QCOMPARE(d.value1, -3.5f);
        QCOMPARE(d.flag, true);
        QCOMPARE(d.modeByte, char(0x5A));
        QCOMPARE(driver->value0()->cached(), 1.25f);
        QCOMPARE(driver->value1()->cached(), -3.5f);
        QCOMPARE(driver->flag()->cached(), true);
        QCOMPARE(driver->modeByte()->cached(), char(0x5A));
        QCOMPARE(updated.size(), 1);
        QCOMPARE(updated.at(0).at(0).value<VX9BSM0_Data_t>(), d);
    }

    void eepromAnswerOfSixtyBytesFillsTheNineEepromProperties()
    {
        QSignalSpy updated(driver.get(), &SisBiasSourceDriverM0::eepromConstUpdated);
        QVERIFY(answer(27, eepromAnswer()));
        const VX9BSM0V0_EEPROM_Const_t e = driver->eepromConst()->cached();
        const pair_t<float> pairs[] = {{0.5f, 1.5f}, {2.5f, 3.5f}, {4.5f, 5.5f},
                                       {6.5f, 7.5f}, {8.5f, 9.5f}, {10.5f, 11.5f}};
        QCOMPARE(e.pair0, pairs[0]);
        QCOMPARE(e.pair1, pairs[1]);
        QCOMPARE(e.pair2, pairs[2]);
        QCOMPARE(e.pair3, pairs[3]);
        QCOMPARE(e.pair4, pairs[4]);
        QCOMPARE(e.pair5, pairs[5]);
        QCOMPARE(e.const0, 12.5f);
        QCOMPARE(e.const1, 13.5f);
        QCOMPARE(e.const2, 14.5f);
        QCOMPARE(driver->pair0()->cached(), pairs[0]);
        QCOMPARE(driver->pair1()->cached(), pairs[1]);
        QCOMPARE(driver->pair2()->cached(), pairs[2]);
        QCOMPARE(driver->pair3()->cached(), pairs[3]);
        QCOMPARE(driver->pair4()->cached(), pairs[4]);
        QCOMPARE(driver->pair5()->cached(), pairs[5]);
        QCOMPARE(driver->const0()->cached(), 12.5f);
        QCOMPARE(driver->const1()->cached(), 13.5f);
        QCOMPARE(driver->const2()->cached(), 14.5f);
        QCOMPARE(updated.size(), 1);
        QCOMPARE(updated.at(0).at(0).value<VX9BSM0V0_EEPROM_Const_t>(), e);
    }

    void sweepParamsTravelWhole()
    {
        QVERIFY(answer(47, sweepAnswer()));
        QCOMPARE(driver->sweepParams()->cached().byteArray(), sweepAnswer());
    }

    void pair5AnswerLandsAtOffsetForty()
    {
        QVERIFY(answer(27, eepromAnswer()));
        QVERIFY(answer(41, pairBytes(100.0f, 200.0f)));
        const VX9BSM0V0_EEPROM_Const_t e = driver->eepromConst()->cached();
        QCOMPARE(e.pair5, (pair_t<float>{100.0f, 200.0f}));
        QCOMPARE(e.pair4, (pair_t<float>{8.5f, 9.5f}));
        QCOMPARE(e.const0, 12.5f);
        QCOMPARE(driver->pair4()->cached(), (pair_t<float>{8.5f, 9.5f}));
    }

    void extraFlagAnswerTouchesNoComposite()
    {
        QVERIFY(answer(16, dataAnswer()));
        QSignalSpy updated(driver.get(), &SisBiasSourceDriverM0::dataUpdated);
        QVERIFY(answer(25, Bytes().u8(1)));
        QCOMPARE(driver->extraFlag()->cached(), true);
        QCOMPARE(driver->data()->receivedData(), dataAnswer());
        QCOMPARE(updated.size(), 0);
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
        QVERIFY(answer(27, eepromAnswer()));
        QVERIFY(answer(47, sweepAnswer()));
        const VX9BSM0_Data_t d = driver->data()->cached();
        harness::checkGadget(VX9BSM0_Data_t::staticMetaObject, &d,
                             {{"value0", QVariant::fromValue(1.25f)},
                              {"value1", QVariant::fromValue(-3.5f)},
                              {"flag", QVariant::fromValue(true)},
                              {"modeByte", QVariant::fromValue(char(0x5A))}});
        const VX9BSM0V0_EEPROM_Const_t e = driver->eepromConst()->cached();
        harness::checkGadget(VX9BSM0V0_EEPROM_Const_t::staticMetaObject, &e,
                             {{"pair0", QVariant::fromValue(pair_t<float>{0.5f, 1.5f})},
                              {"pair1", QVariant::fromValue(pair_t<float>{2.5f, 3.5f})},
                              {"pair2", QVariant::fromValue(pair_t<float>{4.5f, 5.5f})},
                              {"pair3", QVariant::fromValue(pair_t<float>{6.5f, 7.5f})},
                              {"pair4", QVariant::fromValue(pair_t<float>{8.5f, 9.5f})},
                              {"pair5", QVariant::fromValue(pair_t<float>{10.5f, 11.5f})},
                              {"const0", QVariant::fromValue(12.5f)},
                              {"const1", QVariant::fromValue(13.5f)},
                              {"const2", QVariant::fromValue(14.5f)}});
        const VX9BSM0_SWEEP_PARAMS_t s = driver->sweepParams()->cached();
        harness::checkGadget(VX9BSM0_SWEEP_PARAMS_t::staticMetaObject, &s,
                             {{"bytes", QVariant::fromValue(sweepAnswer())}});
    }

    void sweepParamsBytesCanBeSetThroughTheMetaObject()
    {
        VX9BSM0_SWEEP_PARAMS_t s{};
        const QMetaProperty bytes = VX9BSM0_SWEEP_PARAMS_t::staticMetaObject.property(
            VX9BSM0_SWEEP_PARAMS_t::staticMetaObject.indexOfProperty("bytes"));
        QVERIFY(bytes.writeOnGadget(&s, QVariant::fromValue(QByteArray("\x01\x02\x03", 3))));
        QCOMPARE(s.byteArray(), QByteArray("\x01\x02\x03", 3) + QByteArray(17, '\0'));
        QVERIFY(bytes.writeOnGadget(&s, QVariant::fromValue(sweepAnswer() + "tail")));
        QCOMPARE(s.byteArray(), sweepAnswer());
    }
};

QTEST_GUILESS_MAIN(TestSisBiasSourceDriverM0)
#include "tst_sisbiassourcedriverm0.moc"
