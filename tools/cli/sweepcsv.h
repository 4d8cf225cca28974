#pragma once
// The CSV file of a sweep or histogram: "#" comment lines with the run's metadata, a header
// line, then one row per point of the engine's chart series, in SI units.
#include "engine/workerasync.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QPointF>
#include <QStringList>

namespace SweepCsv {

using Metadata = QList<QPair<QString, QString>>;

QStringList columns(WorkerAsync::WorkerMode mode);
// Rows of a stepped sweep (modes 5 to 7) from its series, whose axes are in μA, mV and cps.
QList<QStringList> sweepRows(WorkerAsync::WorkerMode mode, const QList<QPointF>& points);
// Rows of the histogram from its upper series (four points per bin, the count on the
// second), with the bin edges from "from" and the bin width.
QList<QStringList> histogramRows(double from, double step, const QList<QPointF>& upper);
QByteArray document(const Metadata& metadata, const QStringList& columns,
                    const QList<QStringList>& rows);

} // namespace SweepCsv
