#pragma once
// How cu-tavik-cli writes values into its CSV output: numbers in C locale with a fixed
// number of significant digits, switches as 0 and 1, times in UTC ISO 8601, and fields
// quoted only when they must be.
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace Csv {

// A float of the module carries about seven significant digits; more would print noise.
inline constexpr int MeasuredDigits = 7;
// Values the user gave or derived from them exactly.
inline constexpr int ExactDigits = 12;

QString number(double value, int digits = MeasuredDigits);
// A record value: bools as 0/1, numbers as number(), texts as they are; invalid as empty.
QString value(const QVariant& value);
QString time(const QDateTime& time);
QString field(const QString& text);
QString line(const QStringList& fields);
// "# key: value" metadata lines before the column header.
QString comment(const QString& key, const QString& value);

} // namespace Csv
