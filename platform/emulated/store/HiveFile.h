// Hive files: one key's subtree in a file of its own, in the store's own
// schema (Schema.h) and marked as a hive, so that SQLite's tools can look
// inside one and the store's code reads it. A hive file is one file with no
// log beside it, written whole beside its name and moved into place, so a
// reader never meets half of one. The hive's top key is its first key (id
// 1, parent 0, no name of its own: it takes the name it is loaded under).
//
// Statuses are Windows' for the file: 2 (missing), 3 (a missing folder), 5
// (no permission, a folder), 183 (a file where a new one was to go), 1017
// (not a hive), 1009 (a hive that is damaged), 1013 (a write that failed).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "platform/emulated/store/Row.h"
#include "platform/emulated/store/Rows.h"
#include "platform/emulated/store/SubtreeScan.h"

namespace corvane::platform::emulated {

inline constexpr LONG kAlreadyExists = 183;  // ERROR_ALREADY_EXISTS

struct Hive {
  // The top key first, parents before their children, numbered from 1 in
  // that order; values refer to those numbers.
  std::vector<KeyRow> keys;
  std::vector<ValueRow> values;
};

// The subtree of the store's key `top` (inside a read or write
// transaction), its volatile keys left out as Windows leaves them out of a
// saved hive. ERROR_KEY_DELETED when `top` is gone.
LONG CollectHive(SubtreeScan& scan, std::int64_t top, Hive& hive);

// Reads and checks a hive file without writing to it or beside it.
LONG ReadHive(const std::string& path, Hive& hive);

// Writes `hive` to `path`: a new file only (183 when one is there), or,
// with `replace`, in place of the one there.
LONG WriteHive(const std::string& path, const Hive& hive, bool replace);

// Puts `hive` into the store (inside a write transaction): its top as the
// new key `name` below `parent`, or, when `top` is not 0 on entry, into
// that existing key, which must have no subkeys or values left. `top` is
// the key the hive's top became.
LONG PlantHive(Rows& rows, const Hive& hive, std::int64_t parent,
               std::u16string_view name, std::int64_t& top);

}  // namespace corvane::platform::emulated
