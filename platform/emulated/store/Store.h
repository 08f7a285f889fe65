// The emulated registry's shared store: one SQLite database (WAL mode) that
// every process naming the same store reads and writes, and the change
// counter beside it. Store composes the parts: where the store lives
// (StoreLocation), the connection and its transactions (Connection), the
// schema (Schema), the counter (ChangeCounter), the rows (Rows, SubtreeScan),
// the hives loaded into it (Mounts) and the build aside (BuildAside). It knows
// rows, not registry rules, and no handles.
//
// Not thread-safe: the registry functions hold one mutex around every use.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/Platform.h"
#include "platform/emulated/store/ChangeCounter.h"
#include "platform/emulated/store/ChangeSet.h"
#include "platform/emulated/store/Connection.h"
#include "platform/emulated/store/Mounts.h"
#include "platform/emulated/store/Rows.h"
#include "platform/emulated/store/StoreLocation.h"
#include "platform/emulated/store/SubtreeScan.h"

namespace corvane::platform::emulated {

class Store {
 public:
  Store();
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // Binds to the store the environment names (see StoreLocation), opening
  // it on first use and again when the environment names another one.
  // `reopened` tells the caller that ids it holds from before mean nothing
  // any more. Returns ERROR_SUCCESS or ERROR_BADDB with Problem() set.
  LONG Bind(bool& reopened);
  // "" or "<file>: <reason>" / "<file>:<line>: <what is wrong>".
  const std::string& Problem() const { return connection_.Problem(); }
  // "" or why this process may read the store but not write it ("<file>:
  // <reason>"): its writes answer ERROR_ACCESS_DENIED.
  const std::string& Unwritable() const { return unwritable_; }
  // The database file (or, while no store exists yet, where it will be).
  const std::string& Path() const { return connection_.Path(); }
  // An old hive the bound store is still to be made from, or "": the layer
  // above imports it (see MigrateHive) before the store serves a call.
  const std::string& OldHive() const { return oldHive_; }
  // Makes the store unusable to this process, for `problem`, until the
  // environment names another one.
  void Refuse(std::string problem);
  // Drops the connection without touching the file: at fork, so that
  // neither process uses a connection the other also holds.
  void Disconnect();

  LONG BeginRead() { return connection_.BeginRead(); }
  void EndRead() { connection_.EndRead(); }
  // Takes the writers' turn, then SQLite's write lock (see ChangeCounter).
  LONG BeginWrite();
  // What this write changes, for other processes' views: everything unless
  // its writer names the keys (after BeginWrite, Changes().Clear() and
  // Add each).
  ChangeSet& Changes() { return changes_; }
  // `durable`: this commit is synced to disk (synchronous=FULL), as
  // RegFlushKey asks. `counter`: the counter value the commit left.
  LONG Commit(bool durable, std::uint64_t& counter);
  // For tests: runs while a commit is under way (the counter odd), before
  // it lands (false) and once it landed, before it is told (true).
  std::function<void(bool landed)> whileCommitting;
  void Rollback();
  bool InWrite() const { return connection_.InWrite(); }
  void MarkWritten() { connection_.MarkWritten(); }
  bool Written() const { return connection_.Written(); }
  void Checkpoint() { connection_.Checkpoint(); }
  void BulkCache(bool on) { connection_.BulkCache(on); }
  bool ReadLogHeader(Connection::LogHeader& header) const {
    return connection_.ReadLogHeader(header);
  }

  // The bound store has no file yet: the registry is a fresh one, in memory
  // until the first write makes the file.
  bool NotMadeYet() const { return connection_.InMemory(); }
  // Makes the file of a store that has none at once (see BuildAside.h).
  // True when it did; when not, the store is as it was.
  bool BuildAside(const std::function<bool(Rows&)>& fill);

  Rows& rows() { return rows_; }
  SubtreeScan& subtree() { return subtree_; }
  Mounts& mounts() { return mounts_; }
  ChangeCounter& counter() { return counter_; }
  const ChangeCounter& counter() const { return counter_; }

 private:
  LONG Open();
  LONG Rebound();
  LONG OpenFile(bool create);
  LONG OpenFileOnce(bool create);
  LONG OpenMemory();
  LONG MakeFile();
  LONG AddViewKeys();
  LONG DropStaleVolatile();

  Connection connection_;
  ChangeCounter counter_{connection_};
  std::string boot_;
  Rows rows_{connection_, boot_};
  ChangeSet changes_;
  SubtreeScan subtree_{connection_, rows_};
  Mounts mounts_{connection_, boot_};
  std::string envPath_;  // CORVANE_REGISTRY as last seen
  std::string oldHive_;
  std::string unwritable_;
  // The environment when it last named the bound store.
  EnvironmentWatch environment_;
  bool bound_ = false;
};

}  // namespace corvane::platform::emulated
