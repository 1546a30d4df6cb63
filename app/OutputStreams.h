#pragma once

#include <QByteArray>
#include <QString>

// Standard output and standard error for the command-line modes, written
// unbuffered and completely, so nothing is lost when the mode ends the
// process right after.

// `bytes` exactly as given.
void writeOutput(const QByteArray& bytes);
// `line` in UTF-8 followed by one newline.
void writeError(const QString& line);
