#pragma once

#include <QByteArray>

// `parvel --import-connection FILE`: stores the Connection in FILE in this
// session's store. Prints "Connection saved in the keyring." (or "… in" and
// the file's path) on success (status 0), or "Connection import failed: " and the reason on
// standard error (status 1, nothing stored). Needs no application object.
int runImportMode(const QByteArray& path);
