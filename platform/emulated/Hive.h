// The emulated registry's persistence: the tree kept in a regedit-format .reg
// file (CORVANE_REGISTRY, or ${XDG_DATA_HOME:-$HOME/.local/share}/corvane/
// registry.reg).
#pragma once

#include <string>

namespace corvane::platform::emulated {

class KeyTree;

// Called once, under the registry's lock, before the first registry call is
// answered. Fills `tree` from the hive file (a missing file leaves the fresh
// tree as it is). Returns "" or the reason the hive can't be used, as
// "<file>:<line>: <what is wrong>".
std::string LoadHive(KeyTree& tree);

// Writes `tree` to the hive file atomically. Returns "" or the reason.
std::string SaveHive(const KeyTree& tree);

}  // namespace corvane::platform::emulated
