#pragma once

#include "net/Records.h"

#include <QList>
#include <QString>

// The copy of the file list that other programs read (`parvel --json` among
// them): a compact JSON array of SharedFile in DIR/Parvel/files.json, where
// DIR is the per-user application data folder.
namespace LocalIndex {

// DIR/Parvel/files.json; empty when `applicationDataDir` is empty.
QString path(const QString& applicationDataDir);

// path(Paths::applicationDataDir()): the index of this user.
QString userPath();

// The files in the index under `applicationDataDir`, in its order; none
// when there is no index or it cannot be read or decoded (the server's list
// is the truth, the index only a copy).
QList<SharedFile> read(const QString& applicationDataDir);

// Replaces the index under `applicationDataDir` with `files`, atomically and
// readable by the owner only. Creates the folders it needs. False when
// anything failed; the previous index is then left as it was.
bool write(const QString& applicationDataDir, const QList<SharedFile>& files);

} // namespace LocalIndex
