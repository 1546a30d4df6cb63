#pragma once

#include <QString>

// Per-user folders of this machine.
namespace Paths {

// The per-user application data folder ($XDG_DATA_HOME, ~/.local/share);
// empty when unknown.
QString applicationDataDir();

} // namespace Paths
