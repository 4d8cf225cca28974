// What the engine reads from outside, down to its edges: the unit's module lists, preset files,
// and measured count curves with their counting noise (plateau, none, a latch, the dark limit).
#include "engine/countcurveanalysis.h"
#include "engine/modulelistparser.h"
#include "engine/modulerecords.h"
#include "engine/parameterlimits.h"
#include "engine/presetfile.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTest>
#include <cmath>

using namespace CountCurveAnalysis;

namespace {

// "address|type" per entry, in order, so that an empty type still shows.
QStringList described(const QList<ModuleListEntry>& entries)
{
    QStringList list;
    for (const ModuleListEntry& entry : entries)
        list << QStringLiteral("%1|%2").arg(entry.address).arg(entry.type);
    return list;
}

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

// A detector as the simulator models it: a logistic efficiency rise and dark counts that grow
// e-fold per darkSlope up to darkRate at I_sw.
struct Detector
{
    double switching = 25e-6;
    double photons = 8000; // counted on the plateau
    double centre = 15e-6;
    double width = 1.5e-6;
    double darkRate = 1e4;
    double darkSlope = 0.6e-6;

    double efficiency(double i) const { return 1.0 / (1.0 + std::exp(-(i - centre) / width)); }
    double dark(double i) const { return darkRate * std::exp((i - switching) / darkSlope); }
    double rate(double i) const { return photons * efficiency(i) + dark(i); }
};

// 80 readings of 0.1 s each, from 0.3 I_sw to just below it; seed 0 means no noise.
QList<Point> curveOf(const Detector& d, quint32 seed)
{
    QRandomGenerator random(seed);
    QList<Point> points;
    for (int i = 0; i < 80; ++i) {
        const double bias = d.switching * (0.3 + 0.698 * i / 79);
        double cps = d.rate(bias);
        if (seed) {
            // Normal approximation of the Poisson counts, as the readings would scatter.
            const double counts = cps * 0.1;
            const double u1 = std::max(random.generateDouble(), 1e-12);
            const double z =
                std::sqrt(-2 * std::log(u1)) * std::cos(2 * M_PI * random.generateDouble());
            cps = std::max(0.0, std::round(counts + z * std::sqrt(counts))) / 0.1;
        }
        points.append({bias, cps, false});
    }
    return points;
}

} // namespace

Q_DECLARE_METATYPE(Detector)

class TestEngineInputs : public QObject
{
    Q_OBJECT

private slots:
    // Module lists in the old text form and as JSON (after "{").
    void moduleListEntries_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QStringList>("entries");
        const auto row = [](const char* name, const QByteArray& answer,
                            const QStringList& entries) {
            QTest::newRow(name) << answer << entries;
        };
        row("third field without =", "m=1:addr=3:VX9SDM0", {});
        row("four fields", "m=1:addr=2:type=VX9SDM0:x=1", {});
        row("empty values", "m=:addr=:type=", {"0|"});
        row("non-numeric address", "m=1:addr=3a:type=VX9SDM0", {"0|VX9SDM0"});
        row("value after the first =", "m=1:addr=4:type=VX9=SDM1<br>m=2:a=b=5:type=VX9SDM0",
            {"4|VX9=SDM1", "0|VX9SDM0"});
        row("low eight bits",
            "m=1:addr=256:type=A<br>m=2:addr=-1:type=B<br>m=3:addr=99999999999:type=C",
            {"0|A", "255|B", "0|C"});
        row("empty parts and the line end",
            "<br><br>m=1:addr=2:type= VX9SDM1 <br><br>m=2:addr=7:type=VX9TDM1\r\n",
            {"2|VX9SDM1", "7|VX9TDM1"});
        const QByteArray two =
            R"("info":[{"address":3,"type":"VX9SDM0"},{"address":7,"type":"VX9TDM1"}]})"
            "\r\n";
        row("count 0", R"({"count":0,)" + two, {});
        row("no count", "{" + two, {});
        row("count as text", R"({"count":"2",)" + two, {});
        row("count not whole", R"({"count":1.5,)" + two, {});
        row("count above the array", R"({"count":1000000000,)" + two, {"3|VX9SDM0", "7|VX9TDM1"});
        row("info not an array", R"({"count":1,"info":{"address":3,"type":"VX9SDM0"}})", {});
        // A non-object takes its place in the count but names no module.
        row("entries that are not objects",
            R"({"count":3,"info":[5,"VX9SDM0",{"address":4,"type":"VX9SDM1"},{"address":5}]})",
            {"4|VX9SDM1"});
        row("addresses",
            R"({"count":5,"info":[{"type":"A"},{"address":-1,"type":"B"},{"address":3.5,"type":"C"},)"
            R"({"address":256,"type":"D"},{"address":"12","type":"E"}]})",
            {"255|A", "255|B", "255|C", "0|D", "255|E"});
    }
    void moduleListEntries()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QStringList, entries);
        const QString text = QString::fromUtf8(answer);
        QCOMPARE(described(answer.startsWith('{') ? jsonModuleEntries(moduleListObject(text))
                                                  : legacyModuleEntries(text)),
                 entries);
    }

    void moduleTypesAndRecords()
    {
        QVERIFY(moduleListObject(QStringLiteral("[{\"count\": 1}]")).isEmpty());
        // The later match wins; the whole name in its case.
        for (const auto& [type, code] :
             QList<std::pair<QString, int>>{{"", 4},
                                            {"VX9SDM0 VX9SDM1", 1},
                                            {"VX9SDM1 VX9TDM0", 2},
                                            {"VX9TDM1 VX9TDM0 VX9SDM0", 3},
                                            {"xVX9SDM0x", 0},
                                            {"vx9sdm0", 4}})
            QCOMPARE(moduleDeviceType(type), code);
        // Records skip non-objects within the count, and keep the unit's own address (-1
        // when it gave none).
        const QList<DataProviderItem> records = moduleRecords(moduleListObject(
            R"({"count":2,"info":[17,{"type":"VX9TDM1"},{"address":6,"type":"VX9SDM0"}]})"));
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.at(0).value("address"), QVariant(-1));
        QCOMPARE(records.at(0).value("type"), QVariant(3));
    }

    // The sensor current is in amperes: 25 uA at most.
    void sensorCurrentLimit()
    {
        QVERIFY(ParameterLimits::problem("temperature_sensor_current", 25e-6).isEmpty());
        QVERIFY(!ParameterLimits::problem("temperature_sensor_current", 26e-6).isEmpty());
    }

    void presetChannels_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("channels");
        QTest::addColumn<QStringList>("refusals");
        QTest::newRow("in file order")
            << QByteArray(
                   R"({"data": [{"type": 1, "address": 3, "current": 1.5e-05, "cmp_ref_level": 0.25},
                                        {"type": 0, "address": 1, "current": -2e-06}]})")
            << QStringList{"3 1.5e-05 0.25", "1 -2e-06 0"} << QStringList{};
        QTest::newRow("type must be the number 0 or 1")
            << QByteArray(R"({"data": [{"type": "0", "address": 1}, {"address": 2}, 42, "text",
                                        {"type": 0.5, "address": 3}, {"type": 4, "address": 4},
                                        {"type": 1.0, "address": 5}]})")
            << QStringList{"5 0 0"} << QStringList{};
        QTest::newRow("address that is no whole number")
            << QByteArray(R"({"data": [{"type": 0, "address": "7"}, {"type": 0, "address": 2.5}]})")
            << QStringList{"0 0 0", "0 0 0"} << QStringList{};
        QTest::newRow("values that are no numbers")
            << QByteArray(
                   R"({"data": [{"type": 0, "address": 1, "current": "1e-5", "cmp_ref_level": true},
                                       {"type": 0, "address": 2, "current": null, "cmp_ref_level": [0.1]}]})")
            << QStringList{"1 - -", "2 - -"}
            << QStringList{"Preset for unit 1: current \"1e-5\" is not a number; not restored",
                           "Preset for unit 1: cmp_ref_level true is not a number; not restored",
                           "Preset for unit 2: current null is not a number; not restored",
                           "Preset for unit 2: cmp_ref_level [...] is not a number; not restored"};
        QTest::newRow("values a detector must not get")
            << QByteArray(
                   R"({"data": [{"type": 0, "address": 1, "current": 1, "cmp_ref_level": 0.5},
                                       {"type": 1, "address": 3, "current": -1e-3, "cmp_ref_level": 50}]})")
            << QStringList{"1 - 0.5", "3 -0.001 -"}
            << QStringList{
                   "Preset for unit 1: current 1 A is outside -0.001 to 0.001 A; not restored",
                   "Preset for unit 3: cmp_ref_level 50 V is outside -3 to 3 V; not restored"};
        QTest::newRow("data not an array") << QByteArray(R"({"data": {"type": 0, "address": 1}})")
                                           << QStringList{} << QStringList{};
        for (const char* refused :
             {"", R"({"data": [{"type": 0, "address": 1})", R"({"presets": {"data": []}})"})
            QTest::addRow("refused: %s", refused)
                << QByteArray(refused) << QStringList{} << QStringList{};
    }
    void presetChannels()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, channels);
        QFETCH(QStringList, refusals);
        const PresetFileContent content = readPresetFile(file);
        const bool refused = QByteArray(QTest::currentDataTag()).startsWith("refused");
        QCOMPARE(content.error, refused ? "Wrong data. Missed \"data\" member." : QString());
        QCOMPARE(described(content.channels), channels);
        QCOMPARE(content.refusals, refusals);
    }

    void countCurvePlateau_data()
    {
        QTest::addColumn<Detector>("detector");
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<double>("limit");
        QTest::newRow("noiseless") << Detector{} << 0u << 100.0;
        QTest::newRow("noise") << Detector{} << 11u << 100.0;
        QTest::newRow("small wire, soft dark rise")
            << Detector{10e-6, 20000, 5e-6, 0.5e-6, 3e4, 0.4e-6} << 13u << 100.0;
        QTest::newRow("generous limit") << Detector{} << 14u << 2000.0;
    }
    void countCurvePlateau()
    {
        QFETCH(Detector, detector);
        QFETCH(quint32, seed);
        QFETCH(double, limit);
        const Analysis a = analyse(curveOf(detector, seed), detector.switching, {limit, 0.1});
        QVERIFY2(a.plateauReached && a.halfRateBias && a.recommendedBias, qPrintable(a.note));
        QVERIFY(qAbs(*a.halfRateBias - detector.centre) < 0.03 * detector.centre);
        const double bias = *a.recommendedBias;
        QVERIFY(bias <= 0.95 * detector.switching);
        QVERIFY(detector.dark(bias) <= limit);
        QVERIFY(detector.efficiency(bias) >= 0.9);
        // Not needlessly low: the dark counts there are within a decade and a half of it.
        QVERIFY(detector.dark(bias) > limit / 30 || bias >= 0.95 * detector.switching - 1e-12);
        QVERIFY(qAbs(a.expectedRate - detector.rate(bias)) < 0.05 * detector.rate(bias));
    }

    void countCurveWithoutRecommendation()
    {
        // Efficiency still rising at I_sw; dark counts before the plateau; too few readings.
        quint32 seed = 21;
        for (const Detector& d : {Detector{22e-6, 8000, 24e-6, 2.5e-6, 1e4, 0.5e-6},
                                  Detector{25e-6, 8000, 21e-6, 1.5e-6, 1e6, 0.8e-6}}) {
            const Analysis a = analyse(curveOf(d, seed++), d.switching, {});
            QVERIFY(!a.plateauReached && !a.recommendedBias && !a.note.isEmpty());
        }
        const Analysis few = analyse(curveOf(Detector{}, 0).mid(0, 5), 25e-6, {});
        QVERIFY(!few.fitted && !few.recommendedBias && !few.note.isEmpty());
        // A latch cuts the curve short: the dark rise is seen before it at 24.2 uA, but hides
        // in the counting noise of 0.1 s readings below 21 uA.
        for (double latch : {24.2e-6, 21e-6}) {
            const Detector d;
            QList<Point> cut;
            for (const Point& p : curveOf(d, 31)) {
                cut.append(p.bias >= latch ? Point{p.bias, 0, true} : p);
                if (p.bias >= latch)
                    break;
            }
            const Analysis a = analyse(cut, d.switching, {100, 0.1});
            QVERIFY(a.plateauReached);
            QCOMPARE(bool(a.recommendedBias), latch > 22e-6);
            if (a.recommendedBias)
                QVERIFY(*a.recommendedBias <= 0.95 * cut.last().bias &&
                        d.dark(*a.recommendedBias) <= 100);
            else
                QVERIFY(a.note.contains("time constant"));
        }
    }
};

QTEST_GUILESS_MAIN(TestEngineInputs)
#include "tst_engineinputs.moc"
