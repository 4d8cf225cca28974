#pragma once
// `boot --port DEV FILE [--wait-for-device]`: writes a firmware image into a module over the
// RS-485 line through the module's serial bootloader, printing each step and the progress.
#include <QHash>
#include <QStringList>

QString bootCommandHelp();

// arguments: the positional arguments, "boot" first; options: those given, by name.
int runBootCommand(const QStringList& arguments, const QHash<QString, QString>& options);
