// Reading a preset file down to the channels it sets: which elements count as SSPD channels,
// the defaults of missing values, and the files that are refused.
#include "engine/presetfile.h"

#include <QTest>

namespace {

// "address current cmp_ref_level" per channel, in order.
QStringList described(const QList<PresetChannel>& channels)
{
    QStringList list;
    for (const PresetChannel& channel : channels)
        list << QStringLiteral("%1 %2 %3")
                    .arg(channel.address)
                    .arg(channel.current)
                    .arg(channel.cmpRefLevel);
    return list;
}

} // namespace

class TestPresetFile : public QObject
{
    Q_OBJECT

private slots:
    void channels_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("channels");

        QTest::newRow("in file order")
            << QByteArray(R"({"data": [{"type": 1, "address": 3, "current": 1.5e-05,
                                         "cmp_ref_level": 0.25},
                                        {"type": 0, "address": 1, "current": -2e-06}]})")
            << QStringList{"3 1.5e-05 0.25", "1 -2e-06 0"};
        QTest::newRow("type must be the number 0 or 1")
            << QByteArray(R"({"data": [{"type": "0", "address": 1}, {"address": 2},
                                        {"type": 0.5, "address": 3}, {"type": 4, "address": 4},
                                        {"type": 1.0, "address": 5}]})")
            << QStringList{"5 0 0"};
        QTest::newRow("address that is no whole number")
            << QByteArray(R"({"data": [{"type": 0, "address": "7"}, {"type": 0},
                                        {"type": 0, "address": 2.5}]})")
            << QStringList{"0 0 0", "0 0 0", "0 0 0"};
        QTest::newRow("values that are no numbers")
            << QByteArray(R"({"data": [{"type": 0, "address": 1, "current": "1e-5",
                                        "cmp_ref_level": true}]})")
            << QStringList{"1 0 0"};
        QTest::newRow("data not an array")
            << QByteArray(R"({"data": {"type": 0, "address": 1}})") << QStringList{};
        QTest::newRow("data null") << QByteArray(R"({"data": null})") << QStringList{};
    }
    void channels()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, channels);
        const PresetFileContent content = readPresetFile(file);
        QCOMPARE(content.error, QString());
        QCOMPARE(described(content.channels), channels);
    }

    void refusedFiles_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("cut short") << QByteArray(R"({"data": [{"type": 0, "address": 1})");
        QTest::newRow("data in a nested object") << QByteArray(R"({"presets": {"data": []}})");
    }
    void refusedFiles()
    {
        QFETCH(QByteArray, file);
        const PresetFileContent content = readPresetFile(file);
        QCOMPARE(content.error, QStringLiteral("Wrong data. Missed \"data\" member."));
        QVERIFY(content.channels.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPresetFile)
#include "tst_presetfile.moc"
