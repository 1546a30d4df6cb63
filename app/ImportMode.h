#pragma once

#include <QByteArray>

// `parvel --import-connection FILE`: stores the Connection in FILE with
// Keychain::save. Prints "Connection saved in Keychain." on success (status
// 0), or "Connection import failed: " and the reason on standard error
// (status 1, nothing stored). Needs no application object.
int runImportMode(const QByteArray& path);
