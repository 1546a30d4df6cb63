#pragma once

#include "app/StandardStreams.h"

#include <QByteArray>
#include <QString>

// Standard output and standard error for the command-line modes, written
// unbuffered and completely, so nothing is lost when the mode ends the
// process right after.

// `bytes` exactly as given; false when they could not all be written.
bool writeOutput(const QByteArray& bytes);
// `line` in UTF-8 followed by one newline; false when it could not be written.
bool writeError(const QString& line);
// `bytes` exactly as given, on standard error (a terminal's progress line).
bool writeErrorBytes(const QByteArray& bytes);
