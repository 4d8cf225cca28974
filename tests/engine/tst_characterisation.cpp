// The characterisation of an SSPD channel against the simulated demo unit: its results
// against the simulator's own physics, and a cancel in each stage leaving the bias safe.
#include "engine/detectorcharacterisation.h"
#include "modules/simsspdm0.h"
#include "workertestsupport.h"

#include <QSignalSpy>
#include <QTest>

using Characterisation = DetectorCharacterisation;

class TestCharacterisation : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimulatedUnit> sim;
    std::unique_ptr<WorkerHarness> worker;

    SspdPhysics& physics(int address)
    {
        return static_cast<SimSspdM0*>(sim->unit.module(quint8(address)))->physics();
    }
    Characterisation* procedure() { return worker->process->characterisation(); }

    static Characterisation::Request request(int address, double tau)
    {
        Characterisation::Request r;
        r.address = address;
        r.timeConstant = tau;
        r.trigger = 0.05;
        r.settleMs = 5;
        return r;
    }

private slots:
    void init()
    {
        sim = std::make_unique<SimulatedUnit>();
        QVERIFY(sim->installed);
        worker = std::make_unique<WorkerHarness>();
        QVERIFY(worker->connectToUnit());
    }
    void cleanup()
    {
        worker.reset();
        sim.reset();
    }

    void withinTargets_data()
    {
        QTest::addColumn<int>("address");
        QTest::addColumn<double>("tau");
        QTest::addColumn<bool>("apply");
        QTest::newRow("channel A, 25 uA") << 1 << 0.05 << false;
        QTest::newRow("channel B, 18 uA, applied") << 2 << 0.02 << true;
    }
    void withinTargets()
    {
        QFETCH(int, address);
        QFETCH(double, tau);
        QFETCH(bool, apply);
        Characterisation::Request r = request(address, tau);
        r.afterwards = apply ? Characterisation::BiasRecommended : Characterisation::BiasZero;
        QSignalSpy finished(procedure(), &Characterisation::finished);
        QSignalSpy points(procedure(), &Characterisation::pointMeasured);
        procedure()->start(r);
        QVERIFY(finished.wait(60000));
        const QJsonObject report = finished.first().first().toJsonObject();
        QCOMPARE(report.value("outcome").toString(), QString("complete"));

        const SspdPhysics::Parameters& truth = physics(address).parameters();
        const double isw = report.value("switching_current_A").toDouble();
        const double ir = report.value("retrapping_current_A").toDouble();
        QVERIFY2(qAbs(isw - truth.switchingCurrent) <=
                     qMax(0.02 * truth.switchingCurrent, r.fineStep),
                 qPrintable(QString::number(isw)));
        QVERIFY2(qAbs(ir - truth.retrappingCurrent) <= 0.05 * truth.retrappingCurrent,
                 qPrintable(QString::number(ir)));
        QVERIFY(report.value("plateau_reached").toBool());
        const double bias = report.value("recommended_bias_A").toDouble();
        QVERIFY2(bias > 0, qPrintable(report.value("note").toString()));
        QVERIFY(physics(address).darkRate(bias) <= 100);
        QVERIFY(physics(address).efficiency(bias) >= 0.9 * truth.efficiency);
        QVERIFY(report.value("points").toArray().size() >= 40);
        QCOMPARE(points.size(), report.value("points").toArray().size());
        // Left operating, at the recommendation or at zero, and superconducting.
        QCOMPARE(physics(address).bias(), apply ? double(float(bias)) : 0.0);
        QVERIFY(!physics(address).latched());
        QCOMPARE(report.value("applied").toBool(), apply);
    }

    void cancelLeavesBiasSafe_data()
    {
        QTest::addColumn<int>("stage");
        QTest::addColumn<bool>("restore");
        for (int stage :
             {int(Characterisation::StageSwitching), int(Characterisation::StageRetrapping),
              int(Characterisation::StageCurve)}) {
            const char* name = QMetaEnum::fromType<Characterisation::Stage>().valueToKey(stage);
            QTest::addRow("%s, to zero", name) << stage << false;
            QTest::addRow("%s, as before", name) << stage << true;
        }
    }
    void cancelLeavesBiasSafe()
    {
        QFETCH(int, stage);
        QFETCH(bool, restore);
        const double before = 7e-6;
        worker->command(WorkerAsync::CommandFreeStyle, QVariantList{1, "current", before});
        QVERIFY(waitUntil([&] { return qAbs(physics(1).bias() - before) < 1e-9; }));

        QSignalSpy finished(procedure(), &Characterisation::finished);
        connect(procedure(), &Characterisation::stageChanged, this, [&](int reached) {
            if (reached == stage)
                procedure()->cancel(restore ? Characterisation::BiasPrevious
                                            : Characterisation::BiasZero);
        });
        procedure()->start(request(1, 0.02));
        QVERIFY(finished.wait(30000));
        const QJsonObject report = finished.first().first().toJsonObject();
        QCOMPARE(report.value("outcome").toString(), QString("cancelled"));
        QCOMPARE(report.value("cancelled_in").toString(),
                 QString(QMetaEnum::fromType<Characterisation::Stage>().valueToKey(stage)));
        // As before means as the module read it before, within its current noise.
        QVERIFY(qAbs(physics(1).bias() - (restore ? before : 0.0)) < 5e-9);
        QVERIFY(!physics(1).latched());
    }
};

QTEST_GUILESS_MAIN(TestCharacterisation)
#include "tst_characterisation.moc"
