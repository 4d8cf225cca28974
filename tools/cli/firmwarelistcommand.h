#pragma once
// cu-tavik-cli firmware list: walks the firmware catalogue of the web server and prints the
// images found and, for a module family, the modifications, revisions and versions the
// update dialog would offer. Needs no unit.
#include <QHash>
#include <QString>
#include <QStringList>

// arguments: what follows "firmware list"; options: the options given, by name.
int runFirmwareList(const QStringList& arguments, const QHash<QString, QString>& options);
QString firmwareCommandsHelp();
// An http or https address with a host: what --base-url takes.
bool isFirmwareWebAddress(const QString& text);
