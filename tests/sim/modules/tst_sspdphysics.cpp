// The SSPD detector model on its own, on a manual clock with a fixed seed: counts against
// bias and trigger level, latching and hysteresis, the gated Poisson counter, the auto-reset
// system, the HF mode and the keys of a rack description.
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
constexpr SspdPhysics::Chain Operating{false, true, true, true, false};
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
        physics->setChain(Operating);
        physics->setTrigger(50 * mV);
        physics->setTimeConstant(0.1);
    }

    void countsRiseWithBiasBelowTheSwitch()
    {
        double previous = -1;
        for (double bias = 2 * uA; bias < 25 * uA; bias += 2 * uA) {
            physics->setBias(bias);
            QVERIFY2(physics->countRate() > previous, qPrintable(QString::number(bias)));
            previous = physics->countRate();
        }
        physics->setBias(2 * uA);
        QVERIFY(physics->countRate() < 1.0);
        // On the efficiency plateau the photon counts dominate: about 0.8 x 1e4 per second.
        physics->setBias(22 * uA);
        QVERIFY(physics->countRate() > 6000 && physics->countRate() < 10000);
        // Without photons, the dark counts rise steeply near the switch.
        QString error;
        QVERIFY(physics->configure({{"photonRate", 0.0}}, &error));
        physics->setBias(20 * uA);
        const double far = physics->countRate();
        physics->setBias(24.8 * uA);
        QVERIFY(far < 10 && physics->countRate() > 1000 * qMax(far, 1e-3));
    }

    // Up and down in 1 uA steps: it switches at 25 uA and recovers below 5 uA, either sign.
    void latchesAboveTheSwitchAndRetrapsBelowRetrapping()
    {
        double switchedAt = 0, recoveredAt = 0;
        for (int step = 0; step <= 30; ++step) {
            physics->setBias((step + 0.5) * uA);
            if (switchedAt == 0 && physics->voltage() > 0.1)
                switchedAt = step + 0.5;
            QCOMPARE(physics->latched(), physics->voltage() > 0.1);
            QVERIFY(physics->latched() ? physics->countRate() == 0 : physics->voltage() < 5 * mV);
        }
        QCOMPARE(nextWindowCounts(), 0.0);
        for (int step = 30; step >= 0; --step) {
            physics->setBias((step + 0.5) * uA);
            if (recoveredAt == 0 && physics->voltage() < 0.1)
                recoveredAt = step + 0.5;
        }
        QCOMPARE(switchedAt, 25.5);
        QCOMPARE(recoveredAt, 4.5);
        physics->setBias(20 * uA);
        QVERIFY(!physics->latched() && nextWindowCounts() > 100);
        physics->setBias(-26 * uA);
        QVERIFY(physics->voltage() < -0.1);
        physics->setBias(-20 * uA);
        QVERIFY(physics->latched());
        physics->setBias(-3 * uA);
        QVERIFY(!physics->latched() && physics->voltage() < 0 && physics->voltage() > -1 * mV);
        // Shorting the output retraps the wire as well.
        physics->setBias(30 * uA);
        physics->setChain({true, true, true, true, false});
        QVERIFY(!physics->latched());
        QCOMPARE(physics->voltage(), 0.0);
        QCOMPARE(physics->countRate(), 0.0);
    }

    void triggerSweepShowsAPlateau()
    {
        physics->setBias(20 * uA); // pulses of about 0.4 V
        physics->setTrigger(1 * mV);
        const double noise = physics->countRate();
        QList<double> plateau;
        for (double level : {20 * mV, 50 * mV, 100 * mV, 200 * mV}) {
            physics->setTrigger(level);
            plateau << physics->countRate();
        }
        for (double rate : plateau)
            QVERIFY(std::abs(rate - plateau.first()) < 0.1 * plateau.first());
        QVERIFY(noise > 100 * plateau.first() && noise > 1e6);
        physics->setTrigger(0.8);
        QVERIFY(physics->countRate() < 1e-3);
        // Pulse heights grow with bias: mean 0.26 V at 13 uA, 0.44 V at 22 uA.
        QVERIFY(physics->pulseFraction(22 * uA, 0.3) > 0.99);
        QVERIFY(physics->pulseFraction(13 * uA, 0.3) < 0.2);
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
        env->advance(49);
        QCOMPARE(physics->counts(), before); // nothing completed yet
        env->advance(1);                     // the mixed window completes
        QVERIFY(physics->counts() < before && physics->counts() > rateAfter * 0.1);
        env->advance(100);
        QVERIFY(std::abs(physics->counts() - rateAfter * 0.1) < 6 * std::sqrt(rateAfter * 0.1) + 1);
        // A new time constant starts a fresh window.
        physics->setTimeConstant(1.0);
        QCOMPARE(physics->counts(), 0.0);
        env->advance(999);
        QCOMPARE(physics->counts(), 0.0);
        env->advance(1);
        QVERIFY(std::abs(physics->counts() - rateAfter) < 6 * std::sqrt(rateAfter));
        // Whole counts with a Poisson spread.
        physics->setTimeConstant(0.1);
        physics->setBias(12 * uA);
        const double mean = physics->countRate() * 0.1;
        double sum = 0, squares = 0;
        for (int i = 0; i < 200; ++i) {
            env->advance(100);
            const double c = physics->counts();
            QCOMPARE(c, std::floor(c));
            sum += c;
            squares += c * c;
        }
        const double variance = squares / 200 - (sum / 200) * (sum / 200);
        QVERIFY(std::abs(sum / 200 - mean) < 0.1 * mean);
        QVERIFY(variance > 0.5 * mean && variance < 1.6 * mean);
    }

    void autoResetReleasesALatchedChannel()
    {
        physics->setBias(30 * uA);
        physics->setBias(10 * uA); // latched, about 0.6 V
        physics->setAutoReset(false, 0.2, 0.3);
        env->advance(1000);
        QVERIFY(physics->latched());
        physics->setAutoReset(true, 1.0, 0.3); // threshold above the latched voltage
        env->advance(1000);
        QVERIFY(physics->latched());
        physics->setAutoReset(true, 0.2, 0.3);
        env->advance(299);
        QCOMPARE(physics->autoResetCount(), 0u);
        env->advance(1);
        QVERIFY(!physics->latched());
        QCOMPARE(physics->autoResetCount(), 1u);
        // Above the switch it resets again and again; the bias brought down, it recovers.
        physics->setBias(30 * uA);
        env->advance(2000); // resets every 0.3 s
        QVERIFY(physics->latched());
        QCOMPARE(physics->autoResetCount(), 7u);
        physics->setBias(10 * uA);
        env->advance(400);
        QVERIFY(!physics->latched());
        QCOMPARE(physics->autoResetCount(), 8u);
    }

    void hfModeRaisesTheNoise()
    {
        physics->setBias(0);
        physics->setTrigger(10 * mV);
        const double normal = physics->countRate();
        physics->setChain({false, true, true, true, true});
        QVERIFY(physics->countRate() > 100 * qMax(normal, 1.0));
        SspdPhysics noHf(env.get(), false);
        noHf.setChain({false, true, true, true, true});
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
        QVERIFY(!physics->latched() && physics->countRate() > 5e4);
        physics->setBias(13 * uA);
        QVERIFY(physics->latched());
    }
};

QTEST_GUILESS_MAIN(TestSspdPhysics)
#include "tst_sspdphysics.moc"
