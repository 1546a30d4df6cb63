#pragma once

#include <QString>

// `parvel --upload FILE`: uploads one file with the stored connection and
// prints its record. Runs its own event loop and returns the exit status.
int runUploadMode(int argc, char** argv, const QString& path);
