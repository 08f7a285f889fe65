// The rows the store holds: keys (id, parent, name, class, volatility, last
// write time) and values (key, creation order, name, type, data). Key ids
// are never reused, so a key deleted and created again is a different key to
// anything that remembered the old id.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace corvane::platform::emulated {

struct KeyRow {
  std::int64_t id = 0;
  std::int64_t parent = 0;  // 0 for a root key
  std::u16string name;
  std::u16string className;
  bool isVolatile = false;
  std::uint64_t lastWrite = 0;  // FILETIME ticks
};

struct ValueRow {
  std::int64_t key = 0;
  std::int64_t ord = 0;  // creation order within the key
  std::u16string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// The key a name is compared and ordered by: the folded name's UTF-16 units,
// each written as UTF-8 writes a code point (one byte for ASCII), so that
// byte order is the registry's case-insensitive order (by code unit).
std::string FoldKey(std::u16string_view name);

// Values as the store reads them, each key's by name, put in creation order
// within each key; the keys' order stays as it was.
void SortByOrd(std::vector<ValueRow>::iterator first,
               std::vector<ValueRow>::iterator last);

// Now, in FILETIME ticks (100 ns since 1601), as last write times count.
std::uint64_t FileTimeNow();

}  // namespace corvane::platform::emulated
