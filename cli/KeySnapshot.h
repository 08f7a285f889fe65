// A key tree held in memory: what copy reads before it writes anything, and
// the two sides compare lays next to each other, whether read from the
// registry or from a .reg file. Also the identity of a key path, so that
// copy can see a destination inside its source and a .reg file can be
// searched for a key spelt another way.
#pragma once

#include <string>
#include <vector>

#include "cli/RegPath.h"
#include "cli/WideKey.h"

namespace corvane::cli {

struct KeySnapshot {
  std::wstring name;               // as stored; "" for the top key
  std::vector<NamedValue> values;  // in the registry's (or file's) order
  std::vector<KeySnapshot> subkeys;
};

// How much of a key a snapshot holds below its own values.
enum class SnapshotDepth {
  kValues,       // no subkeys at all
  kSubkeyNames,  // the subkeys, each with its name only
  kTree,         // the whole tree
};

// Reads `key` (shown as `path` in failures) through the wide functions.
KeySnapshot ReadKeySnapshot(const WideKey& key, const std::wstring& path,
                            SnapshotDepth depth);

// The key `path` as a .reg file holds it: every [key] section at or below
// it, values in the file's order (a repeated name takes the later data),
// subkeys in the registry's order. Sections and their parents count as keys
// whether or not they list values. Fails, naming the file, when it can't be
// read, is malformed (with its line), deletes anything ([-key], "name"=-), or
// doesn't hold the key.
KeySnapshot ReadRegFileSnapshot(const std::wstring& fileName,
                                const KeyPath& path, SnapshotDepth depth);

// The path's components folded as the registry compares names, with
// HKEY_CLASSES_ROOT spelt as the machine's classes it is made from
// (HKEY_LOCAL_MACHINE\SOFTWARE\Classes); equal for two spellings of one key.
std::vector<std::u16string> FoldedPath(const KeyPath& path);
// Every place `path` may name: the merged classes root names the user's
// copy as well as the machine's.
std::vector<std::vector<std::u16string>> FoldedPlaces(const KeyPath& path);

// The name as the registry compares it.
std::u16string FoldedName(const std::wstring& name);

}  // namespace corvane::cli
