// Where the emulated registry lives, and reading a .reg file whole. The
// store itself is in Store.h; an old hive at this path is imported into it.
#pragma once

#include <string>

namespace corvane::platform::emulated {

// CORVANE_REGISTRY when set and not empty, else
// ${XDG_DATA_HOME:-$HOME/.local/share}/corvane/registry.reg (a relative
// XDG_DATA_HOME is ignored, as the XDG rules ask). "" when neither
// CORVANE_REGISTRY nor HOME tells where. The store is DatabasePathFor() it.
std::string HivePath();

}  // namespace corvane::platform::emulated
