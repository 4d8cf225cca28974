// The SSPD detector model on its own: counts against bias and trigger level, latching and
// hysteresis, the read-out chain, the gated Poisson counter and the auto-reset system, all
// on a manual clock with a fixed seed.
#include "core/simenvironment.h"
#include "modules/sspdphysics.h"

#include <QJsonObject>
#include <QTest>
#include <cmath>
#include <memory>

namespace {
constexpr double uA = 1e-6;
constexpr double mV = 1e-3;

// Read-out chain fully on, output not shorted.
SspdPhysics::Chain operating(bool hfMode = false)
{
    return SspdPhysics::Chain{false, true, true, true, hfMode};
}
} // namespace

class TestSspdPhysics : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimEnvironment> env;
    std::unique_ptr<SspdPhysics> physics;

    // Counts of the first full gate window (100 ms) from now.
    double nextWindowCounts()
    {
        env->advance(200);
        return physics->counts();
    }

private slots:
    void init()
    {
        env = std::make_unique<SimEnvironment>(11);
        env->useManualClock(0);
        physics = std::make_unique<SspdPhysics>(env.get(), true);
        physics->setChain(operating());
        physics->setTrigger(50 * mV);
        physics->setTimeConstant(0.1);
    }

    void countsRiseWithBiasBelowTheSwitch()
    {
        double previous = -1;
        for (double bias = 2 * uA; bias < 25 * uA; bias += 2 * uA) {
            physics->setBias(bias);
            const double rate = physics->countRate();
            QVERIFY2(rate > previous, qPrintable(QString::number(bias)));
            previous = rate;
        }
        physics->setBias(2 * uA);
        QVERIFY(physics->countRate() < 1.0);
        // On the efficiency plateau the photon counts dominate: about 0.8 x 1e4 per second.
        physics->setBias(22 * uA);
        QVERIFY(physics->countRate() > 6000 && physics->countRate() < 10000);
    }

    void darkCountsRiseSteeplyNearTheSwitch()
    {
        QString error;
        QVERIFY(physics->configure({{"photonRate", 0.0}}, &error));
        physics->setBias(20 * uA);
        const double far = physics->countRate();
        physics->setBias(24.8 * uA);
        const double near = physics->countRate();
        QVERIFY(far < 10);
        QVERIFY(near > 1000 * qMax(far, 1e-3));
        QVERIFY(nextWindowCounts() > 300);
    }

    void latchesAboveTheSwitchAndRetrapsBelowRetrapping()
    {
        physics->setBias(24 * uA);
        QVERIFY(!physics->latched());
        QVERIFY(std::abs(physics->voltage()) < 5 * mV);
        QVERIFY(physics->countRate() > 0);

        physics->setBias(26 * uA);
        QVERIFY(physics->latched());
        QVERIFY(physics->voltage() > 0.1);
        QCOMPARE(physics->countRate(), 0.0);
        QCOMPARE(nextWindowCounts(), 0.0);

        // Hysteresis: far below the switch it stays resistive, still far above 0.1 V.
        for (double bias : {20 * uA, 12 * uA, 6 * uA}) {
            physics->setBias(bias);
            QVERIFY(physics->latched());
            QVERIFY(physics->voltage() > 0.1);
            QCOMPARE(physics->countRate(), 0.0);
        }

        physics->setBias(4 * uA);
        QVERIFY(!physics->latched());
        QVERIFY(std::abs(physics->voltage()) < 1 * mV);
        physics->setBias(20 * uA);
        QVERIFY(!physics->latched());
        QVERIFY(nextWindowCounts() > 100);
    }

    void ivSweepShowsTheSwitchAndTheHysteresis()
    {
        // Up and down in 1 uA steps between the whole numbers; the switch shows at the first
        // voltage above 0.1 V going up and the recovery at the first below going down.
        double switchedAt = 0;
        for (int step = 0; step <= 30; ++step) {
            physics->setBias((step + 0.5) * uA);
            if (switchedAt == 0 && physics->voltage() > 0.1)
                switchedAt = step + 0.5;
        }
        double recoveredAt = 0;
        for (int step = 30; step >= 0; --step) {
            physics->setBias((step + 0.5) * uA);
            if (recoveredAt == 0 && physics->voltage() < 0.1)
                recoveredAt = step + 0.5;
        }
        QCOMPARE(switchedAt, 25.5);
        QCOMPARE(recoveredAt, 4.5);

        physics->setBias(-26 * uA);
        QVERIFY(physics->voltage() < -0.1);
        physics->setBias(-20 * uA);
        QVERIFY(physics->latched());
        physics->setBias(-3 * uA);
        QVERIFY(!physics->latched());
        QVERIFY(physics->voltage() < 0 && physics->voltage() > -1 * mV);
    }

    void shortingRetrapsTheWire()
    {
        physics->setBias(30 * uA);
        QVERIFY(physics->latched());
        SspdPhysics::Chain chain = operating();
        chain.shorted = true;
        physics->setChain(chain);
        QVERIFY(!physics->latched());
        QCOMPARE(physics->voltage(), 0.0);
        QCOMPARE(physics->countRate(), 0.0);
        physics->setBias(20 * uA);
        physics->setChain(operating());
        QVERIFY(!physics->latched());
        QVERIFY(physics->countRate() > 1000);
    }

    void triggerSweepShowsAPlateau()
    {
        physics->setBias(20 * uA); // pulses of about 0.4 V
        physics->setTrigger(1 * mV);
        const double noise = physics->countRate();
        QVERIFY(noise > 1e6);

        QList<double> plateau;
        for (double level : {20 * mV, 50 * mV, 100 * mV, 200 * mV}) {
            physics->setTrigger(level);
            plateau << physics->countRate();
        }
        for (double rate : plateau)
            QVERIFY(std::abs(rate - plateau.first()) < 0.1 * plateau.first());
        QVERIFY(noise > 100 * plateau.first());

        physics->setTrigger(0.8);
        QVERIFY(physics->countRate() < 1e-3);
        QCOMPARE(nextWindowCounts(), 0.0);
    }

    void pulseHeightsGrowWithBias()
    {
        physics->setTrigger(0.3);
        physics->setBias(13 * uA); // mean 0.26 V: most pulses below the level
        const double low = physics->countRate();
        physics->setBias(22 * uA); // mean 0.44 V: nearly all above
        const double high = physics->countRate();
        QVERIFY(high > 5 * low);
        QVERIFY(physics->pulseFraction(22 * uA, 0.3) > 0.99);
        QVERIFY(physics->pulseFraction(13 * uA, 0.3) < 0.2);
    }

    void noCountsWithoutTheWholeReadOutChain_data()
    {
        QTest::addColumn<int>("which");
        QTest::newRow("shorted") << 0;
        QTest::newRow("amplifier off") << 1;
        QTest::newRow("comparator off") << 2;
        QTest::newRow("counter off") << 3;
    }
    void noCountsWithoutTheWholeReadOutChain()
    {
        QFETCH(int, which);
        physics->setBias(20 * uA);
        QVERIFY(nextWindowCounts() > 100);
        SspdPhysics::Chain chain = operating();
        chain.shorted = which == 0;
        chain.amplifier = which != 1;
        chain.comparator = which != 2;
        chain.counter = which != 3;
        physics->setChain(chain);
        physics->setTrigger(0); // not even noise
        QCOMPARE(physics->countRate(), 0.0);
        QCOMPARE(nextWindowCounts(), 0.0);
    }

    void countsAreThoseOfTheLastCompletedWindow()
    {
        physics->setBias(20 * uA);
        env->advance(1000);
        const double before = physics->counts();
        const double rateBefore = physics->countRate();
        QVERIFY(std::abs(before - rateBefore * 0.1) < 6 * std::sqrt(rateBefore * 0.1));

        env->advance(50); // mid-window
        physics->setBias(10 * uA);
        const double rateAfter = physics->countRate();
        QVERIFY(rateAfter < rateBefore / 4);
        QCOMPARE(physics->counts(), before); // nothing completed yet
        env->advance(49);
        QCOMPARE(physics->counts(), before);
        env->advance(1); // the mixed window completes
        const double mixed = physics->counts();
        QVERIFY(mixed < before);
        QVERIFY(mixed > rateAfter * 0.1);
        env->advance(100); // the first full window after the change
        const double after = physics->counts();
        QVERIFY(std::abs(after - rateAfter * 0.1) < 6 * std::sqrt(rateAfter * 0.1) + 1);
    }

    void windowCountsFollowPoisson()
    {
        physics->setBias(12 * uA);
        const double mean = physics->countRate() * 0.1;
        QVERIFY(mean > 20 && mean < 200);
        double sum = 0, squares = 0;
        const int windows = 200;
        for (int i = 0; i < windows; ++i) {
            env->advance(100);
            const double c = physics->counts();
            QCOMPARE(c, std::floor(c));
            sum += c;
            squares += c * c;
        }
        const double average = sum / windows;
        const double variance = squares / windows - average * average;
        QVERIFY(std::abs(average - mean) < 0.1 * mean);
        QVERIFY(variance > 0.5 * mean && variance < 1.6 * mean);
    }

    void aNewTimeConstantStartsAFreshWindow()
    {
        physics->setBias(20 * uA);
        env->advance(250);
        QVERIFY(physics->counts() > 0);
        physics->setTimeConstant(1.0);
        QCOMPARE(physics->counts(), 0.0);
        env->advance(999);
        QCOMPARE(physics->counts(), 0.0);
        env->advance(1);
        const double expected = physics->countRate();
        QVERIFY(std::abs(physics->counts() - expected) < 6 * std::sqrt(expected));
    }

    void autoResetReleasesALatchedChannel()
    {
        physics->setBias(30 * uA);
        physics->setBias(15 * uA); // latched, about 0.9 V
        QVERIFY(physics->latched());
        physics->setAutoReset(true, 0.2, 0.3);
        env->advance(299);
        QVERIFY(physics->latched());
        QCOMPARE(physics->autoResetCount(), 0u);
        env->advance(1);
        QVERIFY(!physics->latched());
        QCOMPARE(physics->autoResetCount(), 1u);
        QVERIFY(std::abs(physics->voltage()) < 5 * mV);
        env->advance(1000);
        QCOMPARE(physics->autoResetCount(), 1u);
        QVERIFY(physics->counts() > 100);
    }

    void autoResetRepeatsWhileTheBiasIsAboveTheSwitch()
    {
        physics->setAutoReset(true, 0.2, 0.5);
        physics->setBias(30 * uA);
        env->advance(2100);
        QVERIFY(physics->latched());
        QCOMPARE(physics->autoResetCount(), 4u);
        physics->setBias(10 * uA); // the next reset lets it recover
        env->advance(400);
        QVERIFY(!physics->latched());
        QCOMPARE(physics->autoResetCount(), 5u);
    }

    void autoResetNeedsItsThresholdAndItsSwitch()
    {
        physics->setBias(30 * uA);
        physics->setBias(10 * uA); // latched at about 0.6 V
        physics->setAutoReset(false, 0.2, 0.1);
        env->advance(1000);
        QVERIFY(physics->latched());
        physics->setAutoReset(true, 1.0, 0.1); // threshold above the latched voltage
        env->advance(1000);
        QVERIFY(physics->latched());
        QCOMPARE(physics->autoResetCount(), 0u);
        physics->setAutoReset(true, 0.2, 0.1);
        env->advance(100);
        QVERIFY(!physics->latched());
    }

    void hfModeRaisesTheNoise()
    {
        physics->setBias(0);
        physics->setTrigger(10 * mV);
        const double normal = physics->countRate();
        physics->setChain(operating(true));
        QVERIFY(physics->countRate() > 100 * qMax(normal, 1.0));

        SspdPhysics noHf(env.get(), false);
        noHf.setChain(operating(true));
        noHf.setTrigger(10 * mV);
        QCOMPARE(noHf.countRate(), normal);
    }

    void configureChecksItsKeys()
    {
        QString error;
        QVERIFY(!physics->configure({{"switchingCurent", 1e-5}}, &error));
        QVERIFY(error.contains("switchingCurent"));
        QVERIFY(!physics->configure({{"efficiency", 1.5}}, &error));
        QVERIFY(error.contains("efficiency"));
        QVERIFY(!physics->configure({{"darkRate", "many"}}, &error));
        QVERIFY(!physics->configure({{"retrappingCurrent", 30e-6}}, &error));
        QCOMPARE(physics->parameters().retrappingCurrent, 5e-6);
        SspdPhysics noHf(env.get(), false);
        QVERIFY(!noHf.configure({{"hfDeadTime", 1e-8}}, &error));

        // A smaller wire: the current-valued keys follow the switching current.
        QVERIFY(physics->configure({{"switchingCurrent", 12e-6}, {"photonRate", 1e5}}, &error));
        QCOMPARE(physics->parameters().photonRate, 1e5);
        QVERIFY(std::abs(physics->parameters().retrappingCurrent - 2.4e-6) < 1e-12);
        physics->setBias(11 * uA);
        QVERIFY(!physics->latched());
        QVERIFY(physics->countRate() > 5e4);
        physics->setBias(13 * uA);
        QVERIFY(physics->latched());
    }
};

QTEST_GUILESS_MAIN(TestSspdPhysics)
#include "tst_sspdphysics.moc"
