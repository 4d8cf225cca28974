#include "countcurveanalysis.h"

#include "countcurvefit.h"

#include <algorithm>
#include <cmath>

namespace CountCurveAnalysis {

namespace {

// The efficiency counts as levelled off at this share of its plateau ...
constexpr double LevelShare = 0.95;
// ... and the dark counts as risen once they reach this share of the plateau rate.
constexpr double DarkShare = 0.05;
// Measured points needed between the two to call it a plateau: seen, not extrapolated.
constexpr int PlateauPoints = 3;
// The excess dark counts at the recommendation stay below the limit with this many
// standard deviations of the fitted dark term to spare.
constexpr double DarkMargin = 2.0;
// A fit that misses the readings by more than this (chi-square per degree of freedom)
// describes no plateau and dark rise.
constexpr double WorstFit = 25.0;
// Resolution of the search for the recommended bias, as a share of I_sw.
constexpr double SearchStep = 1e-4;

double sigmaOf(double cps, double timeConstant)
{
    // Poisson noise of the counts in one reading (at least one count), and a per cent for
    // the drift of the light source between readings.
    const double counts = std::max(cps * timeConstant, 1.0);
    const double poisson = std::sqrt(counts) / timeConstant;
    return std::hypot(poisson, 0.01 * cps);
}

} // namespace

Analysis analyse(const QList<Point>& curve, double switchingCurrent, const Options& options)
{
    Analysis result;
    if (!(switchingCurrent > 0) || !(options.timeConstant > 0)) {
        result.note = QStringLiteral("no switching current or time constant");
        return result;
    }
    QList<Point> points = curve;
    std::sort(points.begin(), points.end(),
              [](const Point& a, const Point& b) { return a.bias < b.bias; });
    double ceiling = switchingCurrent;
    QList<Point> valid;
    for (const Point& p : points) {
        if (p.latched) {
            ceiling = std::min(ceiling, p.bias);
            break;
        }
        if (std::isfinite(p.bias) && std::isfinite(p.cps))
            valid.append(p);
    }
    double scale = 0;
    for (const Point& p : valid)
        scale = std::max(scale, p.cps);
    if (valid.size() < 7 || !(scale > 0)) {
        result.note = QStringLiteral("too few readings with counts to analyse");
        return result;
    }

    QList<CountCurveFit::Sample> samples;
    for (const Point& p : valid)
        samples.append({p.bias / switchingCurrent, std::max(p.cps, 0.0) / scale,
                        sigmaOf(std::max(p.cps, 0.0), options.timeConstant) / scale});
    const CountCurveFit::Result fit = CountCurveFit::fit(samples);
    if (!fit.converged || fit.chiSquare > WorstFit) {
        result.note = QStringLiteral("the curve does not follow an efficiency rise and a dark "
                                     "count rise; no recommendation");
        return result;
    }
    const CountCurveFit::Model& m = fit.model;
    result.fitted = true;
    result.plateauRate = m.plateau * scale;
    result.darkRateAtSwitching = m.darkTerm(1.0) * scale;
    result.darkSlope = m.darkSlope * switchingCurrent;

    // The plateau: from where the efficiency has levelled off to where the dark counts rise,
    // with readings in between.
    const double xFirst = samples.first().x;
    const double xLast = samples.last().x;
    const double xLevel = m.centre + m.width * std::log(LevelShare / (1 - LevelShare));
    const double xDark = 1.0 + m.darkSlope * (std::log(DarkShare * m.plateau) - m.darkLog);
    int flat = 0;
    for (const CountCurveFit::Sample& s : samples)
        flat += s.x >= xLevel && s.x <= xDark ? 1 : 0;
    result.plateauReached = xLevel < xDark && xLevel <= xLast && flat >= PlateauPoints;
    if (!result.plateauReached) {
        result.note = QStringLiteral("no plateau: the count rate still rises steeply where "
                                     "the dark counts set in; no recommendation");
        return result;
    }

    // Half the plateau rate, on the fitted curve (it rises monotonically up to the plateau).
    double lo = std::min(xFirst, m.centre) - 1.0;
    double hi = xLevel;
    for (int i = 0; i < 100; ++i) {
        const double mid = (lo + hi) / 2;
        (m(mid) < m.plateau / 2 ? lo : hi) = mid;
    }
    const double xHalf = (lo + hi) / 2;
    if (xHalf >= xFirst)
        result.halfRateBias = xHalf * switchingCurrent;

    // The highest bias, at most the share of I_sw (or of a latch that came earlier) and no
    // higher than the curve went, whose dark counts stay below the limit with margin.
    const double cap = std::min(options.switchingShare * ceiling / switchingCurrent, xLast);
    const double limit = options.darkLimit / scale;
    const double topSigma = samples.last().sigma;
    std::optional<double> chosen;
    if (m.darkTerm(xLast) < DarkMargin * topSigma) {
        // The dark counts never showed above the counting noise: at the top they are below
        // its margin, and lower down they are fewer still.
        if (DarkMargin * topSigma <= limit)
            chosen = cap;
        else
            result.note = QStringLiteral("the dark counts stay below the counting noise at "
                                         "this time constant; a longer one resolves them");
    } else {
        for (double x = cap; x >= xFirst; x -= SearchStep) {
            const double bound =
                std::exp(std::log(m.darkTerm(x)) + DarkMargin * fit.darkLogSigma(x));
            if (bound <= limit) {
                chosen = x;
                break;
            }
        }
        if (!chosen)
            result.note = QStringLiteral("the dark counts exceed the limit everywhere on the "
                                         "curve; no recommendation");
    }
    if (!chosen)
        return result;
    result.recommendedBias = *chosen * switchingCurrent;
    result.expectedRate = m(*chosen) * scale;
    if (*chosen < xLevel)
        result.note = QStringLiteral("the dark limit is met only below the plateau, at %1 % of "
                                     "the plateau efficiency")
                          .arg(100.0 * m.efficiencyTerm(*chosen) / m.plateau, 0, 'f', 0);
    return result;
}

} // namespace CountCurveAnalysis
