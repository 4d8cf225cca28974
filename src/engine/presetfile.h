#pragma once
// Reading a channel preset file back: which SSPD channels it sets, and to what bias current
// and comparator level. Free of the worker, so what a file the user picked can make the
// restore do is known from the bytes alone.
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// One channel to set, in the order the file lists it.
struct PresetChannel
{
    int address = 0;
    // The parameter writes to make, in order ("current", then "cmp_ref_level"); a value the
    // engine would not write is left out and named in the file's refusals instead.
    QList<QPair<QString, double>> writes;

    friend bool operator==(const PresetChannel&, const PresetChannel&) = default;
};

struct PresetFileContent
{
    // Empty when the file can be used; otherwise the text for the user, and no channels.
    QString error;
    QList<PresetChannel> channels;
    // One text per refused value, in file order: a value that is no number, or one outside
    // what a parameter write accepts.
    QStringList refusals;
};

// The channels of a preset file: every object of the top-level "data" array whose "type"
// is an SSPD type (0 or 1), with "address", "current" and "cmp_ref_level" (0 when missing).
// Bytes that are not a JSON object with a "data" member give the error
// "Wrong data. Missed \"data\" member.".
PresetFileContent readPresetFile(const QByteArray& bytes);
