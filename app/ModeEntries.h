#pragma once

#include "app/OutputStreams.h"

#include <cstring>

// What each mode library's parvel_run_mode does with a mode it does not
// serve (a dispatcher and library out of step).
inline int unknownMode(const char* mode) {
    writeError(QStringLiteral("parvel: no mode \"%1\" here.").arg(QString::fromUtf8(mode)));
    return 1;
}

inline bool isMode(const char* mode, const char* name) {
    return std::strcmp(mode, name) == 0;
}
