#pragma once
// What cu-tavik-cli prints: results on standard output, and on standard error its own
// errors, the engine's errors and notices and, on a terminal, one progress line that other
// messages end before they are printed.
#include <QString>
#include <QTextStream>

QTextStream& cliOut();

// "cu-tavik-cli: MESSAGE" on standard error; these return the exit status to end with.
int usageError(const QString& message);
int failure(const QString& message);
void printError(const QString& message);

// A line that overwrites itself on a terminal (nothing when standard error is none).
void printProgress(const QString& text);
void endProgress();
bool stderrIsTerminal();
