#pragma once

#include <QString>

// Per-user folders of this machine.
namespace Paths {

// The per-user application data folder ($XDG_DATA_HOME, ~/.local/share);
// empty when unknown.
QString applicationDataDir();
// The per-user cache folder ($XDG_CACHE_HOME, ~/.cache); empty when unknown.
QString cacheDir();

} // namespace Paths
