// Workloads shared by the Google Benchmark suite and the self-timing Windows
// harness: generated key trees, a key full of values, and the 100k-key hive,
// all built through the platform functions so that the same code runs on the
// emulated registry and on the real one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "registry/IUseRegItems.h"

namespace corvane::bench {

using platform::DWORD;
using platform::HKEY;

// prefix followed by n in decimal ("k12").
std::string Numbered(std::string_view prefix, std::int64_t n);

// Everything the benchmarks create lives below this key of HKEY_CURRENT_USER.
inline constexpr const char* kScratchPath = "Software\\Corvane Bench";

// Creates (or opens) the scratch key; 0 when the registry refuses.
HKEY OpenScratch();
// Removes the scratch key with everything below it.
void RemoveScratch();

// Creates `name` below `parent` as the top of a tree of `keys` keys in all
// (the top included). Key i has the keys fanout*i+1 ... fanout*i+fanout as
// its subkeys, so the tree is complete and about log_fanout(keys) deep.
// Returns the number of keys created (less than `keys` only on failure).
std::int64_t BuildTree(HKEY parent, const std::string& name, std::int64_t keys,
                       int fanout = 10);

// Gives `key` `count` REG_SZ values named "v0", "v1", ...
void AddValues(HKEY key, int count);

// A visitor that accepts nothing and counts what it was shown.
class CountingVisitor : public IUseRegItems {
 public:
  bool UseNode(const std::shared_ptr<CRegNode>&, std::int32_t) override {
    ++nodes;
    return false;
  }
  bool UseItem(const std::shared_ptr<CRegItem>&, std::int32_t) override {
    ++items;
    return false;
  }
  std::int64_t nodes = 0;
  std::int64_t items = 0;
};

// Walks the whole tree at HKEY_CURRENT_USER\<path> with WalkAllNodes;
// returns the number of keys visited.
std::int64_t WalkTree(const std::string& path);
// Walks the values of HKEY_CURRENT_USER\<path> with WalkItems; returns the
// number of values visited.
std::int64_t WalkValues(const std::string& path);

// The benchmark hive: about `keys` keys below
// HKEY_LOCAL_MACHINE\SOFTWARE\Classes, shaped like a machine's class
// registrations (AppID entries with a name and an authentication level, CLSID
// entries with an InprocServer32 subkey), plus the two planetarium
// registrations the repair looks for. The driver's registration is missing, so
// the repair creates it.
struct HiveEntry {
  std::string path;  // below HKEY_LOCAL_MACHINE, no leading backslash
  struct Value {
    std::string name;
    DWORD type;
    std::string text;     // REG_SZ
    std::uint32_t dword;  // REG_DWORD
  };
  std::vector<Value> values;
};
std::vector<HiveEntry> HiveEntries(std::int64_t keys);

// The entries as a regedit Version 5.00 file (UTF-16LE, CRLF).
std::string HiveFileBytes(const std::vector<HiveEntry>& entries);
// The entries written into the registry through the platform functions.
// Returns the first failing status, or 0.
platform::LONG ImportEntries(const std::vector<HiveEntry>& entries);

}  // namespace corvane::bench
