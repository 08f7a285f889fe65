// One connection to a store's database (Connection.h).
#include "platform/emulated/store/Connection.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>

#include "platform/emulated/store/ChecksumVfs.h"
#include "platform/emulated/system/SystemCalls.h"

namespace corvane::platform::emulated {
namespace {

// A call reads or changes a few pages and a subtree is read once in order,
// into the view: a small page cache serves them, where a large one would
// hold a second copy of what a walk loaded. A bulk write holds its pages
// until it commits.
constexpr const char* kSmallCache = "PRAGMA cache_size=-2048;";
constexpr const char* kBulkCache = "PRAGMA cache_size=-65536;";

// The log's length, in pages, that a commit checkpoints at (SQLite's own
// default).
constexpr int kCheckpointFrames = 1000;
// The log's length, in pages, at which a commit makes it start over: 16 MB
// of 2 KB pages. Writers that keep overlapping readers would otherwise grow
// it for as long as they do.
constexpr int kRestartFrames = 8192;
// How long that commit waits for readers to leave the log, with the
// writers' turn held.
constexpr int kRestartWaitMs = 100;

// The log can only start over from its beginning when no process is reading
// it, so writers that keep overlapping grow it for as long as they do. Once
// the log starts over, its file is cut back to this many bytes, twice what a
// checkpoint leaves.
constexpr const char* kLogLimit = "PRAGMA journal_size_limit=4194304;";

// Short sleeps, so that writers taking turns lose little time, up to the
// wait limit.
int WaitBusy(void* context, int attempt) {
  auto* waiting = static_cast<Connection::Waiting*>(context);
  if (waiting->never) return 0;
  auto* started = &waiting->since;
  const auto now = std::chrono::steady_clock::now();
  if (attempt == 0) *started = now;
  const int limit =
      waiting->limitMs > 0 ? waiting->limitMs : Connection::WaitLimit();
  if (now - *started >= std::chrono::milliseconds(limit)) return 0;
  if (attempt < 20) {
    std::this_thread::yield();
  } else {
    std::this_thread::sleep_for(
        std::chrono::microseconds(attempt < 200 ? 50 : 500));
  }
  return 1;
}

// One step of a statement that returns no rows.
int Step(Stmt& stmt) { return stmt.Exec(); }

}  // namespace

void Connection::DisableMemoryStatistics() {
  // SQLITE_MISUSE once the library is initialized: then nothing changes.
  sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
}

int Connection::WaitLimit() {
  const char* limit = std::getenv("CORVANE_REGISTRY_TIMEOUT_MS");
  if (limit != nullptr && *limit != '\0') {
    char* end = nullptr;
    const long ms = std::strtol(limit, &end, 10);
    if (*end == '\0' && ms >= 0 && ms <= 3600000) return static_cast<int>(ms);
  }
  return 10000;
}

void Connection::Aim(std::string db) {
  Close();
  path_ = std::move(db);
  problem_.clear();
}

void Connection::Refuse(std::string problem) {
  problem_ = std::move(problem);
  Close();
}

void Connection::Close() {
  st_.reset();
  if (db_ != nullptr) sqlite3_close_v2(db_);
  db_ = nullptr;
  inRead_ = inWrite_ = written_ = false;
}

LONG Connection::Fail(int rc, std::string_view what) {
  if (!problem_.empty()) {
    Close();
    return ERROR_BADDB;
  }
  const int code = (db_ != nullptr ? sqlite3_errcode(db_) : rc) & 0xFF;
  const bool damaged =
      db_ != nullptr && sqlite3_extended_errcode(db_) == SQLITE_IOERR_DATA;
  busyFailure_ = code == SQLITE_BUSY || code == SQLITE_LOCKED ||
                 (rc & 0xFF) == SQLITE_BUSY;
  // A disk that is full or failing now may not be later: the caller may
  // retry, and its next call opens the store again.
  if (what.empty() && !damaged &&
      (code == SQLITE_IOERR || code == SQLITE_FULL)) {
    Close();
    return ERROR_REGISTRY_IO_FAILED;
  }
  std::string reason =
      db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  if (damaged) reason = "a page does not hold what was written to it (damaged)";
  if (!what.empty()) reason = std::string(what);
  problem_ = path_ + ": " + reason;
  Close();
  return ERROR_BADDB;
}

LONG Connection::Status(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
      return ERROR_SUCCESS;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      Fail(rc, {});
      return ERROR_BADDB;
    case SQLITE_IOERR:
      // A page that failed its checksum.
      if (db_ != nullptr &&
          sqlite3_extended_errcode(db_) == SQLITE_IOERR_DATA) {
        return Fail(rc, {});
      }
      return ERROR_REGISTRY_IO_FAILED;
    default:
      return ERROR_REGISTRY_IO_FAILED;
  }
}

LONG Connection::Exec(const char* sql) {
  return Status(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr));
}

LONG Connection::OpenMemory() {
  memory_ = true;
  const int rc = sqlite3_open_v2(
      ":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) return Fail(rc, {});
  if (RegisterFold(db_) != SQLITE_OK || Exec("PRAGMA encoding='UTF-16le'")) {
    return Fail(SQLITE_ERROR, {});
  }
  return ERROR_SUCCESS;
}

LONG Connection::OpenFile(bool create) {
  memory_ = false;
  busyFailure_ = false;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
  if (create) {
    const std::string folder =
        std::filesystem::path(path_).parent_path().string();
    if (const int error = CreateFolders(folder)) {
      return Fail(SQLITE_CANTOPEN, std::generic_category().message(error));
    }
    flags |= SQLITE_OPEN_CREATE;
  }
  const int rc =
      sqlite3_open_v2(path_.c_str(), &db_, flags, checksums::VfsName());
  if (rc != SQLITE_OK) {
    if (!create && Exists(path_) && System().access(path_.c_str(), R_OK) != 0) {
      return Fail(rc, std::generic_category().message(EACCES));
    }
    return Fail(rc, {});
  }
  sqlite3_busy_handler(db_, WaitBusy, &waiting_);
  if (RegisterFold(db_) != SQLITE_OK) return Fail(SQLITE_ERROR, {});
  return ERROR_SUCCESS;
}

LONG Connection::OpenAside() {
  memory_ = false;
  const std::string folder =
      std::filesystem::path(path_).parent_path().string();
  if (CreateFolders(folder) != 0) return ERROR_BADDB;
  const int rc = sqlite3_open_v2(
      path_.c_str(), &db_,
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
      checksums::VfsName());
  if (rc != SQLITE_OK || RegisterFold(db_) != SQLITE_OK) return ERROR_BADDB;
  // No log and no other process: pages go straight to the file as the
  // cache fills, and the cache's memory is used again, so a large one only
  // costs page faults here.
  const std::string setup =
      std::string(
          "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; "
          "PRAGMA locking_mode=EXCLUSIVE;") +
      kSmallCache;
  return Exec(setup.c_str()) ? ERROR_BADDB : ERROR_SUCCESS;
}

LONG Connection::Configure() {
  // No memory mapping: with a WAL that holds pages, every access to a
  // mapped page looks the page up in the WAL again, where the page cache
  // does it once per page.
  if (Exec("PRAGMA synchronous=NORMAL") || Exec("PRAGMA mmap_size=0") ||
      Exec(kSmallCache) || Exec(kLogLimit)) {
    return Fail(SQLITE_ERROR, {});
  }
  // Checkpoints are ours to run, after a commit is published.
  sqlite3_wal_hook(
      db_,
      [](void* self, sqlite3*, const char*, int frames) {
        auto* connection = static_cast<Connection*>(self);
        connection->logFrames_ = frames;
        // The log started over since.
        if (frames < connection->restartTried_) connection->restartTried_ = 0;
        return SQLITE_OK;
      },
      this);
  return ERROR_SUCCESS;
}

LONG Connection::Prepare() {
  st_ = std::make_unique<Statements>();
  if (st_->Prepare(db_) != SQLITE_OK) return Fail(SQLITE_ERROR, {});
  return ERROR_SUCCESS;
}

LONG Connection::BeginRead() {
  if (inRead_ || inWrite_) return ERROR_SUCCESS;
  const int rc = Step(st_->begin);
  if (rc != SQLITE_DONE) return Status(rc);
  inRead_ = true;
  return ERROR_SUCCESS;
}

void Connection::EndRead() {
  if (!inRead_) return;
  inRead_ = false;
  if (db_ == nullptr) return;
  Step(st_->commit);
}

LONG Connection::BeginWrite() {
  EndRead();
  const int rc = Step(st_->beginWrite);
  if (rc != SQLITE_DONE) return Status(rc);
  inWrite_ = true;
  written_ = false;
  return ERROR_SUCCESS;
}

int Connection::Commit(bool durable) {
  if (durable) Exec("PRAGMA synchronous=FULL");
  const int rc = Step(st_->commit);
  if (durable && db_ != nullptr) Exec("PRAGMA synchronous=NORMAL");
  if (rc == SQLITE_DONE) inWrite_ = written_ = false;
  return rc;
}

void Connection::Rollback() {
  if (!inWrite_) return;
  inWrite_ = false;
  written_ = false;
  if (db_ == nullptr) return;
  Step(st_->rollback);
}

bool Connection::TryWriteLock() {
  if (db_ == nullptr || inRead_ || inWrite_ || st_ == nullptr) return false;
  waiting_.never = true;
  const int rc = Step(st_->beginWrite);
  waiting_.never = false;
  if (rc != SQLITE_DONE) return false;
  inWrite_ = true;
  return true;
}

void Connection::Wrote(std::size_t rows) {
  written_ = true;
  if (writebackFd_ < 0) return;
  writtenRows_ += rows;
  if (writtenRows_ < kRowsPerWriteback) return;
  writtenRows_ = 0;
#ifdef __linux__
  // Starts writing what the build has put in the page cache so far, without
  // waiting: the disk works while the build goes on, and the sync at its
  // end waits for the last part only.
  sync_file_range(writebackFd_, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

void Connection::Checkpoint() {
  // Copies the bulk write into the database and, when no reader is in the
  // log, empties the log: the next small write doesn't pay for the bulk
  // one, and reads don't look pages up in a large log.
  CheckpointWithoutWaiting(SQLITE_CHECKPOINT_TRUNCATE);
}

void Connection::CheckpointIfLong() {
  // SQLite would checkpoint inside the commit, before other processes
  // learn of it; here the write is already visible when this one starts.
  if (logFrames_ < kCheckpointFrames) return;
  if (logFrames_ < kRestartFrames ||
      logFrames_ < restartTried_ + kCheckpointFrames) {
    logFrames_ = 0;
    CheckpointWithoutWaiting(SQLITE_CHECKPOINT_PASSIVE);
    return;
  }
  // Readers step out of the log between their calls: a short wait finds a
  // moment when none is in it. When none comes, the next kCheckpointFrames
  // pages try again.
  restartTried_ = logFrames_;
  if (db_ == nullptr || memory_ || st_ == nullptr) return;
  waiting_.limitMs = kRestartWaitMs;
  sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_RESTART, nullptr,
                            nullptr);
  waiting_.limitMs = 0;
}

void Connection::CheckpointWithoutWaiting(int mode) {
  if (db_ == nullptr || memory_ || st_ == nullptr) return;
  waiting_.never = true;
  sqlite3_wal_checkpoint_v2(db_, nullptr, mode, nullptr, nullptr);
  waiting_.never = false;
}

namespace {
constexpr std::uint32_t kLogIndexVersion = 3007000;
}  // namespace

bool Connection::ReadLogHeader(LogHeader& header) const {
  if (db_ == nullptr || memory_) return false;
  const volatile void* index = checksums::SharedIndex(db_);
  if (index == nullptr) return false;

  // Two copies of it, a writer writing the second first: read the first,
  // then the second, as SQLite does, and they are one whole header when
  // they agree. Its byte 12 is set once it was ever written.
  auto* words = const_cast<std::uint32_t*>(
      static_cast<const volatile std::uint32_t*>(index));
  LogHeader second;
  for (std::size_t i = 0; i < header.size(); ++i) {
    header[i] = std::atomic_ref<std::uint32_t>(words[i]).load(
        std::memory_order_acquire);
  }
  for (std::size_t i = 0; i < second.size(); ++i) {
    second[i] = std::atomic_ref<std::uint32_t>(words[header.size() + i])
                    .load(std::memory_order_acquire);
  }
  // Word 0 is the index's version (SQLite's 3007000 since there was one):
  // an index of another layout is not read at all.
  return header == second && header[0] == kLogIndexVersion &&
         reinterpret_cast<const unsigned char*>(header.data())[12] != 0;
}

bool Connection::LogGrew(const LogHeader& from, const LogHeader& to) {
  // Word 4 is the log's last frame, words 8 and 9 its salt.
  return to[8] == from[8] && to[9] == from[9] && to[4] > from[4];
}

void Connection::BulkCache(bool on) {
  // A cache that can't be resized is only slower or larger.
  if (db_ != nullptr) Exec(on ? kBulkCache : kSmallCache);
}

}  // namespace corvane::platform::emulated
