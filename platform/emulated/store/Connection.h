// One connection to a store's database: opening it (a file, or a fresh
// registry in memory while no file exists), waiting for another process's
// write lock up to WaitLimit(), transactions, checkpoints, and what a failed
// SQLite call means to a registry caller. The first failure that makes the
// store unusable is kept as Problem() and closes the connection.
//
// A write runs between BeginWrite and Commit/Rollback and holds SQLite's
// write lock only for that time; the reads of one registry call run in one
// read transaction (BeginRead/EndRead), so a call never mixes two states.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Platform.h"
#include "platform/emulated/store/Sql.h"

namespace corvane::platform::emulated {

class Connection {
 public:
  Connection() = default;
  ~Connection() { Close(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // The database file this connection opens, with no problem yet.
  void Aim(std::string db);
  const std::string& Path() const { return path_; }
  const std::string& Problem() const { return problem_; }
  // Closes, and keeps `problem` as the reason the store can't be used.
  void Refuse(std::string problem);

  bool IsOpen() const { return db_ != nullptr; }
  // The fresh registry in memory that stands for a store without a file.
  bool InMemory() const { return memory_; }

  // Opens the file with SQLite (its stamp and schema are Schema's), with
  // the wait for locks and the fold registered.
  LONG OpenFile(bool create);
  // The last failure was a lock held by another process: worth a retry.
  bool BusyFailure() const { return busyFailure_; }
  LONG OpenMemory();
  // A file nobody else sees, built without a log (see BuildAside).
  LONG OpenAside();
  // The connection's settings for calls of a row or two, and the log's
  // checkpoints kept for after a commit is published (see Commit).
  LONG Configure();
  // Prepares every statement.
  LONG Prepare();
  void Close();

  // The reason becomes Problem() ("<db>: <reason>", SQLite's message when
  // `what` is empty); the connection closes. ERROR_BADDB. An I/O failure or
  // a full disk with no `what` is no problem of the store's: the connection
  // closes, to be opened again by the next call, and the answer is
  // ERROR_REGISTRY_IO_FAILED.
  LONG Fail(int rc, std::string_view what);
  // What a failed SQLite call means to a registry caller: a store that went
  // bad answers as a corrupt registry, everything else (a wait that ran
  // out, a full disk) as an I/O failure the caller may retry.
  LONG Status(int rc);
  LONG Exec(const char* sql);

  sqlite3* db() { return db_; }
  Statements& st() { return *st_; }

  LONG BeginRead();
  void EndRead();
  LONG BeginWrite();
  // `durable`: synced to disk (synchronous=FULL). SQLite's result code;
  // the transaction is over when it is SQLITE_DONE.
  int Commit(bool durable);
  void Rollback();
  bool InRead() const { return inRead_; }
  bool InWrite() const { return inWrite_; }
  // Something changed in the current write transaction.
  void MarkWritten() { written_ = true; }
  bool Written() const { return written_; }
  // `rows` rows written; while a build aside runs, every so many of them
  // start their way to the disk through `WriteBackThrough`'s descriptor.
  void Wrote(std::size_t rows);
  void WriteBackThrough(int fd) { writebackFd_ = fd; }

  // The write lock, if nobody holds it, with no wait: true when taken, and
  // then released with Rollback.
  bool TryWriteLock();

  // After bulk work: moves the log into the database without waiting for
  // readers.
  void Checkpoint();
  // After a commit, with the writers' turn held: a log this long goes into
  // the database, without waiting for readers; a longer one waits a little
  // for readers to leave it, so that the next commit starts it over (see
  // docs/emulated-registry.md, "The log").
  void CheckpointIfLong();
  // A page cache large enough for a bulk write to stay out of the log until
  // it commits (on), or the small one that calls of a row or two and
  // subtree scans need (off, the default).
  void BulkCache(bool on);

  // The header of the log's index, shared by every connection, as it
  // stands: SQLite writes a new one at every commit, and when the log
  // starts over. False when there is none to read (no log, a store in
  // memory) or it is being written.
  using LogHeader = std::array<std::uint32_t, 12>;
  bool ReadLogHeader(LogHeader& header) const;
  // `to` is the same log as `from` (the same salt) with more frames in it:
  // a commit landed between the two.
  static bool LogGrew(const LogHeader& from, const LogHeader& to);

  // See platform::DisableSqliteMemoryStatistics.
  static void DisableMemoryStatistics();
  // The most a call waits for another process's write, in milliseconds:
  // CORVANE_REGISTRY_TIMEOUT_MS, default 10000.
  static int WaitLimit();

  // Bounded waiting for another process's write lock.
  struct Waiting {
    std::chrono::steady_clock::time_point since;
    bool never = false;  // give up at once: a try, not a need
    int limitMs = 0;     // a shorter wait than WaitLimit(), when not 0
  };

 private:
  // A checkpoint of that SQLite mode that leaves what readers still need.
  void CheckpointWithoutWaiting(int mode);

  sqlite3* db_ = nullptr;
  std::unique_ptr<Statements> st_;
  Waiting waiting_;
  std::string path_;
  std::string problem_;
  bool memory_ = false;
  bool busyFailure_ = false;  // the last Fail was a lock held elsewhere
  bool inRead_ = false;
  bool inWrite_ = false;
  bool written_ = false;
  // Pages in the log after the last commit, and when this connection last
  // tried to make it start over.
  int logFrames_ = 0;
  int restartTried_ = 0;
  static constexpr std::size_t kRowsPerWriteback = 8192;
  int writebackFd_ = -1;
  std::size_t writtenRows_ = 0;
};

}  // namespace corvane::platform::emulated
