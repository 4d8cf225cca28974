#pragma once
// What a detector's count curve says about where to bias it: the bias at half the plateau
// rate, whether the efficiency reaches a plateau before the dark counts rise towards the
// switching current, and the highest bias whose excess dark counts stay below a limit.
// A pure function of the measured points.
#include <QList>
#include <QString>
#include <optional>

namespace CountCurveAnalysis {

struct Point
{
    double bias = 0; // A
    double cps = 0;
    // The detector switched at this bias: the curve ends here and the rate means nothing.
    bool latched = false;
};

struct Options
{
    double darkLimit = 100;       // cps of excess dark counts allowed at the recommended bias
    double timeConstant = 0.1;    // s per reading: the counting noise follows from it
    double switchingShare = 0.95; // no recommendation above this share of I_sw
};

struct Analysis
{
    bool fitted = false;
    bool plateauReached = false;
    double plateauRate = 0;             // cps, from the fit
    std::optional<double> halfRateBias; // A, with a plateau only
    std::optional<double> recommendedBias;
    double expectedRate = 0;        // fitted cps at the recommended bias
    double darkRateAtSwitching = 0; // fitted excess cps at I_sw
    double darkSlope = 0;           // A for an e-fold rise of the dark counts
    // Why nothing is recommended, or what to know about the recommendation.
    QString note;
};

// switchingCurrent is I_sw of the detector (A). Points may come in any order; a latched
// point ends the curve and caps the recommendation at the given share of its bias.
Analysis analyse(const QList<Point>& curve, double switchingCurrent, const Options& options);

} // namespace CountCurveAnalysis
