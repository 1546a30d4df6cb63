#pragma once

#include <QString>

// `parvel --json`: the local file index byte for byte, or "[]" and a
// newline when there is none. Never parses it; always status 0. Needs no
// application object.
int runIndexMode();

// <GenericDataLocation>/Parvel/files.json (~/.local/share/Parvel/files.json).
QString localIndexPath();
