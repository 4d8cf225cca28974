#include "sweepcsv.h"

#include "csvformat.h"

namespace SweepCsv {

namespace {

constexpr int PointsPerBin = 4;

} // namespace

QStringList columns(WorkerAsync::WorkerMode mode)
{
    switch (mode) {
    case WorkerAsync::WorkerModeCpsVersCurrent:
        return {"current_A", "cps"};
    case WorkerAsync::WorkerModeCpsVersTrigger:
        return {"cmp_ref_level_V", "cps"};
    case WorkerAsync::WorkerModeIVCurves:
        return {"voltage_V", "current_A"};
    case WorkerAsync::WorkerModeHistogram:
        return {"bin_from_cps", "bin_to_cps", "count"};
    default:
        return {};
    }
}

QList<QStringList> sweepRows(WorkerAsync::WorkerMode mode, const QList<QPointF>& points)
{
    // The chart shows μA and mV; the file keeps amperes and volts.
    double xScale = 1.0;
    double yScale = 1.0;
    if (mode == WorkerAsync::WorkerModeCpsVersCurrent) {
        xScale = 1e-6;
    } else if (mode == WorkerAsync::WorkerModeCpsVersTrigger) {
        xScale = 1e-3;
    } else if (mode == WorkerAsync::WorkerModeIVCurves) {
        xScale = 1e-3;
        yScale = 1e-6;
    }
    QList<QStringList> rows;
    rows.reserve(points.size());
    for (const QPointF& p : points)
        rows.append({Csv::number(p.x() * xScale), Csv::number(p.y() * yScale)});
    return rows;
}

QList<QStringList> histogramRows(double from, double step, const QList<QPointF>& upper)
{
    QList<QStringList> rows;
    const qsizetype bins = upper.size() / PointsPerBin;
    rows.reserve(bins);
    for (qsizetype i = 0; i < bins; ++i) {
        const double low = from + step * double(i);
        rows.append({Csv::number(low, Csv::ExactDigits), Csv::number(low + step, Csv::ExactDigits),
                     Csv::number(upper.at(PointsPerBin * i + 1).y(), Csv::ExactDigits)});
    }
    return rows;
}

QByteArray document(const Metadata& metadata, const QStringList& columns,
                    const QList<QStringList>& rows)
{
    QString text;
    for (const auto& [key, value] : metadata)
        text += Csv::comment(key, value) + u'\n';
    text += Csv::line(columns) + u'\n';
    for (const QStringList& row : rows)
        text += Csv::line(row) + u'\n';
    return text.toUtf8();
}

} // namespace SweepCsv
