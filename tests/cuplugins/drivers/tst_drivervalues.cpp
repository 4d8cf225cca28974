// The value types around the drivers: structures as JSON and back, module identifiers in
// text form, the relay byte of a model-1 temperature module (and the stop on a relay that
// does not exist), and the windowed average with its trend.
#include "drivers/crelaysstatus.h"
#include "drivers/cudid.h"
#include "drivers/pair.h"
#include "drivers/structurejson.h"
#include "drivers/windowedaverage.h"

#include <QJsonArray>
#include <QProcess>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>

namespace probe {
Q_NAMESPACE
enum Mode : quint32 { ModeOff = 0, ModeAuto = 2, ModeManual = 7 };
Q_ENUM_NS(Mode)

struct Inner
{
    Q_GADGET
    Q_PROPERTY(quint32 counts MEMBER counts)
    Q_PROPERTY(bool on MEMBER on)
public:
    quint32 counts;
    bool on;
    friend bool operator==(const Inner&, const Inner&) = default;
};

struct Outer
{
    Q_GADGET
    Q_PROPERTY(float level MEMBER level)
    Q_PROPERTY(pair_t<float> slope MEMBER slope)
    Q_PROPERTY(probe::Inner inner MEMBER inner)
    Q_PROPERTY(probe::Mode mode MEMBER mode)
    Q_PROPERTY(qint16 offset MEMBER offset)
public:
    float level;
    pair_t<float> slope;
    Inner inner;
    Mode mode;
    qint16 offset;
    friend bool operator==(const Outer&, const Outer&) = default;
};
} // namespace probe
Q_DECLARE_METATYPE(probe::Inner)
Q_DECLARE_METATYPE(probe::Outer)

namespace {
// Run as a child with this argument, the program indexes a relay that does not exist.
constexpr char BadIndexArgument[] = "--index-relay";
const probe::Outer Sample{1.5f, {2.0f, -0.5f}, {42, true}, probe::ModeManual, -3};
} // namespace

class TestDriverValues : public QObject
{
    Q_OBJECT

private slots:
    void structureRoundTrip()
    {
        const QJsonValue json = cuToJson(Sample);
        const QJsonObject object = json.toObject();
        QCOMPARE(object.value("level").toDouble(), 1.5);
        QCOMPARE(object.value("slope").toObject().value("second").toDouble(), -0.5);
        QCOMPARE(object.value("inner").toObject().value("counts").toDouble(), 42.0);
        QCOMPARE(object.value("inner").toObject().value("on").toBool(), true);
        QCOMPARE(object.value("mode").toString(), QString("ModeManual"));
        QCOMPARE(object.value("offset").toDouble(), -3.0);
        bool ok = false;
        QCOMPARE(cuFromJson<probe::Outer>(json, &ok), Sample);
        QVERIFY(ok);
        const auto partial = cuFromJson<probe::Outer>(QJsonObject{{"level", 3.0}}, &ok);
        QVERIFY(ok); // missing fields read as zero
        QCOMPARE(partial, (probe::Outer{3.0f, {}, {}, probe::ModeOff, 0}));
    }

    void badFieldsAreRefused_data()
    {
        QTest::addColumn<QJsonValue>("json");
        QTest::newRow("not an object") << QJsonValue(3);
        QTest::newRow("text for a number") << QJsonValue(QJsonObject{{"level", "high"}});
        QTest::newRow("negative unsigned")
            << QJsonValue(QJsonObject{{"inner", QJsonObject{{"counts", -1}}}});
        QTest::newRow("fraction for integer")
            << QJsonValue(QJsonObject{{"inner", QJsonObject{{"counts", 1.5}}}});
        QTest::newRow("out of range") << QJsonValue(QJsonObject{{"offset", 40000}});
        QTest::newRow("unknown enum key") << QJsonValue(QJsonObject{{"mode", "ModeTurbo"}});
        QTest::newRow("half a pair")
            << QJsonValue(QJsonObject{{"slope", QJsonObject{{"first", 1}}}});
    }
    void badFieldsAreRefused()
    {
        QFETCH(QJsonValue, json);
        bool ok = true;
        const auto value = cuFromJson<probe::Outer>(json, &ok);
        QVERIFY(!ok);
        QCOMPARE(value, probe::Outer{}); // nothing half-filled comes back
    }

    void mergeWritesOnlyTheGivenFields()
    {
        probe::Outer value = Sample;
        QString error;
        QVERIFY(cuMergeJson(QJsonObject{{"level", 4.0}, {"inner", QJsonObject{{"on", false}}}},
                            &value, "probe", &error));
        QCOMPARE(value.level, 4.0f);
        QCOMPARE(value.slope, Sample.slope);
        QCOMPARE(value.inner, (probe::Inner{0, false})); // a nested object is written whole
        QCOMPARE(value.offset, qint16(-3));

        const probe::Outer before = value;
        QVERIFY(!cuMergeJson(QJsonObject{{"level", 1.0}, {"colour", 3}}, &value, "probe", &error));
        QVERIFY(error.contains("colour"));
        QVERIFY(!cuMergeJson(QJsonObject{{"offset", "far"}}, &value, "probe", &error));
        QVERIFY(!cuMergeJson(QJsonValue(7), &value, "probe", &error));
        QVERIFY(error.contains("probe"));
        QCOMPARE(value, before);
    }

    void otherTypesAsJson()
    {
        const cUDID id = cUDID::fromString("0011-2233-4455-6677-8899-AABB");
        QCOMPARE(cuToJson(id).toString(), QString("0011-2233-4455-6677-8899-AABB"));
        bool ok = false;
        QCOMPARE(cuFromJson<cUDID>(QJsonValue("0011-2233-4455-6677-8899-AABB"), &ok), id);
        QVERIFY(ok);
        QCOMPARE(cuFromJson<probe::Mode>(QJsonValue(2), &ok), probe::ModeAuto);
        QVERIFY(ok);
        QCOMPARE(cuToJson(probe::Mode(5)).toDouble(), 5.0); // no key: the number
        QVERIFY(cuToJson(QVariant::fromValue(QJsonArray())).isUndefined());
        QCOMPARE(cuToJson(QByteArray::fromHex("00ff10")).toString(), QString("00ff10"));
        QCOMPARE(cuFromJson<QByteArray>(QJsonValue("00FF10"), &ok), QByteArray::fromHex("00ff10"));
        QVERIFY(ok);
        cuFromJson<QByteArray>(QJsonValue("0g"), &ok);
        QVERIFY(!ok);
        const QJsonArray list =
            cuToJson(QVariantList{1.5, QVariant::fromValue(pair_t<float>{1, 2})}).toArray();
        QCOMPARE(list.size(), 2);
        QCOMPARE(list.at(1).toObject().value("second").toDouble(), 2.0);
    }

    void udidTextForm()
    {
        const cUDID id({0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01, 0x02, 0x03, 0x0a, 0x0b, 0x0c, 0xff});
        QCOMPARE(id.toString(), QString("DEAD-BEEF-0001-0203-0A0B-0CFF"));
        bool ok = false;
        QCOMPARE(cUDID::fromString("dead-beef-0001-0203-0a0b-0cff", &ok), id);
        QVERIFY(ok);
        QCOMPARE(cUDID::fromString("DEADBEEF000102030A0B0CFF", &ok), id);
        QVERIFY(ok);
        for (const char* bad :
             {"", "DEAD-BEEF", "DEAD-BEEF-0001-0203-0A0B-0CFG",
              "DEAD-BEEF-0001-0203-0A0B-0CFF-0000", "DEAD--BEEF-0001-0203-0A0B-0C"}) {
            cUDID::fromString(bad, &ok);
            QVERIFY2(!ok, bad);
        }
        QVERIFY(cUDID().isNull() && !id.isNull());
    }

    // Written, the high nibble masks the relays to change and the low nibble gives their
    // states; a state wider than a nibble must not reach the mask and change another relay.
    // Read, bit 0 is relay 0 and bit 1 relay 1.
    void relayByte()
    {
        const int written[][3] = {{0x1, 0x1, 0x11},  {0x2, 0x0, 0x20},  {0x3, 0x1, 0x31},
                                  {0x12, 0x0, 0x20}, {0x1, 0x11, 0x11}, {0x2, 0xF0, 0x20}};
        for (const auto& [mask, state, byte] : written)
            QCOMPARE(int(cRelaysStatus(quint8(mask), quint8(state)).raw()), byte);
        for (const int byte : {0x00, 0x01, 0x02, 0x03, 0xF2, 0x0C}) {
            const cRelaysStatus status{quint8(byte)};
            QCOMPARE(status[0], bool(byte & 1));
            QCOMPARE(status[1], bool(byte & 2));
        }
        cRelaysStatus full(0xFF);
        QCOMPARE(full.clearMask().raw(), quint8(0x0F));
        QCOMPARE(full.raw(), quint8(0x0F));
    }

    void nonExistentRelayIndexStopsTheProgram_data()
    {
        QTest::addColumn<QString>("index");
        QTest::addColumn<bool>("stops");
        QTest::newRow("2") << "2" << true;
        QTest::newRow("-1") << "-1" << true;
        QTest::newRow("1") << "1" << false;
    }
    void nonExistentRelayIndexStopsTheProgram()
    {
        QFETCH(QString, index);
        QFETCH(bool, stops);
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {BadIndexArgument, index});
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), stops ? QProcess::CrashExit : QProcess::NormalExit);
        QCOMPARE(child.readAllStandardError().contains("relay index must be < 2"), stops);
        QCOMPARE(child.readAllStandardOutput().contains("survived"), !stops);
    }

    void windowedAverage()
    {
        WindowedAverage average(4);
        QList<double> averages, trends;
        for (double v : {1, 2, 3, 4, 5, 6, 7, -29}) {
            averages << average.addValue(v);
            trends << average.trend();
        }
        // The trend starts once the window is more than half full; four averages are kept.
        QCOMPARE(averages, QList<double>({1, 1.5, 2, 2.5, 3.5, 4.5, 5.5, -2.75}));
        QCOMPARE(trends, QList<double>({0, 0, 0, 0.5, 1.5, 2.5, 3, -6.25}));
        average.clear();
        QCOMPARE(average.trend(), 0.0);
        QCOMPARE(average.addValue(8), 8.0);

        WindowedAverage odd(3); // more than half of 3 is 2 values
        odd.addValue(10);
        odd.addValue(6);
        QCOMPARE(odd.trend(), 0.0);
        odd.addValue(2);
        QCOMPARE(odd.trend(), -2.0);

        WindowedAverage none(0); // taken as a window of one value
        QCOMPARE(none.windowSize(), 1u);
        QCOMPARE(none.addValue(5), 5.0);
        QCOMPARE(none.addValue(7), 7.0);
        QCOMPARE(none.trend(), 0.0);
    }
};

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], BadIndexArgument) == 0) {
        // The stop is expected here; a core file would only cost time.
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        const bool on = cRelaysStatus(0xFF)[std::atoi(argv[2])];
        std::printf("survived %d\n", int(on));
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestDriverValues test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_drivervalues.moc"
