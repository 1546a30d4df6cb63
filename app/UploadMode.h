#pragma once

#include <QByteArray>

// `parvel --upload FILE`: uploads one file with the stored connection and
// prints its record. `path` is the operand's own bytes, so a name that is
// not UTF-8 is uploaded too. Runs its own event loop and returns the exit
// status.
int runUploadMode(int& argc, char** argv, const QByteArray& path);
