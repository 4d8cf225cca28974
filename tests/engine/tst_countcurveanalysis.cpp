// The count curve analysis on synthetic curves with counting noise: a plateau, none, a
// latch that cuts the curve short, and the dark limit.
#include "engine/countcurveanalysis.h"

#include <QRandomGenerator>
#include <QTest>
#include <cmath>

using namespace CountCurveAnalysis;

namespace {

// A detector as the simulator models it: a logistic efficiency rise and dark counts that
// grow e-fold per darkSlope up to darkRate at I_sw.
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

// Readings at tau seconds each, from 0.3 I_sw to just below it; seed 0 means no noise.
QList<Point> curveOf(const Detector& d, quint32 seed, double tau = 0.1, int count = 80)
{
    QRandomGenerator random(seed);
    QList<Point> points;
    const double from = 0.3 * d.switching;
    const double to = 0.998 * d.switching;
    for (int i = 0; i < count; ++i) {
        const double bias = from + (to - from) * i / (count - 1);
        double cps = d.rate(bias);
        if (seed) {
            // Normal approximation of the Poisson counts, as the readings would scatter.
            const double counts = cps * tau;
            const double u1 = std::max(random.generateDouble(), 1e-12);
            const double u2 = random.generateDouble();
            const double z = std::sqrt(-2 * std::log(u1)) * std::cos(2 * M_PI * u2);
            cps = std::max(0.0, std::round(counts + z * std::sqrt(counts))) / tau;
        }
        points.append({bias, cps, false});
    }
    return points;
}

} // namespace

Q_DECLARE_METATYPE(Detector)

class TestCountCurveAnalysis : public QObject
{
    Q_OBJECT

private slots:
    void plateau_data()
    {
        QTest::addColumn<Detector>("detector");
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<double>("limit");
        QTest::newRow("noiseless") << Detector{} << 0u << 100.0;
        QTest::newRow("noise") << Detector{} << 11u << 100.0;
        QTest::newRow("noise, other draw") << Detector{} << 12u << 100.0;
        QTest::newRow("small wire, soft dark rise")
            << Detector{10e-6, 20000, 5e-6, 0.5e-6, 3e4, 0.4e-6} << 13u << 100.0;
        QTest::newRow("generous limit") << Detector{} << 14u << 2000.0;
    }
    void plateau()
    {
        QFETCH(Detector, detector);
        QFETCH(quint32, seed);
        QFETCH(double, limit);
        const Analysis a = analyse(curveOf(detector, seed), detector.switching, {limit, 0.1});
        QVERIFY2(a.plateauReached, qPrintable(a.note));
        QVERIFY(a.halfRateBias);
        QVERIFY(qAbs(*a.halfRateBias - detector.centre) < 0.03 * detector.centre);
        QVERIFY2(a.recommendedBias, qPrintable(a.note));
        const double bias = *a.recommendedBias;
        QVERIFY(bias <= 0.95 * detector.switching);
        QVERIFY2(detector.dark(bias) <= limit, qPrintable(QString::number(detector.dark(bias))));
        QVERIFY(detector.efficiency(bias) >= 0.9);
        // Not needlessly low: the dark counts there are within a decade and a half of it.
        QVERIFY(detector.dark(bias) > limit / 30 || bias >= 0.95 * detector.switching - 1e-12);
        QVERIFY(qAbs(a.expectedRate - detector.rate(bias)) < 0.05 * detector.rate(bias));
    }

    void noPlateau_data()
    {
        QTest::addColumn<Detector>("detector");
        QTest::addColumn<quint32>("seed");
        QTest::newRow("efficiency still rising at I_sw")
            << Detector{22e-6, 8000, 24e-6, 2.5e-6, 1e4, 0.5e-6} << 21u;
        QTest::newRow("rising, noiseless")
            << Detector{22e-6, 8000, 24e-6, 2.5e-6, 1e4, 0.5e-6} << 0u;
        QTest::newRow("dark counts before the plateau")
            << Detector{25e-6, 8000, 21e-6, 1.5e-6, 1e6, 0.8e-6} << 22u;
    }
    void noPlateau()
    {
        QFETCH(Detector, detector);
        QFETCH(quint32, seed);
        const Analysis a = analyse(curveOf(detector, seed), detector.switching, {});
        QVERIFY(!a.plateauReached);
        QVERIFY(!a.recommendedBias);
        QVERIFY(!a.note.isEmpty());
    }

    void latchCutsTheCurve_data()
    {
        QTest::addColumn<double>("latch");
        QTest::addColumn<double>("tau");
        QTest::addColumn<bool>("recommends");
        QTest::newRow("dark rise seen before the latch") << 24.2e-6 << 0.1 << true;
        // Below 21 uA the dark counts hide in the counting noise of 0.1 s readings.
        QTest::newRow("dark counts hidden in the noise") << 21e-6 << 0.1 << false;
    }
    void latchCutsTheCurve()
    {
        QFETCH(double, latch);
        QFETCH(double, tau);
        QFETCH(bool, recommends);
        const Detector d;
        QList<Point> cut;
        for (const Point& p : curveOf(d, 31, tau)) {
            if (p.bias >= latch) {
                cut.append({p.bias, 0, true});
                break;
            }
            cut.append(p);
        }
        const Analysis a = analyse(cut, d.switching, {100, tau});
        QVERIFY(a.plateauReached);
        QCOMPARE(bool(a.recommendedBias), recommends);
        if (recommends) {
            QVERIFY(*a.recommendedBias <= 0.95 * cut.last().bias);
            QVERIFY(d.dark(*a.recommendedBias) <= 100);
        } else {
            QVERIFY(a.note.contains("time constant"));
        }
    }

    void tooFewReadings()
    {
        const Analysis a = analyse(curveOf(Detector{}, 0).mid(0, 5), 25e-6, {});
        QVERIFY(!a.fitted);
        QVERIFY(!a.recommendedBias);
        QVERIFY(!a.note.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCountCurveAnalysis)
#include "tst_countcurveanalysis.moc"
