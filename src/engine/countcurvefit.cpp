#include "countcurvefit.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace CountCurveFit {

namespace {

constexpr int N = 5;
using Vector = std::array<double, N>;
using Matrix = std::array<std::array<double, N>, N>;

// Parameters as the solver moves them: positive widths through their logarithms.
Model modelOf(const Vector& p)
{
    return {p[0], p[1], std::exp(p[2]), p[3], std::exp(p[4])};
}

// Keeps the solver in a region where the model means something: no negative plateau, no
// step narrower than a thousandth of the switching current, no dark term beyond e^10.
void clampParameters(Vector* p)
{
    (*p)[0] = std::clamp((*p)[0], 1e-6, 100.0);
    (*p)[1] = std::clamp((*p)[1], -2.0, 3.0);
    (*p)[2] = std::clamp((*p)[2], std::log(1e-3), std::log(2.0));
    (*p)[3] = std::clamp((*p)[3], -40.0, 10.0);
    (*p)[4] = std::clamp((*p)[4], std::log(1e-3), std::log(0.5));
}

double logistic(double u)
{
    return 1.0 / (1.0 + std::exp(-std::clamp(u, -700.0, 700.0)));
}

Vector gradient(const Vector& p, double x)
{
    const Model m = modelOf(p);
    const double u = (x - m.centre) / m.width;
    const double s = logistic(u);
    const double d = m.darkTerm(x);
    return {s, -m.plateau * s * (1 - s) / m.width, -m.plateau * s * (1 - s) * u, d,
            -d * (x - 1.0) / m.darkSlope};
}

double chiSquare(const Vector& p, const QList<Sample>& samples)
{
    const Model m = modelOf(p);
    double sum = 0;
    for (const Sample& s : samples) {
        const double r = (s.y - m(s.x)) / s.sigma;
        sum += r * r;
    }
    return sum;
}

void normalEquations(const Vector& p, const QList<Sample>& samples, Matrix* a, Vector* b)
{
    *a = {};
    *b = {};
    const Model m = modelOf(p);
    for (const Sample& s : samples) {
        const Vector g = gradient(p, s.x);
        const double w = 1.0 / (s.sigma * s.sigma);
        const double r = s.y - m(s.x);
        for (int i = 0; i < N; ++i) {
            (*b)[i] += w * g[i] * r;
            for (int j = 0; j < N; ++j)
                (*a)[i][j] += w * g[i] * g[j];
        }
    }
}

// Gauss-Jordan with partial pivoting; false for a singular matrix.
bool invert(Matrix a, Matrix* inverse)
{
    Matrix inv{};
    for (int i = 0; i < N; ++i)
        inv[i][i] = 1;
    for (int col = 0; col < N; ++col) {
        int pivot = col;
        for (int row = col + 1; row < N; ++row)
            if (std::abs(a[row][col]) > std::abs(a[pivot][col]))
                pivot = row;
        if (!(std::abs(a[pivot][col]) > 1e-300))
            return false;
        std::swap(a[col], a[pivot]);
        std::swap(inv[col], inv[pivot]);
        const double f = a[col][col];
        for (int j = 0; j < N; ++j) {
            a[col][j] /= f;
            inv[col][j] /= f;
        }
        for (int row = 0; row < N; ++row) {
            if (row == col)
                continue;
            const double g = a[row][col];
            for (int j = 0; j < N; ++j) {
                a[row][j] -= g * a[col][j];
                inv[row][j] -= g * inv[col][j];
            }
        }
    }
    *inverse = inv;
    return true;
}

// Levenberg-Marquardt from one start; the final chi-square (not per degree of freedom).
double solve(Vector* p, const QList<Sample>& samples)
{
    double lambda = 1e-3;
    double chi = chiSquare(*p, samples);
    for (int iteration = 0; iteration < 300; ++iteration) {
        Matrix a;
        Vector b;
        normalEquations(*p, samples, &a, &b);
        bool improved = false;
        while (lambda < 1e12) {
            Matrix damped = a;
            for (int i = 0; i < N; ++i)
                damped[i][i] += lambda * std::max(a[i][i], 1e-12);
            Matrix inverse;
            if (!invert(damped, &inverse)) {
                lambda *= 10;
                continue;
            }
            Vector next = *p;
            for (int i = 0; i < N; ++i)
                for (int j = 0; j < N; ++j)
                    next[i] += inverse[i][j] * b[j];
            clampParameters(&next);
            const double nextChi = chiSquare(next, samples);
            if (nextChi < chi) {
                const bool small = chi - nextChi < 1e-9 * chi + 1e-12;
                *p = next;
                chi = nextChi;
                lambda = std::max(lambda / 10, 1e-12);
                improved = !small;
                break;
            }
            lambda *= 10;
        }
        if (!improved)
            break;
    }
    return chi;
}

} // namespace

double Model::efficiencyTerm(double x) const
{
    return plateau * logistic((x - centre) / width);
}

double Model::darkTerm(double x) const
{
    return std::exp(std::min(darkLog + (x - 1.0) / darkSlope, 300.0));
}

double Result::darkLogSigma(double x) const
{
    // ln(dark) = darkLog + (x - 1) / exp(ln darkSlope): gradient (0, 0, 0, 1, -(x-1)/slope).
    const double g3 = 1.0;
    const double g4 = -(x - 1.0) / model.darkSlope;
    const double variance =
        g3 * g3 * covariance[3][3] + 2 * g3 * g4 * covariance[3][4] + g4 * g4 * covariance[4][4];
    return std::sqrt(std::max(variance, 0.0));
}

Result fit(const QList<Sample>& samples)
{
    Result best;
    if (samples.size() < 7)
        return best;
    QList<Sample> sorted = samples;
    std::sort(sorted.begin(), sorted.end(),
              [](const Sample& a, const Sample& b) { return a.x < b.x; });

    // Starting points: the plateau at a high quantile of the lower 85 % of the curve, the
    // centre where the curve first passes half of it, the dark term at what the top
    // reading has beyond it; several widths and dark slopes, since either rise may be the
    // steeper one.
    const qsizetype body = std::max<qsizetype>(3, sorted.size() * 85 / 100);
    QList<double> levels;
    for (qsizetype i = 0; i < body; ++i)
        levels.append(sorted.at(i).y);
    std::sort(levels.begin(), levels.end());
    const double plateau = std::max(levels.at(levels.size() * 9 / 10), 1e-3);
    double centre = sorted.last().x;
    for (const Sample& s : sorted) {
        if (s.y >= plateau / 2) {
            centre = s.x;
            break;
        }
    }
    const double darkLog = std::log(std::max(sorted.last().y - plateau, 1e-3));

    double bestChi = std::numeric_limits<double>::infinity();
    Vector bestP{};
    for (double width : {0.02, 0.06, 0.2}) {
        for (double slope : {0.01, 0.03, 0.1}) {
            for (double c : {centre, sorted.last().x}) {
                Vector p{plateau, c, std::log(width), darkLog, std::log(slope)};
                clampParameters(&p);
                const double chi = solve(&p, sorted);
                if (std::isfinite(chi) && chi < bestChi) {
                    bestChi = chi;
                    bestP = p;
                }
            }
        }
    }
    if (!std::isfinite(bestChi))
        return best;
    Matrix a;
    Vector b;
    normalEquations(bestP, sorted, &a, &b);
    Matrix covariance;
    const double perDegree = bestChi / double(sorted.size() - N);
    if (!invert(a, &covariance))
        return best;
    const double scale = std::max(1.0, perDegree);
    for (auto& row : covariance)
        for (double& v : row)
            v *= scale;
    best.converged = true;
    best.model = modelOf(bestP);
    best.chiSquare = perDegree;
    best.covariance = covariance;
    return best;
}

} // namespace CountCurveFit
