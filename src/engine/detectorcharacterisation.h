#pragma once
// The characterisation of one SSPD channel, run by the worker thread's loop one short step
// at a time: the switching and retrapping currents, the count curve below the switching
// current and its analysis, with the bias left where the user asked. Any thread may start
// or cancel it; what it finds comes back by queued signals, the report as JSON.
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QMutex>
#include <QObject>
#include <QVariantMap>
#include <atomic>
#include <functional>
#include <optional>

class DriverHelper;
class WorkerProcess;

class DetectorCharacterisation : public QObject
{
    Q_OBJECT
public:
    enum Stage {
        StageIdle,
        StagePreparing,
        StageSwitching,
        StageRetrapping,
        StageCurve,
        StageAnalysis,
        StageDone
    };
    Q_ENUM(Stage)
    // Where the bias goes when the procedure ends or is cancelled.
    enum BiasAfter { BiasZero, BiasPrevious, BiasRecommended };
    Q_ENUM(BiasAfter)

    struct Request
    {
        int address = 0;
        std::optional<double> timeConstant; // s; else the module's own
        std::optional<double> trigger;      // V; else the module's own
        double darkLimit = 100;             // cps
        double startShare = 0.3;            // the curve starts at this share of I_sw
        int points = 80;                    // of the curve, at least 40
        double coarseStep = 1e-6;           // A
        double fineStep = 0.05e-6;          // A
        double maxBias = 100e-6;            // A: a wire that has not switched here is refused
        BiasAfter afterwards = BiasZero;    // BiasRecommended applies the recommendation
        int settleMs = 20;                  // after each bias change, before a reading
    };

    // From a map with the keys "address", "time_constant", "trigger", "dark_limit",
    // "start_share", "points", "apply" (bool); absent keys keep the defaults. Empty
    // optional with the reason when a value is out of range.
    static std::optional<Request> requestFromMap(const QVariantMap& map, QString* error);

    explicit DetectorCharacterisation(WorkerProcess* process);

    // Any thread. A start while one runs is refused (finished() with "failed").
    void start(const Request& request);
    // Any thread: ends the run at its next step, the bias at 0 or where it was before.
    void cancel(BiasAfter bias);

    // Worker thread, from the loop: whether the procedure has the channel (the loop then
    // does nothing else), how long until its next step is due, and that step.
    bool active() const { return m_active.load(); }
    int msUntilDue() const;
    void step();

signals:
    void stageChanged(int stage, QString text);
    void progressChanged(double percent);
    // One point of the count curve as it is measured.
    void pointMeasured(double bias, double cps, bool latched);
    // The report (see reportJson in the source); "outcome" is "complete", "cancelled" or
    // "failed".
    void finished(QJsonObject report);

private:
    struct Reading
    {
        bool ok = false;
        double current = 0;
        double voltage = 0;
        double cps = 0;
    };

    void wake();
    void begin();
    void measureBaseline();
    void coarseRead();
    void fineRead();
    void retrapTrial();
    void retrapRead(double trial);
    void curveStart();
    void curveRead();
    void analyseCurve();
    void end(const QString& outcome, const QString& error, BiasAfter bias);
    void fail(const QString& error) { end(QStringLiteral("failed"), error, BiasZero); }

    DriverHelper* helper();
    bool setBias(double amperes);
    Reading read();
    bool switched(const Reading& reading) const;
    void noteSuperconducting(const Reading& reading);
    void then(int ms, std::function<void()> next);
    void enterStage(Stage stage, const QString& text, double percent);

    WorkerProcess* m_process;
    DriverHelper* m_helper = nullptr;

    QMutex m_mutex;
    std::optional<Request> m_pending;
    std::optional<BiasAfter> m_cancel;
    std::atomic<bool> m_active{false};

    // The run, worker thread only.
    bool m_running = false;
    Request m_request;
    Stage m_stage = StageIdle;
    std::function<void()> m_next;
    QElapsedTimer m_since;
    int m_dueMs = 0;
    int m_failedReadings = 0;

    QDateTime m_started;
    double m_previousBias = 0;
    double m_timeConstant = 0;
    double m_trigger = 0;
    double m_bias = 0;
    double m_offset = 0;
    // Least squares of voltage over current while superconducting: the leads' resistance.
    double m_sumII = 0;
    double m_sumIV = 0;
    double m_coarseSwitch = 0;
    std::optional<double> m_switching;
    std::optional<double> m_retrapping;
    double m_low = 0;
    double m_high = 0;
    int m_index = 0;
    QJsonArray m_points;
    QJsonObject m_analysis;
};
