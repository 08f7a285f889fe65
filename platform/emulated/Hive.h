// The emulated registry's persistence: the tree kept in a regedit-format .reg
// file (CORVANE_REGISTRY, or ${XDG_DATA_HOME:-$HOME/.local/share}/corvane/
// registry.reg), looked up in the environment at each call. The file's
// location, lock and atomic replacement are in HiveFile.h, its format in
// RegFile.h.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace corvane::platform::emulated {

class KeyTree;

// Called once, under the registry's lock, before the first registry call is
// answered. Takes the hive's lock for the rest of the process (waiting while
// another process holds it), then fills `tree` from the hive file (a missing
// file leaves the fresh tree as it is). Returns "" or the reason the hive
// can't be used: "<file>:<line>: <what is wrong>" for a file that can't be
// parsed, "<file>: <system reason>" for one that can't be read. The file is
// never written on this path.
std::string LoadHive(KeyTree& tree);

// Writes `tree` to the hive file atomically. Returns "" or the reason,
// "<file>: <system reason>"; on failure the file on disk is unchanged.
std::string SaveHive(const KeyTree& tree);

// The two halves without the file: a .reg file's bytes into `tree` (cleared
// again when the bytes can't be parsed), and `tree` as a .reg file.
std::string ReadHive(std::span<const std::uint8_t> bytes,
                     std::string_view file_name, KeyTree& tree);
std::string WriteHive(const KeyTree& tree, std::string& bytes);

}  // namespace corvane::platform::emulated
