// The SIS bias source and control line of the simulator: every structure with its length,
// writes read back alone and inside their structure, sweep parameters, EEPROM storage.
#include "bytes.h"
#include "core/simenvironment.h"
#include "modules/simsisbias.h"
#include "modules/simsisline.h"

#include <QTest>
#include <memory>

class TestSimSis : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimEnvironment> env;

    static QByteArray ask(SimModule& module, quint8 code, const QByteArray& data = {})
    {
        const QList<SimModule::Answer> answers = module.handlePacket(code, data);
        if (answers.size() != 1 || answers.first().command != code)
            return QByteArray("no single answer");
        return answers.first().data;
    }
    static bool acknowledged(SimModule& module, quint8 code, const QByteArray& data)
    {
        const QList<SimModule::Answer> answers = module.handlePacket(code, data);
        return answers.size() == 1 && answers.first().command == code &&
               answers.first().data.isEmpty();
    }

private slots:
    void init()
    {
        env = std::make_unique<SimEnvironment>(5);
        env->useManualClock(0);
    }

    void biasSourceStructuresAndWrites()
    {
        SimSisBias bias(12, {"VX9BSM0", "B", "1.0", "1.0", "SIS bias", cUDID()}, env.get());
        const QList<std::pair<int, int>> lengths = {
            {16, 12}, {17, 4}, {19, 4}, {21, 1}, {23, 1}, {25, 1}, {27, 60}, {29, 8}, {31, 8},
            {33, 8},  {35, 8}, {37, 8}, {39, 4}, {41, 8}, {43, 4}, {45, 4},  {47, 20}};
        for (const auto& [code, length] : lengths)
            QVERIFY2(ask(bias, quint8(code)).size() == length, qPrintable(QString::number(code)));

        QVERIFY(acknowledged(bias, 18, Bytes().f32(1.75e-3f)));
        QVERIFY(acknowledged(bias, 22, Bytes().u8(5)));
        QVERIFY(acknowledged(bias, 24, Bytes().u8(2)));
        QVERIFY(acknowledged(bias, 26, Bytes().u8(0)));
        const QByteArray data = ask(bias, 16);
        QCOMPARE(data.left(4), Bytes().f32(1.75e-3f).toByteArray());
        QCOMPARE(data.at(8), '\1'); // a flag is 0 or 1
        QCOMPARE(data.at(9), '\2');
        QCOMPARE(ask(bias, 25), QByteArray(1, '\0'));

        // pair5 sits at offset 40 and has codes 41/42, after const0 (39/40) at 48.
        QVERIFY(acknowledged(bias, 42, Bytes().f32(4).f32(5)));
        QVERIFY(acknowledged(bias, 40, Bytes().f32(33)));
        const QByteArray eeprom = ask(bias, 27);
        QCOMPARE(eeprom.mid(40, 8), Bytes().f32(4).f32(5).toByteArray());
        QCOMPARE(eeprom.mid(48, 4), Bytes().f32(33).toByteArray());

        const QByteArray sweep = Bytes().f32(-1e-3f).f32(3e-3f).f32(1e-5f).u32(100).u32(7);
        QVERIFY(acknowledged(bias, 48, sweep));
        QCOMPARE(ask(bias, 47), sweep);
        QVERIFY(acknowledged(bias, 49, {}));
        QVERIFY(acknowledged(bias, 50, {}));
        QVERIFY(bias.handlePacket(48, sweep.left(19)).isEmpty());

        QVERIFY(acknowledged(bias, 12, {}));
        SimSisBias other(13, bias.identity(), env.get());
        QString error;
        QVERIFY(other.setEeprom(bias.eeprom(), &error));
        QCOMPARE(ask(other, 27), eeprom);
        QVERIFY(!other.configure({{"gap", 2.8}}, &error));
    }

    void controlLineStructuresAndWrites()
    {
        SimSisLine line(14, {"VX9CLM0", "C", "1.0", "1.0", "SIS line", cUDID()}, env.get());
        const QList<std::pair<int, int>> lengths = {{16, 8}, {17, 4}, {19, 1}, {21, 1}, {23, 28},
                                                    {25, 8}, {27, 8}, {29, 8}, {31, 4}};
        for (const auto& [code, length] : lengths)
            QVERIFY2(ask(line, quint8(code)).size() == length, qPrintable(QString::number(code)));

        QVERIFY(acknowledged(line, 18, Bytes().f32(0.02f)));
        QVERIFY(acknowledged(line, 20, Bytes().u8(1)));
        QVERIFY(acknowledged(line, 22, Bytes().u8(1)));
        QCOMPARE(ask(line, 16), Bytes().f32(0.02f).u8(1).pad(3).toByteArray());
        QCOMPARE(ask(line, 21), QByteArray(1, '\1'));

        const QByteArray constants = Bytes().f32(1).f32(2).f32(3).f32(4).f32(5).f32(6).f32(7);
        QVERIFY(acknowledged(line, 24, constants));
        QCOMPARE(ask(line, 23), constants);
        QVERIFY(acknowledged(line, 28, Bytes().f32(-4).f32(-3)));
        QCOMPARE(ask(line, 23).mid(8, 8), Bytes().f32(-4).f32(-3).toByteArray());
        QCOMPARE(ask(line, 27), Bytes().f32(-4).f32(-3).toByteArray());

        line.reset(); // not stored: the EEPROM still holds its defaults
        QCOMPARE(ask(line, 25), Bytes().f32(1).f32(0).toByteArray());
        QCOMPARE(ask(line, 17), Bytes().f32(0).toByteArray());
        QVERIFY(line.handlePacket(49, {}).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSimSis)
#include "tst_simsis.moc"
