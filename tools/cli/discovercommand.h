#pragma once
// cu-tavik-cli discover: one search for the units on the local networks, their addresses one
// per line; it needs no unit connection.
#include <QHash>
#include <QString>
#include <QStringList>

QString discoverCommandHelp();
// arguments: the positional arguments, the command first; options: those given, by name.
int runDiscoverCommand(const QStringList& arguments, const QHash<QString, QString>& options);
