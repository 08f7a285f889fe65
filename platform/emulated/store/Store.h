// The emulated registry's shared store: one SQLite database (WAL mode) that
// every process naming the same store reads and writes, plus a change
// counter in a small shared-memory file beside it that lets each process keep
// a local view of the database and know, without asking SQLite, whether that
// view is still current.
//
// The store knows rows, not registry rules: keys (id, parent, name, class,
// volatility, last write time) and values (key, creation order, name, type,
// data). Key ids are never reused, so a key deleted and created again is a
// different key to anything that remembered the old id.
//
// Transactions. A write runs between BeginWrite and Commit/Rollback and holds
// SQLite's write lock only for that time; waiting for another process's
// write is bounded by WaitLimit() and then fails with
// ERROR_REGISTRY_IO_FAILED. Reads of one registry call run in one read
// transaction (BeginRead/EndRead), so a call never mixes two states.
//
// The counter: a writer makes it odd before its commit and even again after
// (compare-and-swap), so a commit is always bracketed by two changes. A view
// whose counter is even and unchanged is current; an odd counter means a
// write is under way or its writer died between commit and counter update,
// and views must not trust their cache until it is even again (any process
// holding the write lock can settle it).
//
// Not thread-safe: the registry functions hold one mutex around every use.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "platform/emulated/store/StoreLocation.h"

struct sqlite3;
struct sqlite3_stmt;

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

// Now, in FILETIME ticks (100 ns since 1601), as last write times count.
std::uint64_t FileTimeNow();

// The key a name is compared and ordered by: the folded name's UTF-16 units,
// each written as UTF-8 writes a code point (one byte for ASCII), so that
// byte order is the registry's case-insensitive order (by code unit).
std::string FoldKey(std::u16string_view name);

class Store {
 public:
  Store();
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // Binds to the store the environment names (see StoreLocation), opening it on
  // first use and again when the environment names another one. `reopened`
  // tells the caller that ids it holds from before mean nothing any more.
  // Returns ERROR_SUCCESS or ERROR_BADDB with Problem() set.
  LONG Bind(bool& reopened);
  // "" or "<file>: <reason>" / "<file>:<line>: <what is wrong>".
  const std::string& Problem() const { return problem_; }
  // The database file (or, while no store exists yet, where it will be).
  const std::string& Path() const { return dbPath_; }
  // An old hive the bound store is still to be made from, or "": the layer
  // above imports it (see MigrateHive) before the store serves a call.
  const std::string& OldHive() const { return oldHive_; }
  // Makes the store unusable to this process, for `problem`, until the
  // environment names another one.
  void Refuse(std::string problem);
  // Drops the connection without touching the file: at fork, so that
  // neither process uses a connection the other also holds.
  void Disconnect();

  // The shared change counter; 1 (odd: never trust) when there is none.
  std::uint64_t Counter() const;

  // An odd counter seen again and again: if no write is under way, its
  // writer died after committing; make it even so views can cache again.
  void Settle(std::uint64_t odd);

  LONG BeginRead();
  void EndRead();
  LONG BeginWrite();
  // `durable`: this commit is synced to disk (synchronous=FULL), as
  // RegFlushKey asks. Returns the counter value the commit left.
  LONG Commit(bool durable, std::uint64_t& counter);
  void Rollback();
  bool InWrite() const { return inWrite_; }
  // Something changed in the current write transaction.
  void MarkWritten() { written_ = true; }
  bool Written() const { return written_; }
  // After bulk work: moves the log into the database without waiting for
  // readers.
  void Checkpoint();
  // A page cache large enough for a bulk write to stay out of the log until
  // it commits (on), or the small one that calls of a row or two and
  // subtree scans need (off, the default).
  void BulkCache(bool on);

  // The bound store has no file yet: the registry is a fresh one, in memory
  // until the first write makes the file.
  bool NotMadeYet() const { return memory_; }
  // Makes the file of a store that has none at once: `fill` writes rows into
  // a fresh store built beside it, which nobody else sees and which keeps no
  // log, and when `fill` returns true that store takes the store's name,
  // whole, unless a store appeared there meanwhile. `placed` says whether
  // it did; when not, the store is as it was.
  void BuildAside(const std::function<bool(Store&)>& fill, bool& placed);

  // Reads (inside a read or write transaction).
  LONG LoadKey(std::int64_t id, KeyRow& row, bool& found);
  LONG LoadChild(std::int64_t parent, std::u16string_view name, KeyRow& row,
                 bool& found);
  // The key `top` and keys below it, parents before their children, at
  // most `limit` of them, into `keys`; `complete` says for each key taken
  // whether all its children were taken too. Values of every key taken are
  // in `values`. A sink that stops the reading gets no values.
  LONG LoadSubtree(std::int64_t top, std::size_t limit, KeySink& keys,
                   std::vector<bool>& complete, std::vector<ValueRow>& values);
  LONG LoadValues(std::int64_t key, std::vector<ValueRow>& values);
  LONG HasChildren(std::int64_t key, bool& any);
  LONG FindValue(std::int64_t key, std::u16string_view name, std::int64_t& ord,
                 bool& found);
  // The creation order a new value of the key takes.
  LONG NextOrd(std::int64_t key, std::int64_t& ord);

  // Writes (inside a write transaction).
  LONG InsertKey(std::int64_t parent, std::u16string_view name,
                 const std::u16string* className, bool isVolatile,
                 std::uint64_t time, std::int64_t& id);
  LONG SetClass(std::int64_t key, std::u16string_view className);
  LONG Touch(std::int64_t key, std::uint64_t time);
  // Replaces type and data of the value at `ord`, or inserts a new value
  // there when `insert`.
  LONG PutValue(std::int64_t key, std::int64_t ord, bool insert,
                std::u16string_view name, DWORD type,
                std::span<const BYTE> data);
  // New values, as PutValue inserts them one by one, in fewer statements.
  LONG InsertValues(std::span<const ValueRow> rows);
  LONG DeleteValue(std::int64_t key, std::int64_t ord);
  // The key and everything below it; `leaf`: the key has no subkeys.
  // `values` false: the key is known to have none (a leaf only).
  LONG DeleteTree(std::int64_t key, bool leaf = false, bool values = true);
  // Notes kept in the store's meta table, by name.
  LONG Noted(const char* name, bool& found);
  LONG Note(const char* name, const std::string& value);
  // Empties the store back to what a fresh one holds.
  LONG Reset();

  // See platform::DisableSqliteMemoryStatistics.
  static void DisableMemoryStatistics();

  // The most a call waits for another process's write, in milliseconds:
  // CORVANE_REGISTRY_TIMEOUT_MS, default 10000.
  static int WaitLimit();

 private:
  struct Statements;

  LONG Open();
  LONG Rebound();
  // A checkpoint of that SQLite mode that leaves what readers still need.
  void CheckpointWithoutWaiting(int mode);
  // The two ways LoadSubtree reads a subtree. A scan takes the whole
  // subtree, gives up for the other way, or is stopped by its sink.
  enum class Scan { kWhole, kGaveUp, kStopped };
  LONG ScanSubtree(std::int64_t top, std::size_t limit, KeySink& keys,
                   std::size_t& taken, std::vector<ValueRow>& values,
                   Scan& scan);
  LONG WalkSubtree(std::int64_t top, std::size_t limit, KeySink& keys,
                   std::vector<bool>& complete, std::vector<ValueRow>& values);
  LONG OpenFile(bool create);
  LONG OpenFileOnce(bool create);
  LONG OpenMemory();
  void Close();
  LONG Prepare();
  LONG Configure(bool fresh);
  LONG CheckStamp(bool& fresh, int& version);
  LONG Upgrade();
  LONG KnowLastKeyId();
  LONG NewKeyId(std::int64_t& id);
  LONG SaveLastKeyId();
  LONG OpenAside();
  LONG FinishAside();
  LONG Seed();
  LONG DropStaleVolatile();
  LONG MapCounter(bool create);
  void UnmapCounter();
  LONG Exec(const char* sql);
  LONG Fail(int rc, std::string_view what);
  LONG Status(int rc);
  bool MemoryStoreOutdated() const;

  sqlite3* db_ = nullptr;
  std::unique_ptr<Statements> st_;
  std::string envPath_;  // CORVANE_REGISTRY as last seen
  std::string dbPath_;
  std::string problem_;
  std::string oldHive_;
  // No store file yet: a fresh registry in memory.
  bool memory_ = false;
  // Pages in the log after the last commit.
  int logFrames_ = 0;
  // The environment when it last named the bound store.
  EnvironmentWatch environment_;
  bool busyFailure_ = false;  // the last Fail was a lock held elsewhere
  bool inRead_ = false;
  bool inWrite_ = false;
  bool written_ = false;
  bool bound_ = false;
  // The highest key id given, once read in this write transaction (0 until
  // then), and whether the commit must save it.
  std::int64_t lastKeyId_ = 0;
  bool lastKeyIdChanged_ = false;
  std::uint64_t* counter_ = nullptr;
  std::uint64_t mid_ = 0;
  std::string bootId_;
  // While a build aside runs: a descriptor of its file, through which the
  // rows written are sent on their way to the disk every so many.
  static constexpr std::size_t kRowsPerWriteback = 8192;
  void CountWritten(std::size_t rows);
  int writebackFd_ = -1;
  std::size_t writtenRows_ = 0;
};

}  // namespace corvane::platform::emulated
