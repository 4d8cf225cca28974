// Structures to JSON and back through their meta-objects.
#include "drivers/cudid.h"
#include "drivers/pair.h"
#include "drivers/structurejson.h"

#include <QJsonArray>
#include <QTest>

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

class TestStructureJson : public QObject
{
    Q_OBJECT
private slots:
    void structureRoundTrip()
    {
        const probe::Outer value{1.5f, {2.0f, -0.5f}, {42, true}, probe::ModeManual, -3};
        const QJsonValue json = cuToJson(value);
        const QJsonObject object = json.toObject();
        QCOMPARE(object.value("level").toDouble(), 1.5);
        QCOMPARE(object.value("slope").toObject().value("first").toDouble(), 2.0);
        QCOMPARE(object.value("slope").toObject().value("second").toDouble(), -0.5);
        QCOMPARE(object.value("inner").toObject().value("counts").toDouble(), 42.0);
        QCOMPARE(object.value("inner").toObject().value("on").toBool(), true);
        QCOMPARE(object.value("mode").toString(), QString("ModeManual"));
        QCOMPARE(object.value("offset").toDouble(), -3.0);
        bool ok = false;
        QCOMPARE(cuFromJson<probe::Outer>(json, &ok), value);
        QVERIFY(ok);
    }

    void missingFieldsReadAsZero()
    {
        bool ok = false;
        const auto value = cuFromJson<probe::Outer>(QJsonObject{{"level", 3.0}}, &ok);
        QVERIFY(ok);
        QCOMPARE(value.level, 3.0f);
        QCOMPARE(value.inner, (probe::Inner{0, false}));
        QCOMPARE(value.mode, probe::ModeOff);
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
        probe::Outer value{1.5f, {2.0f, -0.5f}, {42, true}, probe::ModeManual, -3};
        QString error;
        QVERIFY(cuMergeJson(QJsonObject{{"level", 4.0}, {"inner", QJsonObject{{"on", false}}}},
                            &value, "probe", &error));
        QCOMPARE(value.level, 4.0f);
        QCOMPARE(value.slope, (pair_t<float>{2.0f, -0.5f}));
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

    void identifiersAndEnumsByNumber()
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
};

QTEST_GUILESS_MAIN(TestStructureJson)
#include "tst_structurejson.moc"
