// The SIS control line driver against a scripted module: its codes, the decoding of its
// structures, the composites kept in step with every single property, wrong-length answers
// and the bytes of every write.
#include "bytes.h"
#include "compositeharness.h"
#include "drivers/siscontrollinedriverm0.h"

#include <QSignalSpy>
#include <QTest>

using harness::None;
using harness::Row;

namespace {

QByteArray dataAnswer()
{
    return Bytes().f32(0.5f).u8(1).pad(1, 0xEE).pad(1, 0xEF).pad(1, 0xF0);
}

// Pairs (0.5, 1.5), (2.5, 3.5), (4.5, 5.5), then 6.5, in field order.
QByteArray eepromAnswer()
{
    Bytes b;
    for (int i = 0; i < 7; ++i)
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
        {"floatValue", 17, 18, "data", 0, Bytes().f32(-4.25f)},
        {"flag", 19, 20, "data", 4, Bytes().u8(0)},
        {"eepromConst", 23, 24, "", 0, eepromAnswer()},
        {"pair0", 25, 26, "eepromConst", 0, pairBytes(-1.0f, -2.0f)},
        {"pair1", 27, 28, "eepromConst", 8, pairBytes(-3.0f, -4.0f)},
        {"pair2", 29, 30, "eepromConst", 16, pairBytes(-5.0f, -6.0f)},
        {"const0", 31, 32, "eepromConst", 24, Bytes().f32(-7.0f)},
        {"extraFlag", 21, 22, "", 0, Bytes().u8(1)},
    };
    return table;
}

harness::Probes probesOf(SisControlLineDriverM0& d)
{
    using harness::probe;
    return {
        {"data", probe(d.data())},           {"floatValue", probe(d.floatValue())},
        {"flag", probe(d.flag())},           {"eepromConst", probe(d.eepromConst())},
        {"pair0", probe(d.pair0())},         {"pair1", probe(d.pair1())},
        {"pair2", probe(d.pair2())},         {"const0", probe(d.const0())},
        {"extraFlag", probe(d.extraFlag())},
    };
}

// A typed write of each writable property and the bytes the module must receive.
struct WriteRow
{
    QString accessor;
    std::function<void(SisControlLineDriverM0&)> write;
    quint8 code;
    QByteArray bytes;
};

const QList<WriteRow>& writes()
{
    using D = SisControlLineDriverM0;
    static const QList<WriteRow> table = {
        {"floatValue", [](D& d) { d.floatValue()->write(2.5f); }, 18, Bytes().f32(2.5f)},
        {"flag", [](D& d) { d.flag()->write(true); }, 20, Bytes().u8(1)},
        {"eepromConst",
         [](D& d) {
             VX9CLM0V0_EEPROM_Const_t e{};
             e.pair0 = {1, 2};
             e.pair1 = {3, 4};
             e.pair2 = {5, 6};
             e.const0 = 7;
             d.eepromConst()->write(e);
         },
         24, Bytes().f32(1).f32(2).f32(3).f32(4).f32(5).f32(6).f32(7)},
        {"pair0",
         [](D& d) {
             d.pair0()->write({0.25f, 4.0f});
         },
         26, pairBytes(0.25f, 4.0f)},
        {"pair1",
         [](D& d) {
             d.pair1()->write({1.25f, 5.0f});
         },
         28, pairBytes(1.25f, 5.0f)},
        {"pair2",
         [](D& d) {
             d.pair2()->write({2.25f, 6.0f});
         },
         30, pairBytes(2.25f, 6.0f)},
        {"const0", [](D& d) { d.const0()->write(0.75f); }, 32, Bytes().f32(0.75f)},
        {"extraFlag", [](D& d) { d.extraFlag()->write(true); }, 22, Bytes().u8(1)},
    };
    return table;
}

} // namespace

class TestSisControlLineDriverM0 : public QObject
{
    Q_OBJECT

    std::unique_ptr<harness::ScriptedModule> module;
    std::unique_ptr<SisControlLineDriverM0> driver;
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
        driver = std::make_unique<SisControlLineDriverM0>();
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

    void registeredWithTheMetaTypeSystem() { harness::checkMetaType<SisControlLineDriverM0>(); }

    void dataAnswerFillsTheDataProperties()
    {
        QSignalSpy updated(driver.get(), &SisControlLineDriverM0::dataUpdated);
        QVERIFY(answer(16, dataAnswer()));
        const VX9CLM0V0_Data_t d = driver->data()->cached();
        QCOMPARE(d.floatValue, 0.5f);
        QCOMPARE(d.flag, true);
        QCOMPARE(driver->floatValue()->cached(), 0.5f);
        QCOMPARE(driver->flag()->cached(), true);
        QCOMPARE(updated.size(), 1);
        QCOMPARE(updated.at(0).at(0).value<VX9CLM0V0_Data_t>(), d);
    }

    void eepromAnswerFillsTheEepromProperties()
    {
        QSignalSpy updated(driver.get(), &SisControlLineDriverM0::eepromConstUpdated);
        QVERIFY(answer(23, eepromAnswer()));
        const VX9CLM0V0_EEPROM_Const_t e = driver->eepromConst()->cached();
        QCOMPARE(e.pair0, (pair_t<float>{0.5f, 1.5f}));
        QCOMPARE(e.pair1, (pair_t<float>{2.5f, 3.5f}));
        QCOMPARE(e.pair2, (pair_t<float>{4.5f, 5.5f}));
        QCOMPARE(e.const0, 6.5f);
        QCOMPARE(driver->pair0()->cached(), (pair_t<float>{0.5f, 1.5f}));
        QCOMPARE(driver->pair1()->cached(), (pair_t<float>{2.5f, 3.5f}));
        QCOMPARE(driver->pair2()->cached(), (pair_t<float>{4.5f, 5.5f}));
        QCOMPARE(driver->const0()->cached(), 6.5f);
        QCOMPARE(updated.size(), 1);
        QCOMPARE(updated.at(0).at(0).value<VX9CLM0V0_EEPROM_Const_t>(), e);
    }

    // Code 21 lies between the data and EEPROM codes but belongs to neither composite.
    void extraFlagAnswerTouchesNoComposite()
    {
        QVERIFY(answer(16, dataAnswer()));
        QVERIFY(answer(23, eepromAnswer()));
        QSignalSpy data(driver.get(), &SisControlLineDriverM0::dataUpdated);
        QSignalSpy eeprom(driver.get(), &SisControlLineDriverM0::eepromConstUpdated);
        QVERIFY(answer(21, Bytes().u8(1)));
        QCOMPARE(driver->extraFlag()->cached(), true);
        QCOMPARE(driver->data()->receivedData(), dataAnswer());
        QCOMPARE(driver->eepromConst()->receivedData(), eepromAnswer());
        QCOMPARE(data.size(), 0);
        QCOMPARE(eeprom.size(), 0);
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
        const VX9CLM0V0_Data_t d = driver->data()->cached();
        harness::checkGadget(
            VX9CLM0V0_Data_t::staticMetaObject, &d,
            {{"floatValue", QVariant::fromValue(0.5f)}, {"flag", QVariant::fromValue(true)}});
        const VX9CLM0V0_EEPROM_Const_t e = driver->eepromConst()->cached();
        harness::checkGadget(VX9CLM0V0_EEPROM_Const_t::staticMetaObject, &e,
                             {{"pair0", QVariant::fromValue(pair_t<float>{0.5f, 1.5f})},
                              {"pair1", QVariant::fromValue(pair_t<float>{2.5f, 3.5f})},
                              {"pair2", QVariant::fromValue(pair_t<float>{4.5f, 5.5f})},
                              {"const0", QVariant::fromValue(6.5f)}});
    }
};

QTEST_GUILESS_MAIN(TestSisControlLineDriverM0)
#include "tst_siscontrollinedriverm0.moc"
