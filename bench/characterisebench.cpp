// The detector characterisation against the simulator's known physics: six SSPD channels
// whose switching currents (10 to 40 uA), efficiency curves and dark count slopes differ,
// one without a plateau, each characterised at a 0.1 s time constant by the engine's worker
// thread against the in-process simulated unit. Per channel it prints the true and measured
// I_sw and I_r, the recommended bias, the true dark count rate and the true efficiency (as a
// share of the detector's maximum) there, and the wall time, and checks the targets:
//   I_sw within 2 % (or one fine step), I_r within 5 %, at the recommendation a true dark
//   rate at or below the limit (100 cps) and at least 90 % of the maximum efficiency, no
//   recommendation without a plateau, under 60 s per channel.
//
// It opens the unit port, so it runs in a network namespace of its own:
//   scripts/netns-run -- build-bench/bench/tavik_characterisebench [SEED]
// SEED (default 17) seeds the simulator's noise.
// Exit status: 0 when every target is met, 3 when one is missed, 1 when something broke.
#include "benchsupport.h"
#include "core/simenvironment.h"
#include "core/simrack.h"
#include "core/simunit.h"
#include "engine/detectorcharacterisation.h"
#include "engine/workerasync.h"
#include "engine/workerprocess.h"
#include "link/eventwait.h"
#include "modules/sspdphysics.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QThread>

#include <cmath>
#include <cstdio>

namespace {

struct Detector
{
    const char* name;
    QJsonObject physics;
    bool plateau;
};

const double DarkLimit = 100;
const double TimeConstant = 0.1;

QList<Detector> detectors()
{
    return {
        {"10 uA, steep",
         {{"switchingCurrent", 10e-6},
          {"retrappingCurrent", 2e-6},
          {"efficiencyCurrent", 6e-6},
          {"efficiencyWidth", 0.5e-6},
          {"darkRate", 3e4},
          {"darkSlope", 0.3e-6},
          {"photonRate", 2e4}},
         true},
        {"18 uA, bright",
         {{"switchingCurrent", 18e-6},
          {"retrappingCurrent", 3e-6},
          {"efficiencyCurrent", 11e-6},
          {"photonRate", 5e4}},
         true},
        {"25 uA, demo",
         {{"switchingCurrent", 25e-6},
          {"retrappingCurrent", 5e-6},
          {"efficiencyCurrent", 15e-6},
          {"efficiencyWidth", 1.5e-6},
          {"darkRate", 1e4},
          {"darkSlope", 0.6e-6}},
         true},
        {"32 uA, soft dark",
         {{"switchingCurrent", 32e-6},
          {"retrappingCurrent", 7e-6},
          {"efficiencyCurrent", 20e-6},
          {"efficiencyWidth", 1.6e-6},
          {"darkRate", 3e4},
          {"darkSlope", 1.2e-6},
          {"efficiency", 0.6}},
         true},
        {"40 uA, wide",
         {{"switchingCurrent", 40e-6},
          {"retrappingCurrent", 10e-6},
          {"efficiencyCurrent", 24e-6},
          {"efficiencyWidth", 3e-6},
          {"darkRate", 5e3},
          {"darkSlope", 0.8e-6},
          {"photonRate", 3e4}},
         true},
        {"22 uA, no plateau",
         {{"switchingCurrent", 22e-6},
          {"retrappingCurrent", 4e-6},
          {"efficiencyCurrent", 24e-6},
          {"efficiencyWidth", 2.5e-6},
          {"darkRate", 1e4},
          {"darkSlope", 0.5e-6}},
         false},
    };
}

SimRack rackOf(const QList<Detector>& list)
{
    SimRack rack;
    for (int i = 0; i < list.size(); ++i) {
        SimRackModule module;
        module.address = quint8(i + 1);
        module.identity.type = QStringLiteral("VX9SDM0");
        module.identity.description = QString::fromLatin1(list.at(i).name);
        module.identity.firmware = QStringLiteral("1.3.2");
        module.identity.hardware = QStringLiteral("2");
        module.identity.modification = QStringLiteral("1");
        module.physics = list.at(i).physics;
        rack.modules.append(module);
    }
    return rack;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (!onlyLoopbackPresent()) {
        std::fprintf(stderr, "tavik_characterisebench: run me in a network namespace of my "
                             "own (scripts/netns-run)\n");
        return 1;
    }
    QLoggingCategory::setFilterRules(QStringLiteral("tavik.sim.info=false"));
    const QList<Detector> list = detectors();
    const quint32 seed = argc > 1 ? QString::fromLocal8Bit(argv[1]).toUInt() : 17;
    SimEnvironment environment(seed ? seed : 17);
    SimUnit unit(&environment);
    QString error;
    if (!rackOf(list).install(&unit, &error) || !unit.start(&error)) {
        std::fprintf(stderr, "tavik_characterisebench: simulated unit: %s\n", qPrintable(error));
        return 1;
    }

    QThread thread;
    auto* process = new WorkerProcess;
    process->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, process, &QObject::deleteLater);
    thread.start();
    QMetaObject::invokeMethod(process, &WorkerProcess::runProcess, Qt::QueuedConnection);
    bool connected = false;
    QObject::connect(process, &WorkerProcess::connected, &app, [&] { connected = true; });
    process->addCommand(WorkerAsync::CommandConnect, QStringLiteral("127.0.0.1"));
    if (!cuWaitForEvents([&] { return connected; }, 10000)) {
        std::fprintf(stderr, "tavik_characterisebench: the worker did not connect\n");
        return 1;
    }

    std::printf("Characterisation at a %.1f s time constant, dark limit %.0f cps\n", TimeConstant,
                DarkLimit);
    std::printf("%-18s %8s %8s %7s %7s %7s %9s %9s %8s %6s  %s\n", "detector", "Isw true",
                "Isw meas", "Ir true", "Ir meas", "plateau", "rec bias", "dark@rec", "eff@rec",
                "time", "targets");
    std::printf("%-18s %8s %8s %7s %7s %7s %9s %9s %8s %6s\n", "", "uA", "uA", "uA", "uA", "", "uA",
                "cps", "of max", "s");
    bool allMet = true;
    DetectorCharacterisation* procedure = process->characterisation();
    for (int i = 0; i < list.size(); ++i) {
        const Detector& d = list.at(i);
        SspdPhysics truth(&environment, false);
        truth.configure(d.physics, &error);
        const SspdPhysics::Parameters& p = truth.parameters();

        DetectorCharacterisation::Request request;
        request.address = i + 1;
        request.timeConstant = TimeConstant;
        request.trigger = 0.03;
        request.darkLimit = DarkLimit;
        QJsonObject report;
        bool done = false;
        const QMetaObject::Connection c = QObject::connect(
            procedure, &DetectorCharacterisation::finished, &app, [&](const QJsonObject& r) {
                report = r;
                done = true;
            });
        QElapsedTimer wall;
        wall.start();
        procedure->start(request);
        cuWaitForEvents([&] { return done; }, 300000);
        const double seconds = wall.elapsed() / 1000.0;
        QObject::disconnect(c);
        if (!done || report.value("outcome").toString() != QLatin1String("complete")) {
            std::printf("%-18s failed: %s\n", d.name, qPrintable(report.value("error").toString()));
            allMet = false;
            continue;
        }
        const double isw = report.value("switching_current_A").toDouble();
        const double ir = report.value("retrapping_current_A").toDouble();
        const bool plateau = report.value("plateau_reached").toBool();
        const QJsonValue rec = report.value("recommended_bias_A");
        QStringList missed;
        if (std::abs(isw - p.switchingCurrent) >
            std::max(0.02 * p.switchingCurrent, request.fineStep))
            missed << "I_sw";
        if (std::abs(ir - p.retrappingCurrent) > 0.05 * p.retrappingCurrent)
            missed << "I_r";
        double dark = 0, share = 0;
        if (rec.isDouble()) {
            dark = truth.darkRate(rec.toDouble());
            share = truth.efficiency(rec.toDouble()) / p.efficiency;
            if (!d.plateau)
                missed << "recommended without plateau";
            if (dark > DarkLimit)
                missed << "dark";
            if (share < 0.9)
                missed << "efficiency";
        } else if (d.plateau) {
            missed << "no recommendation";
        }
        if (seconds >= 60)
            missed << "time";
        allMet = allMet && missed.isEmpty();
        std::printf("%-18s %8.3f %8.3f %7.3f %7.3f %7s %9s %9s %8s %6.1f  %s\n", d.name,
                    p.switchingCurrent * 1e6, isw * 1e6, p.retrappingCurrent * 1e6, ir * 1e6,
                    plateau ? "yes" : "no",
                    rec.isDouble() ? qPrintable(QString::number(rec.toDouble() * 1e6, 'f', 3))
                                   : "none",
                    rec.isDouble() ? qPrintable(QString::number(dark, 'f', 1)) : "-",
                    rec.isDouble() ? qPrintable(QString::number(share * 100, 'f', 1) + " %") : "-",
                    seconds, missed.isEmpty() ? "met" : qPrintable("missed: " + missed.join(", ")));
        std::fflush(stdout);
    }
    thread.requestInterruption();
    thread.quit();
    thread.wait();
    std::printf("%s\n", allMet ? "all targets met" : "targets missed");
    return allMet ? 0 : 3;
}
