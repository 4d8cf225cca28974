// Reading the unit's module lists down to addresses and types, and the device list records
// built from a JSON list: the edges of the field, count and entry rules that the inventory
// tests against a unit do not reach.
#include "engine/modulelistparser.h"
#include "engine/modulerecords.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTest>

namespace {

// "address|type" per entry, in order, so that an empty type still shows.
QStringList described(const QList<ModuleListEntry>& entries)
{
    QStringList list;
    for (const ModuleListEntry& entry : entries)
        list << QStringLiteral("%1|%2").arg(entry.address).arg(entry.type);
    return list;
}

QJsonObject module(const QJsonValue& address, const QString& type)
{
    return QJsonObject{{"address", address}, {"type", type}};
}

} // namespace

class TestModuleList : public QObject
{
    Q_OBJECT

private slots:
    void legacyLines_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("entries");

        QTest::newRow("third field without =") << "m=1:addr=3:VX9SDM0" << QStringList{};
        QTest::newRow("empty fields") << "::<br>:::" << QStringList{};
        QTest::newRow("four fields") << "m=1:addr=2:type=VX9SDM0:x=1" << QStringList{};
        QTest::newRow("empty values") << "m=:addr=:type=" << QStringList{"0|"};
        QTest::newRow("first field is not read")
            << "no equals sign:addr=9:type=VX9TDM0" << QStringList{"9|VX9TDM0"};
        QTest::newRow("non-numeric address")
            << "m=1:addr=3a:type=VX9SDM0" << QStringList{"0|VX9SDM0"};
        QTest::newRow("value after the first =")
            << "m=1:addr=4:type=VX9=SDM1<br>m=2:a=b=5:type=VX9SDM0"
            << QStringList{"4|VX9=SDM1", "0|VX9SDM0"};
        QTest::newRow("low eight bits")
            << "m=1:addr=256:type=A<br>m=2:addr=-1:type=B<br>m=3:addr=99999999999:type=C"
            << QStringList{"0|A", "255|B", "0|C"};
        QTest::newRow("empty parts and the line end")
            << "<br><br>m=1:addr=2:type= VX9SDM1 <br><br>m=2:addr=7:type=VX9TDM1\r\n"
            << QStringList{"2|VX9SDM1", "7|VX9TDM1"};
    }
    void legacyLines()
    {
        QFETCH(QString, answer);
        QFETCH(QStringList, entries);
        QCOMPARE(described(legacyModuleEntries(answer)), entries);
    }

    void jsonEntries_data()
    {
        QTest::addColumn<QJsonObject>("list");
        QTest::addColumn<QStringList>("entries");

        const QJsonArray two{module(3, "VX9SDM0"), module(7, "VX9TDM1")};
        QTest::newRow("count -1") << QJsonObject{{"count", -1}, {"info", two}} << QStringList{};
        QTest::newRow("count 0") << QJsonObject{{"count", 0}, {"info", two}} << QStringList{};
        QTest::newRow("count as text")
            << QJsonObject{{"count", "2"}, {"info", two}} << QStringList{};
        QTest::newRow("count not whole")
            << QJsonObject{{"count", 1.5}, {"info", two}} << QStringList{};
        QTest::newRow("info not an array")
            << QJsonObject{{"count", 1}, {"info", module(3, "VX9SDM0")}} << QStringList{};
        // A non-object takes its place in the count but names no module.
        QTest::newRow("entries that are not objects")
            << QJsonObject{{"count", 3},
                           {"info",
                            QJsonArray{5, "VX9SDM0", module(4, "VX9SDM1"), module(5, "VX9TDM0")}}}
            << QStringList{"4|VX9SDM1"};
        QTest::newRow("addresses")
            << QJsonObject{{"count", 5},
                           {"info",
                            QJsonArray{QJsonObject{{"type", "A"}}, module(-1, "B"),
                                       module(3.5, "C"), module(256, "D"), module("12", "E")}}}
            << QStringList{"255|A", "255|B", "255|C", "0|D", "255|E"};
        QTest::newRow("no type") << QJsonObject{{"count", 1},
                                                {"info", QJsonArray{QJsonObject{{"address", 6}}}}}
                                 << QStringList{"6|"};
    }
    void jsonEntries()
    {
        QFETCH(QJsonObject, list);
        QFETCH(QStringList, entries);
        QCOMPARE(described(jsonModuleEntries(list)), entries);
    }

    void answersThatAreNoObjectGiveAnEmptyList()
    {
        QVERIFY(moduleListObject(QStringLiteral("[{\"count\": 1}]")).isEmpty());
        QVERIFY(moduleListObject(QString()).isEmpty());
        QCOMPARE(moduleListObject(QStringLiteral("{\"count\": 1}\r\n")),
                 QJsonObject({{"count", 1}}));
    }

    void typeCodesLetTheLaterMatchWin_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<int>("code");

        QTest::newRow("none") << "" << 4;
        QTest::newRow("SSPD model 1 before model 0") << "VX9SDM0 VX9SDM1" << 1;
        QTest::newRow("temperature after SSPD") << "VX9SDM1 VX9TDM0" << 2;
        QTest::newRow("temperature model 1 last") << "VX9TDM1 VX9TDM0 VX9SDM0" << 3;
        QTest::newRow("inside a longer text") << "xVX9SDM0x" << 0;
        QTest::newRow("case counts") << "vx9sdm0" << 4;
    }
    void typeCodesLetTheLaterMatchWin()
    {
        QFETCH(QString, type);
        QFETCH(int, code);
        QCOMPARE(moduleDeviceType(type), code);
    }

    void recordsSkipNonObjectsWithinTheCount()
    {
        const QJsonObject list{
            {"count", 2},
            {"info", QJsonArray{17, QJsonObject{{"type", "VX9TDM1"}}, module(6, "VX9SDM0")}}};
        const QList<DataProviderItem> records = moduleRecords(list);
        QCOMPARE(records.size(), 1);
        // The record keeps the unit's own address, -1 when the unit gave none.
        QCOMPARE(records.at(0).value("address"), QVariant(-1));
        QCOMPARE(records.at(0).value("type"), QVariant(3));
        QCOMPARE(records.at(0).value("UDID"), QVariant(QString()));

        QVERIFY(moduleRecords(QJsonObject{{"count", -1}, {"info", QJsonArray{module(1, "A")}}})
                    .isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestModuleList)
#include "tst_modulelist.moc"
