#pragma once
// A weighted least-squares fit of a count curve (counts per second against bias) to a
// logistic efficiency rise that levels off on a plateau, plus an exponential rise of dark
// counts towards the switching current. Works on normalised axes: the bias as a share of
// the switching current, the rate as a share of the largest reading.
#include <QList>
#include <array>

namespace CountCurveFit {

// One reading on the normalised axes; sigma is its standard deviation.
struct Sample
{
    double x;
    double y;
    double sigma;
};

// y(x) = plateau / (1 + exp(-(x - centre) / width)) + exp(darkLog + (x - 1) / darkSlope)
struct Model
{
    double plateau = 0;
    double centre = 0;
    double width = 0;
    double darkLog = 0; // natural log of the dark term at x = 1
    double darkSlope = 0;

    double efficiencyTerm(double x) const;
    double darkTerm(double x) const;
    double operator()(double x) const { return efficiencyTerm(x) + darkTerm(x); }
};

struct Result
{
    bool converged = false;
    Model model;
    double chiSquare = 0; // per degree of freedom
    // Covariance of (plateau, centre, ln width, darkLog, ln darkSlope), scaled by the
    // chi-square per degree of freedom where that exceeds 1.
    std::array<std::array<double, 5>, 5> covariance{};

    // Standard deviation of ln(dark term) at x from the covariance.
    double darkLogSigma(double x) const;
};

// The best of several starts; not converged with fewer than seven samples.
Result fit(const QList<Sample>& samples);

} // namespace CountCurveFit
