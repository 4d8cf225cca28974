#pragma once
// Reading the unit's module list answers down to the modules they name: the JSON object
// that answers "SYST:DEVJ?" and the "<br>"-separated text of a legacy unit's "SYST:DEVL?".
// Free of drivers and links, so the inventory's reading of what the unit sent stands alone.
#include <QJsonObject>
#include <QList>
#include <QString>

// One module the unit lists: its bus address and its type string as the unit wrote it.
struct ModuleListEntry
{
    quint8 address = 0;
    QString type;

    friend bool operator==(const ModuleListEntry&, const ModuleListEntry&) = default;
};

// The object of a JSON answer; an answer that does not parse as an object gives an empty one.
QJsonObject moduleListObject(const QString& answer);

// The modules of a JSON module list: entries 0 to "count" - 1 of "info" (none without a
// usable "count", never more than "info" holds), each "address" (-1 when missing) reduced to
// its low eight bits. An entry that is not an object names no module and is left out.
QList<ModuleListEntry> jsonModuleEntries(const QJsonObject& list);

// The modules of a legacy answer: every "<br>"-separated line that splits at ":" into
// exactly three fields, the second and third of which hold a "=". The address is the
// decimal text after the first "=" of the second field (0 when it is not a number) reduced
// to its low eight bits; the type is the text after the first "=" of the third field,
// without surrounding white space (the last line still carries the answer's line end).
QList<ModuleListEntry> legacyModuleEntries(const QString& answer);
