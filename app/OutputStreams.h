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

// A command-line mode prints its own lines only: Qt's warnings (a missing
// runtime folder, an unreachable display) would mix with them and with what
// scripts read. They come back when QT_LOGGING_RULES or PARVEL_DEBUG is set;
// a fatal message is always printed.
void keepQtMessagesOut();
