#pragma once

#include <QByteArray>

// `parvel --upload FILE`: uploads one file with the stored connection and
// prints its record. `path` is the operand's own bytes, so a name that is
// not UTF-8 is uploaded too. Runs its own event loop and returns the exit
// status. Ctrl-C or SIGTERM cancels the upload the way the application's
// cancel button does ("Upload cancelled.", status 1); a second one ends the
// process at once.
int runUploadMode(int& argc, char** argv, const QByteArray& path);
