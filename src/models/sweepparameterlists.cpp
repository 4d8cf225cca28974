#include "sweepparameterlists.h"

#include "driverdatamodel.h"

namespace {
using Model = DriverDataModel;

constexpr int ModeCpsVersCurrent = 5;
constexpr int ModeCpsVersTrigger = 6;
constexpr int ModeIVCurves = 7;
constexpr int ModeHistogram = 8;

// Per point dwell time and the hidden running position, the same in every sweep.
void appendCommonRows(QList<DriverDataItem>& rows, const QString& group)
{
    rows << DriverDataItem("time_constant", "Time Constant (sec):", 1, group,
                           Model::DriverDataTypeDouble, true, 2, 1.0, 0.01, 10);
    rows << DriverDataItem("current", QString(), 0, QString(),
                           Model::DriverDataTypeConstantDoublePrecision, false, 2, 1.0, 0, 0);
}

// Bias current from, to and step: shared by the counts-against-current and IV sweeps.
QList<DriverDataItem> biasCurrentRows()
{
    const QString group = QStringLiteral("Bias source");
    return {
        DriverDataItem("from", "From (μA):", 1.5e-5, group, Model::DriverDataTypeDouble, true, 2,
                       1e6, -1000, 1000),
        DriverDataItem("to", "To (μA):", 2.5e-5, group, Model::DriverDataTypeDouble, true, 2, 1e6,
                       -1000, 1000),
        DriverDataItem("step", "Step (μA):", 1e-7, group, Model::DriverDataTypeDouble, true, 2, 1e6,
                       0, 1000),
    };
}

QList<DriverDataItem> cpsVersCurrentRows()
{
    QList<DriverDataItem> rows = biasCurrentRows();
    rows << DriverDataItem("trigger", "Stop trigger (mV):", 0.1, "Bias source",
                           Model::DriverDataTypeDouble, true, 0, 1000, 0, 5000);
    appendCommonRows(rows, "Bias source");
    return rows;
}

QList<DriverDataItem> cpsVersTriggerRows()
{
    const QString group = QStringLiteral("Bias source");
    QList<DriverDataItem> rows = {
        DriverDataItem("from", "From (mV):", 0, group, Model::DriverDataTypeDouble, true, 0, 1000,
                       -3000, 3000),
        DriverDataItem("to", "To (mV):", 0.2, group, Model::DriverDataTypeDouble, true, 0, 1000,
                       -3000, 3000),
        DriverDataItem("step", "Step (mV):", 0.005, group, Model::DriverDataTypeDouble, true, 0,
                       1000, 0, 3000),
    };
    appendCommonRows(rows, group);
    return rows;
}

QList<DriverDataItem> ivCurveRows()
{
    QList<DriverDataItem> rows = biasCurrentRows();
    appendCommonRows(rows, "Bias source");
    return rows;
}

QList<DriverDataItem> histogramRows()
{
    const QString group = QStringLiteral("Histogram");
    QList<DriverDataItem> rows = {
        DriverDataItem("from", "From  (cps):", 0, group, Model::DriverDataTypeDoubleEdited, true, 2,
                       1.0, 0, 1e9),
        DriverDataItem("to", "To (cps):", 1000.0, group, Model::DriverDataTypeDoubleEdited, true, 2,
                       1.0, 0, 1e9),
        DriverDataItem("step", "Bin width:", 1, group, Model::DriverDataTypeDoubleEdited, true, 2,
                       1.0, 0, 1e9),
    };
    appendCommonRows(rows, group);
    return rows;
}
} // namespace

QMap<int, QList<DriverDataItem>> defaultSweepParameterLists()
{
    QMap<int, QList<DriverDataItem>> lists;
    lists.insert(ModeCpsVersCurrent, cpsVersCurrentRows());
    lists.insert(ModeCpsVersTrigger, cpsVersTriggerRows());
    lists.insert(ModeIVCurves, ivCurveRows());
    lists.insert(ModeHistogram, histogramRows());
    return lists;
}
