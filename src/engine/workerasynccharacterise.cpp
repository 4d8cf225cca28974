// The screen's side of the detector characterisation: starts and cancels it on the worker
// thread and relays what it reports.
#include "detectorcharacterisation.h"
#include "workerasync.h"
#include "workerprocess.h"

void WorkerAsync::connectCharacterisation()
{
    DetectorCharacterisation* c = m_process->characterisation();
    connect(c, &DetectorCharacterisation::stageChanged, this, &WorkerAsync::characterisationStage);
    connect(c, &DetectorCharacterisation::progressChanged, this,
            &WorkerAsync::characterisationProgress);
    connect(c, &DetectorCharacterisation::pointMeasured, this, &WorkerAsync::characterisationPoint);
    connect(c, &DetectorCharacterisation::finished, this, [this](const QJsonObject& report) {
        emit characterisationFinished(report.toVariantMap());
    });
}

bool WorkerAsync::startCharacterisation(QVariantMap request)
{
    QString problem;
    const std::optional<DetectorCharacterisation::Request> r =
        DetectorCharacterisation::requestFromMap(request, &problem);
    if (!r) {
        emit sendErrorMessage(QStringLiteral("Error"),
                              QStringLiteral("Characterisation not started: %1").arg(problem));
        return false;
    }
    m_process->characterisation()->start(*r);
    return true;
}

void WorkerAsync::cancelCharacterisation(bool restoreBias)
{
    m_process->characterisation()->cancel(restoreBias ? DetectorCharacterisation::BiasPrevious
                                                      : DetectorCharacterisation::BiasZero);
}
