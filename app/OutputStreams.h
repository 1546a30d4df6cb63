#pragma once

#include <QByteArray>
#include <QString>

// Standard output and standard error for the command-line modes, written
// unbuffered and completely, so nothing is lost when the mode ends the
// process right after.

// A reader that went away (`parvel --json | true`) must not kill the mode
// with SIGPIPE: the write then fails and the mode says so with its status.
void ignoreBrokenPipes();

// `bytes` exactly as given; false when they could not all be written.
bool writeOutput(const QByteArray& bytes);
// `line` in UTF-8 followed by one newline; false when it could not be written.
bool writeError(const QString& line);
// `bytes` exactly as given, on standard error (a terminal's progress line).
bool writeErrorBytes(const QByteArray& bytes);
