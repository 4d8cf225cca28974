#include "detectorcharacterisation.h"

#include "countcurveanalysis.h"
#include "enginelog.h"
#include "models/driverhelper.h"
#include "parameterlimits.h"
#include "workerprocess.h"

#include <QMetaEnum>
#include <QMutexLocker>
#include <cmath>

namespace {

// A reading counts as switched (resistive) when the voltage exceeds what the leads alone
// would give by this factor, plus a margin above the read-out noise.
constexpr double SwitchResistanceFactor = 3.0;
constexpr double SwitchVoltageMargin = 10e-3;
// Tries of one reading or write; three failed readings in a row end the run.
constexpr int Tries = 2;
constexpr int FailedReadingsAllowed = 3;
constexpr int MinPoints = 40;
// A count reading waits for a whole gate of the counter after the bias change: up to two
// time constants, since the gate running at the change still holds counts from before.
constexpr double GatesPerReading = 2.0;

const QString CurrentKey = QStringLiteral("current");

// Where the dark counts rise, within the top 15 % below I_sw, the curve takes half of its
// points: their slope sets how far below I_sw the recommendation has to stay.
constexpr double DenseShare = 0.85;

// The curve's bias at index of count: half the points from `from` up to the dense part,
// the other half across it up to `to`.
double curveBias(double from, double dense, double to, int index, int count)
{
    const int lower = count / 2;
    if (dense <= from)
        return from + (to - from) * index / (count - 1);
    if (index < lower)
        return from + (dense - from) * index / lower;
    return dense + (to - dense) * (index - lower) / (count - lower - 1);
}

QJsonValue optionalNumber(const std::optional<double>& value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

} // namespace

std::optional<DetectorCharacterisation::Request>
DetectorCharacterisation::requestFromMap(const QVariantMap& map, QString* error)
{
    Request request;
    auto number = [&](const char* key, double* out) {
        if (!map.contains(QLatin1String(key)))
            return true;
        bool ok = false;
        *out = map.value(QLatin1String(key)).toDouble(&ok);
        return ok && std::isfinite(*out);
    };
    auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return std::nullopt;
    };
    double address = 0;
    if (!number("address", &address) || address < 0 || address > 255)
        return fail(QStringLiteral("no module address"));
    request.address = int(address);
    for (const char* key : {"time_constant", "trigger"}) {
        double value = 0;
        if (!map.contains(QLatin1String(key)))
            continue;
        const QString name = key == QLatin1String("trigger") ? QStringLiteral("cmp_ref_level")
                                                             : QStringLiteral("time_const");
        if (!number(key, &value))
            return fail(QStringLiteral("%1 is no number").arg(QLatin1String(key)));
        if (const QString problem = ParameterLimits::problem(name, value); !problem.isEmpty())
            return fail(problem);
        (key == QLatin1String("trigger") ? request.trigger : request.timeConstant) = value;
    }
    if (!number("dark_limit", &request.darkLimit) || !(request.darkLimit > 0))
        return fail(QStringLiteral("the dark count limit must be a positive number"));
    if (!number("start_share", &request.startShare) || !(request.startShare > 0) ||
        !(request.startShare < 0.9))
        return fail(QStringLiteral("the curve must start above 0 and below 0.9 I_sw"));
    double points = request.points;
    if (!number("points", &points) || points < MinPoints || points > 1000)
        return fail(QStringLiteral("the curve takes %1 to 1000 points").arg(MinPoints));
    request.points = int(points);
    if (map.value(QStringLiteral("apply")).toBool())
        request.afterwards = BiasRecommended;
    return request;
}

DetectorCharacterisation::DetectorCharacterisation(WorkerProcess* process)
    : QObject(process), m_process(process)
{
}

void DetectorCharacterisation::start(const Request& request)
{
    {
        QMutexLocker locker(&m_mutex);
        m_pending = request;
        m_active = true;
    }
    wake();
}

void DetectorCharacterisation::cancel(BiasAfter bias)
{
    {
        QMutexLocker locker(&m_mutex);
        if (!m_active)
            return;
        m_cancel = bias == BiasPrevious ? BiasPrevious : BiasZero;
    }
    wake();
}

void DetectorCharacterisation::wake()
{
    // An event for this thread ends the loop's sleep, as a queued command does.
    QMetaObject::invokeMethod(
        this, [] {}, Qt::QueuedConnection);
}

int DetectorCharacterisation::msUntilDue() const
{
    if (!m_running || !m_next)
        return 0;
    return int(qMax<qint64>(0, m_dueMs - m_since.elapsed()));
}

void DetectorCharacterisation::step()
{
    std::optional<Request> request;
    std::optional<BiasAfter> cancel;
    {
        QMutexLocker locker(&m_mutex);
        request.swap(m_pending);
        cancel.swap(m_cancel);
    }
    if (request) {
        if (m_running) {
            qCDebug(lcEngine) << "characterisation already running; second start refused";
        } else {
            m_request = *request;
            begin();
        }
    }
    if (cancel && m_running) {
        end(QStringLiteral("cancelled"), QString(), *cancel);
        return;
    }
    if (!m_running || !m_next || m_since.elapsed() < m_dueMs)
        return;
    const std::function<void()> next = std::move(m_next);
    m_next = nullptr;
    next();
}

void DetectorCharacterisation::then(int ms, std::function<void()> next)
{
    m_next = std::move(next);
    m_dueMs = ms;
    m_since.restart();
}

void DetectorCharacterisation::enterStage(Stage stage, const QString& text, double percent)
{
    m_stage = stage;
    qCDebug(lcEngine) << "characterisation:" << text;
    emit stageChanged(stage, text);
    emit progressChanged(percent);
}

DriverHelper* DetectorCharacterisation::helper()
{
    // Drivers go when the unit is connected anew; the helper is made afresh for each step.
    AbstractDriver* driver = m_process->driverByAddress(m_request.address);
    if (!m_helper || m_helper->driver() != driver) {
        delete m_helper;
        m_helper = driver ? new DriverHelper(driver, this) : nullptr;
    }
    return m_helper;
}

bool DetectorCharacterisation::setBias(double amperes)
{
    DriverHelper* h = helper();
    if (!h)
        return false;
    m_bias = amperes;
    return h->writeParameter(CurrentKey, amperes, Tries);
}

DetectorCharacterisation::Reading DetectorCharacterisation::read()
{
    Reading reading;
    DriverHelper* h = helper();
    const QVariantMap data = h ? h->readData(Tries) : QVariantMap();
    if (data.isEmpty()) {
        ++m_failedReadings;
        return reading;
    }
    m_failedReadings = 0;
    reading.ok = true;
    reading.current = data.value(CurrentKey).toDouble();
    reading.voltage = data.value(QStringLiteral("voltage")).toDouble();
    reading.cps = data.value(QStringLiteral("cps")).toDouble();
    return reading;
}

bool DetectorCharacterisation::switched(const Reading& reading) const
{
    const double leads = m_sumII > 0 ? qMax(0.0, m_sumIV / m_sumII) : 0.0;
    const double expected = leads * std::abs(m_bias);
    return std::abs(reading.voltage - m_offset) >
           SwitchResistanceFactor * expected + SwitchVoltageMargin;
}

void DetectorCharacterisation::noteSuperconducting(const Reading& reading)
{
    m_sumII += m_bias * m_bias;
    m_sumIV += m_bias * (reading.voltage - m_offset);
}

void DetectorCharacterisation::begin()
{
    m_running = true;
    m_previousBias = 0;
    m_started = QDateTime::currentDateTimeUtc();
    m_failedReadings = 0;
    m_sumII = m_sumIV = 0;
    m_offset = 0;
    m_switching.reset();
    m_retrapping.reset();
    m_points = QJsonArray();
    m_analysis = QJsonObject();
    m_next = nullptr;
    enterStage(StagePreparing, QStringLiteral("Preparing channel %1").arg(m_request.address), 0);

    DriverHelper* h = helper();
    if (!h || !h->isSspd()) {
        return fail(
            h ? QStringLiteral("module %1 is no SSPD channel").arg(m_request.address)
              : QStringLiteral("the unit has no module at address %1").arg(m_request.address));
    }
    const QVariantMap before = h->readData(Tries);
    if (before.isEmpty())
        return fail(QStringLiteral("module %1 does not answer").arg(m_request.address));
    m_previousBias = before.value(CurrentKey).toDouble();
    setBias(0);
    if (m_request.timeConstant)
        h->writeParameter(QStringLiteral("time_const"), *m_request.timeConstant, Tries);
    if (m_request.trigger)
        h->writeParameter(QStringLiteral("cmp_ref_level"), *m_request.trigger, Tries);
    // Read back: the counts per second of every reading divide by what the module holds.
    const QVariantMap params = h->readParams(Tries);
    m_timeConstant = params.value(QStringLiteral("time_const")).toDouble();
    m_trigger = params.value(QStringLiteral("cmp_ref_level")).toDouble();
    if (params.isEmpty() || !(m_timeConstant > 0))
        return fail(QStringLiteral("module %1 has no usable time constant").arg(m_request.address));
    h->writeParameter(QStringLiteral("operate"), true, Tries);
    then(m_request.settleMs, [this] { measureBaseline(); });
}

void DetectorCharacterisation::measureBaseline()
{
    const Reading r = read();
    if (!r.ok)
        return m_failedReadings >= FailedReadingsAllowed
                   ? fail(QStringLiteral("module %1 stopped answering").arg(m_request.address))
                   : then(m_request.settleMs, [this] { measureBaseline(); });
    m_offset = r.voltage;
    enterStage(StageSwitching, QStringLiteral("Switching current: raising the bias"), 2);
    setBias(m_request.coarseStep);
    then(m_request.settleMs, [this] { coarseRead(); });
}

void DetectorCharacterisation::coarseRead()
{
    const Reading r = read();
    if (!r.ok) {
        if (m_failedReadings >= FailedReadingsAllowed)
            return fail(QStringLiteral("module %1 stopped answering").arg(m_request.address));
        return then(m_request.settleMs, [this] { coarseRead(); });
    }
    if (switched(r)) {
        // Back to zero at once; the fine steps start from the last superconducting bias.
        m_coarseSwitch = m_bias;
        setBias(0);
        qCDebug(lcEngine) << "characterisation: switched between" << m_bias - m_request.coarseStep
                          << "and" << m_coarseSwitch << "A";
        m_bias = m_coarseSwitch - m_request.coarseStep;
        return then(m_request.settleMs, [this] {
            setBias(m_bias + m_request.fineStep);
            then(m_request.settleMs, [this] { fineRead(); });
        });
    }
    noteSuperconducting(r);
    const double next = m_bias + m_request.coarseStep;
    if (next > m_request.maxBias + 1e-12)
        return fail(QStringLiteral("the detector did not switch up to %1 \u03bcA")
                        .arg(m_request.maxBias * 1e6, 0, 'g', 4));
    emit progressChanged(2 + 8 * m_bias / m_request.maxBias);
    setBias(next);
    then(m_request.settleMs, [this] { coarseRead(); });
}

void DetectorCharacterisation::fineRead()
{
    const Reading r = read();
    if (!r.ok) {
        if (m_failedReadings >= FailedReadingsAllowed)
            return fail(QStringLiteral("module %1 stopped answering").arg(m_request.address));
        return then(m_request.settleMs, [this] { fineRead(); });
    }
    if (switched(r)) {
        m_switching = m_bias;
        setBias(0);
        m_low = 0;
        m_high = *m_switching;
        enterStage(StageRetrapping,
                   QStringLiteral("Retrapping current (I_sw %1 \u03bcA)")
                       .arg(*m_switching * 1e6, 0, 'f', 2),
                   12);
        return then(m_request.settleMs, [this] { retrapTrial(); });
    }
    noteSuperconducting(r);
    const double next = m_bias + m_request.fineStep;
    if (next > m_request.maxBias + 1e-12)
        return fail(QStringLiteral("the detector did not switch up to %1 \u03bcA")
                        .arg(m_request.maxBias * 1e6, 0, 'g', 4));
    setBias(next);
    then(m_request.settleMs, [this] { fineRead(); });
}

// Halves the range that holds I_r: latch the wire just above I_sw, lower the bias to the
// middle of the range at once, and read whether it stays resistive. Each latch lasts one
// reading and ends at zero bias.
void DetectorCharacterisation::retrapTrial()
{
    if (m_high - m_low <= m_request.fineStep) {
        m_retrapping = (m_low + m_high) / 2;
        return curveStart();
    }
    const double trial = (m_low + m_high) / 2;
    setBias(*m_switching + m_request.fineStep);
    then(m_request.settleMs, [this, trial] {
        setBias(trial);
        then(m_request.settleMs, [this, trial] { retrapRead(trial); });
    });
}

void DetectorCharacterisation::retrapRead(double trial)
{
    const Reading r = read();
    setBias(0);
    if (!r.ok) {
        if (m_failedReadings >= FailedReadingsAllowed)
            return fail(QStringLiteral("module %1 stopped answering").arg(m_request.address));
        return then(m_request.settleMs, [this] { retrapTrial(); });
    }
    (switched(r) ? m_high : m_low) = trial;
    emit progressChanged(15);
    then(m_request.settleMs, [this] { retrapTrial(); });
}

void DetectorCharacterisation::curveStart()
{
    enterStage(StageCurve,
               QStringLiteral("Count curve: %1 points (I_r %2 \u03bcA)")
                   .arg(m_request.points)
                   .arg(*m_retrapping * 1e6, 0, 'f', 2),
               20);
    m_index = 0;
    setBias(m_request.startShare * *m_switching);
    then(int(std::ceil(GatesPerReading * m_timeConstant * 1000)) + m_request.settleMs,
         [this] { curveRead(); });
}

void DetectorCharacterisation::curveRead()
{
    const Reading r = read();
    const double wait = std::ceil(GatesPerReading * m_timeConstant * 1000) + m_request.settleMs;
    if (!r.ok) {
        if (m_failedReadings >= FailedReadingsAllowed)
            return fail(QStringLiteral("module %1 stopped answering").arg(m_request.address));
        return then(int(wait), [this] { curveRead(); });
    }
    const bool latched = switched(r);
    if (latched)
        setBias(0);
    m_points.append(QJsonObject{{"bias_A", m_bias},
                                {"cps", latched ? 0.0 : r.cps},
                                {"voltage_V", r.voltage},
                                {"latched", latched}});
    emit pointMeasured(m_bias, latched ? 0.0 : r.cps, latched);
    ++m_index;
    emit progressChanged(20 + 75.0 * m_index / m_request.points);
    if (latched || m_index >= m_request.points)
        return analyseCurve();
    const double from = m_request.startShare * *m_switching;
    const double to = *m_switching - m_request.fineStep;
    setBias(curveBias(from, DenseShare * *m_switching, to, m_index, m_request.points));
    then(int(wait), [this] { curveRead(); });
}

void DetectorCharacterisation::analyseCurve()
{
    setBias(0);
    enterStage(StageAnalysis, QStringLiteral("Analysis"), 96);
    QList<CountCurveAnalysis::Point> curve;
    for (const QJsonValue& value : std::as_const(m_points)) {
        const QJsonObject p = value.toObject();
        curve.append(
            {p.value("bias_A").toDouble(), p.value("cps").toDouble(), p.value("latched").toBool()});
    }
    CountCurveAnalysis::Options options;
    options.darkLimit = m_request.darkLimit;
    options.timeConstant = m_timeConstant;
    const CountCurveAnalysis::Analysis a =
        CountCurveAnalysis::analyse(curve, *m_switching, options);
    m_analysis = {
        {"half_rate_bias_A", optionalNumber(a.halfRateBias)},
        {"plateau_reached", a.plateauReached},
        {"recommended_bias_A", optionalNumber(a.recommendedBias)},
        {"expected_cps", a.recommendedBias ? QJsonValue(a.expectedRate) : QJsonValue()},
        {"plateau_cps", a.fitted ? QJsonValue(a.plateauRate) : QJsonValue()},
        {"dark_cps_at_switching", a.fitted ? QJsonValue(a.darkRateAtSwitching) : QJsonValue()},
        {"dark_slope_A", a.fitted ? QJsonValue(a.darkSlope) : QJsonValue()},
        {"note", a.note},
    };
    end(QStringLiteral("complete"), QString(), m_request.afterwards);
}

void DetectorCharacterisation::end(const QString& outcome, const QString& error, BiasAfter bias)
{
    double after = 0;
    bool applied = false;
    const QJsonValue recommended = m_analysis.value("recommended_bias_A");
    if (bias == BiasRecommended && recommended.isDouble()) {
        after = recommended.toDouble();
        applied = true;
    } else if (bias == BiasPrevious) {
        after = m_previousBias;
    }
    // The channel keeps operating; only its bias changes.
    if (helper())
        setBias(after);
    QJsonObject report{
        {"outcome", outcome},
        {"channel", m_request.address},
        {"started", m_started.toString(Qt::ISODateWithMs)},
        {"ended", QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
        {"time_constant_s", m_timeConstant},
        {"trigger_V", m_trigger},
        {"dark_limit_cps", m_request.darkLimit},
        {"switching_current_A", optionalNumber(m_switching)},
        {"retrapping_current_A", optionalNumber(m_retrapping)},
        {"switch_threshold", QStringLiteral("%1 x leads' voltage + %2 V")
                                 .arg(SwitchResistanceFactor)
                                 .arg(SwitchVoltageMargin)},
        {"leads_resistance_ohm", m_sumII > 0 ? m_sumIV / m_sumII : 0.0},
        {"bias_after_A", after},
        {"applied", applied},
        {"points", m_points},
    };
    if (!error.isEmpty())
        report.insert("error", error);
    if (outcome == u"cancelled")
        report.insert("cancelled_in", QMetaEnum::fromType<Stage>().valueToKey(m_stage));
    for (auto it = m_analysis.begin(); it != m_analysis.end(); ++it)
        report.insert(it.key(), it.value());
    const QString text = outcome == u"complete" ? QStringLiteral("Characterisation complete")
                         : outcome == u"cancelled"
                             ? QStringLiteral("Characterisation cancelled")
                             : QStringLiteral("Characterisation failed: %1").arg(error);
    m_running = false;
    m_next = nullptr;
    delete m_helper;
    m_helper = nullptr;
    {
        QMutexLocker locker(&m_mutex);
        m_cancel.reset();
        m_active = m_pending.has_value();
    }
    enterStage(StageDone, text, 100);
    emit finished(report);
}
