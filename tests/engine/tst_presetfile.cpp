// Reading a preset file down to the channels it sets: which elements count as SSPD channels,
// the defaults of missing values, the values that are refused, and the files that are.
#include "engine/presetfile.h"

#include <QTest>

namespace {

// "address current cmp_ref_level" per channel, in order; "-" for a refused value.
QStringList described(const QList<PresetChannel>& channels)
{
    QStringList list;
    for (const PresetChannel& channel : channels) {
        QString text = QString::number(channel.address);
        for (const char* key : {"current", "cmp_ref_level"}) {
            QString value = QStringLiteral("-");
            for (const auto& [name, number] : channel.writes)
                if (name == QLatin1String(key))
                    value = QString::number(number);
            text += u' ' + value;
        }
        list << text;
    }
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
        QTest::addColumn<QStringList>("refusals");

        QTest::newRow("in file order")
            << QByteArray(R"({"data": [{"type": 1, "address": 3, "current": 1.5e-05,
                                         "cmp_ref_level": 0.25},
                                        {"type": 0, "address": 1, "current": -2e-06}]})")
            << QStringList{"3 1.5e-05 0.25", "1 -2e-06 0"} << QStringList{};
        QTest::newRow("type must be the number 0 or 1")
            << QByteArray(R"({"data": [{"type": "0", "address": 1}, {"address": 2},
                                        {"type": 0.5, "address": 3}, {"type": 4, "address": 4},
                                        {"type": 1.0, "address": 5}]})")
            << QStringList{"5 0 0"} << QStringList{};
        QTest::newRow("address that is no whole number")
            << QByteArray(R"({"data": [{"type": 0, "address": "7"}, {"type": 0},
                                        {"type": 0, "address": 2.5}]})")
            << QStringList{"0 0 0", "0 0 0", "0 0 0"} << QStringList{};
        QTest::newRow("values that are no numbers")
            << QByteArray(R"({"data": [{"type": 0, "address": 1, "current": "1e-5",
                                        "cmp_ref_level": true},
                                       {"type": 0, "address": 2, "current": null,
                                        "cmp_ref_level": [0.1]}]})")
            << QStringList{"1 - -", "2 - -"}
            << QStringList{"Preset for unit 1: current \"1e-5\" is not a number; not restored",
                           "Preset for unit 1: cmp_ref_level true is not a number; not restored",
                           "Preset for unit 2: current null is not a number; not restored",
                           "Preset for unit 2: cmp_ref_level [...] is not a number; not restored"};
        QTest::newRow("values a detector must not get")
            << QByteArray(R"({"data": [{"type": 0, "address": 1, "current": 1,
                                        "cmp_ref_level": 0.5},
                                       {"type": 1, "address": 3, "current": 2e-5,
                                        "cmp_ref_level": 50},
                                       {"type": 1, "address": 4, "current": -1e-3,
                                        "cmp_ref_level": 1e300}]})")
            << QStringList{"1 - 0.5", "3 2e-05 -", "4 -0.001 -"}
            << QStringList{"Preset for unit 1: current 1 A is outside -0.001 to 0.001 A; "
                           "not restored",
                           "Preset for unit 3: cmp_ref_level 50 V is outside -3 to 3 V; "
                           "not restored",
                           "Preset for unit 4: cmp_ref_level 1e+300 V is outside -3 to 3 V; "
                           "not restored"};
        QTest::newRow("data not an array") << QByteArray(R"({"data": {"type": 0, "address": 1}})")
                                           << QStringList{} << QStringList{};
        QTest::newRow("data null")
            << QByteArray(R"({"data": null})") << QStringList{} << QStringList{};
    }
    void channels()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, channels);
        QFETCH(QStringList, refusals);
        const PresetFileContent content = readPresetFile(file);
        QCOMPARE(content.error, QString());
        QCOMPARE(described(content.channels), channels);
        QCOMPARE(content.refusals, refusals);
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
