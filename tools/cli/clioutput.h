#pragma once
// What cu-tavik-cli prints: results on standard output, and on standard error its own
// errors, the engine's errors and notices and, on a terminal, one progress line that other
// messages end before they are printed.
#include <QString>
#include <QTextStream>

QTextStream& cliOut();
// Flushes standard output. False, with the reason on standard error (once), when anything
// printed did not reach it: a full disk, a closed pipe. A command that printed its result
// must not end with status 0 then.
bool outputWritten();
// The exit status of a command that has ended with `code`: a failure instead of success when
// its output was lost.
int checkedExit(int code);

// "cu-tavik-cli: MESSAGE" on standard error; these return the exit status to end with.
int usageError(const QString& message);
int failure(const QString& message);
void printError(const QString& message);

// A line that overwrites itself on a terminal (nothing when standard error is none).
void printProgress(const QString& text);
void endProgress();
bool stderrIsTerminal();
