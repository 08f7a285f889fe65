// Workloads shared by the Google Benchmark suite and the self-timing Windows
// harness: generated key trees, a key full of values, and the 100k-key classes
// file, all built through the platform functions so that the same code runs on
// the emulated registry and on the real one.
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

// The same tree as BuildTree, as a regedit file whose keys come depth first
// (each after its parent), for platform::ImportRegFile: one transaction on
// the emulated registry instead of one commit per key.
std::string TreeFileBytes(const std::string& path, std::int64_t keys,
                          int fanout = 10);
// Imports TreeFileBytes for HKEY_CURRENT_USER\<kScratchPath>\<name>; false,
// with the reason on stderr, when the registry refused it.
bool ImportTree(const std::string& name, std::int64_t keys);

// Gives `key` `count` REG_SZ values named "v0", "v1", ...
void AddValues(HKEY key, int count);

// Writes `count` REG_DWORD values named prefix0, prefix1, ... into `key`,
// one RegSetValueExA each; returns how many the registry accepted.
std::int64_t WriteValues(HKEY key, const std::string& prefix,
                         std::int64_t count);
// The number of values `key` holds, or -1.
std::int64_t CountValues(HKEY key);

// Change propagation between two processes. The beater sets the value
// "Beat" of `key` `count` times, `gapMicros` apart, to the beat's number
// (from 1) and the steady clock's nanoseconds just before its
// RegSetValueExA, then to an end mark; the listener polls it with
// RegQueryValueExA and, for each beat, records how long after its stamp it
// was seen. A beat overwritten before the listener saw it is missed: it
// counts as seen when the next one was, which is at least a gap later than
// its own stamp. Both clocks are the machine's monotonic clock, so stamps
// compare across processes.
inline constexpr const char* kBeatValue = "Beat";
inline constexpr const char* kListeningValue = "Listening";
// Waits (up to `waitSeconds`) for a listener to say it is polling, then
// beats; false when no listener came.
bool Beat(HKEY key, int count, int gapMicros, double waitSeconds);
struct Seen {
  double latency;  // nanoseconds
  bool missed;
};
// Says it is listening, then polls until the end mark or `timeoutSeconds`;
// every beat in order, seen or missed. `notified`: instead of polling, it
// reads the beat each time RegNotifyChangeKeyValue (synchronous, a value
// set at `key`) returns, and registers again; the timeout is then only
// looked at between notifications.
std::vector<Seen> Listen(HKEY key, int gapMicros, double timeoutSeconds,
                         bool notified = false);
// Nanoseconds on the monotonic clock.
std::int64_t SteadyNanos();

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

// The classes file, the benchmark's .reg file: about `keys` keys below
// HKEY_LOCAL_MACHINE\SOFTWARE\Classes, shaped like a machine's class
// registrations (AppID entries with a name and an authentication level, CLSID
// entries with an InprocServer32 subkey), plus the two planetarium
// registrations the repair looks for. The driver's registration is missing, so
// the repair creates it.
struct ClassesEntry {
  std::string path;  // below HKEY_LOCAL_MACHINE, no leading backslash
  struct Value {
    std::string name;
    DWORD type;
    std::string text;     // REG_SZ
    std::uint32_t dword;  // REG_DWORD
  };
  std::vector<Value> values;
};
std::vector<ClassesEntry> ClassesEntries(std::int64_t keys);

// The entries as a regedit Version 5.00 file (UTF-16LE, CRLF).
std::string ClassesFileBytes(const std::vector<ClassesEntry>& entries);
// The entries written into the registry through the platform functions.
// Returns the first failing status, or 0.
platform::LONG ImportEntries(const std::vector<ClassesEntry>& entries);

}  // namespace corvane::bench
