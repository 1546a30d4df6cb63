#pragma once

#include "platform/RegularFile.h"

#include <QByteArray>
#include <QString>

#include <expected>

// readRegularFile for Qt code: all of a regular file's bytes (at most
// maxWholeFileBytes), or a readable reason "PATH: why". The path is taken as
// the raw bytes of a native file name.
std::expected<QByteArray, QString> readWholeFile(const QByteArray& nativePath);
