// Reading a key and the keys below it at once, with their values: what a
// walk goes on to ask for after listing a key's subkeys. Parents come before
// their children.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/Platform.h"
#include "platform/emulated/store/Connection.h"
#include "platform/emulated/store/Row.h"
#include "platform/emulated/store/Rows.h"

namespace corvane::platform::emulated {

// Takes the keys of a subtree as they are read, so that they need not be
// held twice on the way.
class KeySink {
 public:
  // At most this many keys will come.
  virtual void Expect(std::size_t keys) = 0;
  // False: read no further.
  virtual bool Take(KeyRow&& row) = 0;
  // The keys taken so far are not the subtree's list: it comes again.
  virtual void Restart() = 0;

 protected:
  ~KeySink() = default;
};

// What a subtree read gives besides its keys.
struct SubtreeRest {
  // For each key taken, whether all its children were taken too.
  std::vector<bool> complete;
  // The values of every key taken; none when the sink stopped the read.
  std::vector<ValueRow> values;
};

class SubtreeScan {
 public:
  SubtreeScan(Connection& connection, Rows& rows)
      : c_(connection), rows_(rows) {}

  // The key `top` and keys below it, at most `limit` of them, into `keys`
  // (inside a read or write transaction).
  LONG Load(std::int64_t top, std::size_t limit, KeySink& keys,
            SubtreeRest& rest);

 private:
  // A scan takes the whole subtree, gives up for a walk, or is stopped by
  // its sink.
  enum class Scan { kWhole, kGaveUp, kStopped };
  LONG ScanIds(std::int64_t top, std::size_t limit, KeySink& keys,
               std::size_t& taken, std::vector<ValueRow>& values, Scan& scan);
  LONG Walk(std::int64_t top, std::size_t limit, KeySink& keys,
            SubtreeRest& rest);

  Connection& c_;
  Rows& rows_;
};

}  // namespace corvane::platform::emulated
