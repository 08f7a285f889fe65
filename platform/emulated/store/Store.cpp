// The shared store on SQLite: opening and stamping the database, the change
// counter in shared memory, transactions with a bounded wait, and the rows
// of keys and values.
#include "platform/emulated/store/Store.h"

#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "base/RegistryNames.h"
#include "platform/emulated/store/Seed.h"
#include "platform/emulated/store/StoreLocation.h"
#include "platform/emulated/store/StorePaths.h"
#include "platform/emulated/system/SystemCalls.h"

namespace corvane::platform::emulated {
namespace {

// "CRVN" in the database header: a file stamped otherwise is not ours.
constexpr int kApplicationId = 0x4352564E;
// The schema this build reads and writes; a store stamped with a later one
// is refused, untouched, one stamped with an earlier one upgraded (see
// Upgrade).
constexpr int kSchemaVersion = 2;

// The counter of a registry that exists only in memory (no store file yet):
// even, so that the view trusts it, and out of the range a file's counter
// reaches.
constexpr std::uint64_t kMemoryCounter = 0x8000000000000000ull;
// Odd: no counter to go by, so nothing cached is trusted.
constexpr std::uint64_t kNoCounter = 1;

// A registry call changes a row or two, and its commit writes each page it
// touched to the log whole: small pages make small commits (a key deleted
// writes two). Set when a store is made; a store keeps the size it has.
constexpr const char* kPageSize = "PRAGMA page_size=2048;";

// A call reads or changes a few pages and a subtree is read once in order,
// into the view: a small page cache serves them, where a large one would
// hold a second copy of what a walk loaded. A bulk write holds its pages
// until it commits.
constexpr const char* kSmallCache = "PRAGMA cache_size=-2048;";
constexpr const char* kBulkCache = "PRAGMA cache_size=-65536;";

// The log's length, in pages, that a commit checkpoints at (SQLite's own
// default).
constexpr int kCheckpointFrames = 1000;

// The log can only start over from its beginning when no process is reading
// it, so writers that keep overlapping grow it for as long as they do (four
// writing 20,000 values left a 150 MB file), and the file kept its largest
// size for good. Once the log starts over, the file is now cut back to this
// many bytes, twice what a checkpoint leaves.
constexpr const char* kLogLimit = "PRAGMA journal_size_limit=4194304;";

// Names are found through indexes on their folded form (see FoldKey), which
// the tables don't repeat: `corvane_fold`, a function every connection of
// ours registers. Key ids are the store's to hand out (see NewKeyId).
constexpr std::string_view kKeyTable =
    "(id INTEGER PRIMARY KEY, parent INTEGER NOT NULL, name TEXT NOT NULL, "
    "class TEXT, boot TEXT, last_write INTEGER NOT NULL);";
constexpr std::string_view kValueTable =
    "(key INTEGER NOT NULL, ord INTEGER NOT NULL, name TEXT NOT NULL, "
    "type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, ord)) "
    "WITHOUT ROWID;";
constexpr std::string_view kKeyIndex =
    "CREATE UNIQUE INDEX keys_by_name ON keys(parent, corvane_fold(name));";
constexpr std::string_view kValueIndex =
    "CREATE UNIQUE INDEX vals_by_name ON vals(key, corvane_fold(name));";

// The marks of a store of ours and of this schema.
std::string Stamp() {
  return "PRAGMA application_id=" + std::to_string(kApplicationId) +
         "; PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
}

// The tables, their indexes and the stamp. `valueIndex` false: the values'
// index is made later, in one pass.
std::string Schema(bool valueIndex = true) {
  return std::string("CREATE TABLE keys")
      .append(kKeyTable)
      .append("CREATE TABLE vals")
      .append(kValueTable)
      .append(kKeyIndex)
      .append(valueIndex ? kValueIndex : "")
      .append("CREATE TABLE meta(name TEXT PRIMARY KEY, value) WITHOUT ROWID;")
      .append(Stamp());
}

// From the first schema, which kept each folded name in its row as well as
// in its index and numbered keys with AUTOINCREMENT: the same rows, and the
// highest id it ever gave.
std::string UpgradeFrom1() {
  return std::string("CREATE TABLE keys_2")
      .append(kKeyTable)
      .append("CREATE TABLE vals_2")
      .append(kValueTable)
      .append(
          "INSERT INTO keys_2 SELECT id, parent, name, class, boot, "
          "last_write FROM keys ORDER BY id;"
          "INSERT INTO vals_2 SELECT key, ord, name, type, data FROM vals;"
          "INSERT OR REPLACE INTO meta(name, value) SELECT 'last_key_id', seq "
          "FROM sqlite_sequence WHERE name='keys';"
          "DROP TABLE keys; DROP TABLE vals;"
          "ALTER TABLE keys_2 RENAME TO keys; ALTER TABLE vals_2 RENAME TO "
          "vals;")
      .append(kKeyIndex)
      .append(kValueIndex);
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string BootId() {
  std::ifstream in("/proc/sys/kernel/random/boot_id");
  std::string id;
  std::getline(in, id);
  return id.empty() ? "unknown" : id;
}

bool Exists(const std::string& path) {
  struct stat st;
  return System().stat(path.c_str(), &st) == 0;
}

// A statement prepared once per connection, reset after each use.
class Stmt {
 public:
  Stmt() = default;
  ~Stmt() { sqlite3_finalize(s_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  int Prepare(sqlite3* db, const char* sql) {
    return sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &s_,
                              nullptr);
  }
  sqlite3_stmt* Use() {
    sqlite3_reset(s_);
    sqlite3_clear_bindings(s_);
    return s_;
  }
  void Done() { sqlite3_reset(s_); }

 private:
  sqlite3_stmt* s_ = nullptr;
};

// Bound text, blobs and folds are not copied: each statement is stepped and
// reset before the function that bound them returns, and the caller's
// buffers (and `fold`) outlive that.
//
// An empty name is text all the same (the default value's name is ""), never
// NULL, which an empty view's null pointer would bind.
void BindText(sqlite3_stmt* s, int i, std::u16string_view text) {
  sqlite3_bind_text16(s, i, text.empty() ? u"" : text.data(),
                      static_cast<int>(text.size() * sizeof(char16_t)),
                      SQLITE_STATIC);
}

void BindFold(sqlite3_stmt* s, int i, std::u16string_view name,
              std::string& fold) {
  fold = FoldKey(name);
  sqlite3_bind_blob(s, i, fold.empty() ? "" : fold.data(),
                    static_cast<int>(fold.size()), SQLITE_STATIC);
}

std::u16string ColumnText(sqlite3_stmt* s, int i) {
  const void* text = sqlite3_column_text16(s, i);
  const int bytes = sqlite3_column_bytes16(s, i);
  if (text == nullptr) return {};
  return std::u16string(static_cast<const char16_t*>(text),
                        static_cast<std::size_t>(bytes) / sizeof(char16_t));
}

KeyRow ColumnKey(sqlite3_stmt* s) {
  KeyRow row;
  row.id = sqlite3_column_int64(s, 0);
  row.parent = sqlite3_column_int64(s, 1);
  row.name = ColumnText(s, 2);
  row.className = ColumnText(s, 3);
  row.isVolatile = sqlite3_column_type(s, 4) != SQLITE_NULL;
  row.lastWrite = static_cast<std::uint64_t>(sqlite3_column_int64(s, 5));
  return row;
}

ValueRow ColumnValue(sqlite3_stmt* s) {
  ValueRow row;
  row.key = sqlite3_column_int64(s, 0);
  row.ord = sqlite3_column_int64(s, 1);
  row.name = ColumnText(s, 2);
  row.type = static_cast<DWORD>(sqlite3_column_int64(s, 3));
  const auto* data = static_cast<const BYTE*>(sqlite3_column_blob(s, 4));
  row.data.assign(data, data + sqlite3_column_bytes(s, 4));
  return row;
}

constexpr const char* kKeyColumns = "id, parent, name, class, boot, last_write";

// Values given to Store::InsertValues go in groups of this many.
constexpr std::size_t kValuesPerInsert = 16;

std::string InsertValuesSql() {
  std::string sql = "INSERT INTO vals(key, ord, name, type, data) VALUES";
  for (std::size_t i = 0; i < kValuesPerInsert; ++i) {
    sql += i == 0 ? "(?,?,?,?,?)" : ",(?,?,?,?,?)";
  }
  return sql;
}

// A zero-length blob, never NULL: the column says "no bytes", not "none".
void BindData(sqlite3_stmt* s, int i, std::span<const BYTE> data) {
  sqlite3_bind_blob(s, i,
                    data.empty() ? static_cast<const void*>("") : data.data(),
                    static_cast<int>(data.size()), SQLITE_STATIC);
}

// A value's five columns, from parameter `at` + 1 on.
void BindValue(sqlite3_stmt* s, int at, const ValueRow& row) {
  sqlite3_bind_int64(s, at + 1, row.key);
  sqlite3_bind_int64(s, at + 2, row.ord);
  BindText(s, at + 3, row.name);
  sqlite3_bind_int64(s, at + 4, row.type);
  BindData(s, at + 5, row.data);
}

// Bounded waiting for another process's write lock: short sleeps, so that
// writers taking turns lose little time, up to the store's wait limit.
struct Waiting {
  std::chrono::steady_clock::time_point since;
  bool never = false;  // give up at once: a try, not a need
};

int WaitBusy(void* context, int attempt) {
  auto* waiting = static_cast<Waiting*>(context);
  if (waiting->never) return 0;
  auto* started = &waiting->since;
  const auto now = std::chrono::steady_clock::now();
  if (attempt == 0) *started = now;
  if (now - *started >= std::chrono::milliseconds(Store::WaitLimit())) {
    return 0;
  }
  if (attempt < 20) {
    std::this_thread::yield();
  } else {
    std::this_thread::sleep_for(
        std::chrono::microseconds(attempt < 200 ? 50 : 500));
  }
  return 1;
}

void SyncFolder(const std::string& file) {
  const SystemCalls& sys = System();
  const std::string folder = std::filesystem::path(file).parent_path().string();
  const int fd = sys.open(folder.empty() ? "." : folder.c_str(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0) return;
  sys.fsync(fd);
  sys.close(fd);
}

// Stores being built beside `db` by processes that died before they were
// done, and the logs SQLite may leave beside them.
void DropAbandonedBuilds(const std::string& db) {
  const std::filesystem::path path(db);
  std::error_code ec;
  const std::filesystem::path folder =
      path.has_parent_path() ? path.parent_path() : ".";
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const pid_t pid = BuildingOwner(db, entry.path().filename().string());
    if (pid > 0 && kill(pid, 0) != 0 && errno == ESRCH) {
      System().unlink(entry.path().c_str());
    }
  }
}

// FoldKey into `out`, which has room for three bytes a unit; its length.
std::size_t FoldInto(std::u16string_view name, char* out) {
  char* at = out;
  for (const char16_t unit : name) {
    const char16_t c = base::FoldChar(unit);
    if (c < 0x80) {
      *at++ = static_cast<char>(c);
    } else if (c < 0x800) {
      *at++ = static_cast<char>(0xC0 | (c >> 6));
      *at++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *at++ = static_cast<char>(0xE0 | (c >> 12));
      *at++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *at++ = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return static_cast<std::size_t>(at - out);
}

// corvane_fold(name): the key the indexes find and order names by.
void FoldFunction(sqlite3_context* context, int, sqlite3_value** args) {
  const auto* text =
      static_cast<const char16_t*>(sqlite3_value_text16(args[0]));
  const auto units =
      static_cast<std::size_t>(sqlite3_value_bytes16(args[0])) / 2;
  const std::u16string_view name = text != nullptr
                                       ? std::u16string_view(text, units)
                                       : std::u16string_view();
  // Most names fold on the stack; SQLite copies the result.
  char shortFold[3 * 128];
  std::string longFold;
  char* fold = shortFold;
  if (name.size() > 128) {
    longFold.resize(3 * name.size());
    fold = longFold.data();
  }
  sqlite3_result_blob(context, fold, static_cast<int>(FoldInto(name, fold)),
                      SQLITE_TRANSIENT);
}

int RegisterFold(sqlite3* db) {
  return sqlite3_create_function_v2(
      db, "corvane_fold", 1,
      SQLITE_UTF16 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
      FoldFunction, nullptr, nullptr, nullptr);
}

}  // namespace

std::uint64_t FileTimeNow() {
  using namespace std::chrono;
  // The Unix epoch is 11644473600 s after FILETIME's.
  const auto since1970 =
      duration_cast<nanoseconds>(system_clock::now().time_since_epoch());
  return static_cast<std::uint64_t>(since1970.count() / 100) +
         116444736000000000ull;
}

std::string FoldKey(std::u16string_view name) {
  // Mostly ASCII: one byte a unit, in a string of the name's length.
  std::string key(name.size(), '\0');
  std::size_t i = 0;
  for (; i < name.size(); ++i) {
    const char16_t c = base::FoldChar(name[i]);
    if (c >= 0x80) break;
    key[i] = static_cast<char>(c);
  }
  if (i == name.size()) return key;
  key.resize(i + 3 * (name.size() - i));
  key.resize(i + FoldInto(name.substr(i), key.data() + i));
  return key;
}

void Store::DisableMemoryStatistics() {
  // SQLITE_MISUSE once the library is initialized: then nothing changes.
  sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
}

int Store::WaitLimit() {
  const std::string limit = Env("CORVANE_REGISTRY_TIMEOUT_MS");
  if (!limit.empty()) {
    char* end = nullptr;
    const long ms = std::strtol(limit.c_str(), &end, 10);
    if (*end == '\0' && ms >= 0 && ms <= 3600000) return static_cast<int>(ms);
  }
  return 10000;
}

struct Store::Statements {
  Stmt deleteLeaf, deleteLeafValues;
  Stmt loadKey, loadChild, loadValues, hasChildren, findValue, nextOrd,
      subtreeKeys, subtreeValues, scanKeys, scanValues, insertKey, setClass,
      touch, insertValue, insertValues, updateValue, deleteValue,
      deleteTreeValues, lastKeyId, saveLastKeyId, deleteTreeKeys, begin,
      beginWrite, commit, rollback;
  Waiting busySince;
};

Store::Store() : bootId_(BootId()) {}

Store::~Store() { Disconnect(); }

void Store::Disconnect() {
  Close();
  UnmapCounter();
}

void Store::Close() {
  st_.reset();
  if (db_ != nullptr) sqlite3_close_v2(db_);
  db_ = nullptr;
  inRead_ = inWrite_ = written_ = false;
}

LONG Store::Bind(bool& reopened) {
  reopened = false;
  // The common case, once per call: the variables that name the store are
  // as they were when it was last found the same, so the store is too.
  // Checked without searching the environment (which cost a tenth of a
  // walk): see EnvironmentAsSeen.
  if (bound_ && environment_.AsSeen()) return Rebound();
  // Seen again only once the store it names is known to be the bound one:
  // setenv may hand back an earlier string for an earlier value.
  environment_.Forget();
  const char* named = std::getenv("CORVANE_REGISTRY");
  if (bound_ && named != nullptr && *named != '\0' && envPath_ == named) {
    environment_.See();
    return Rebound();
  }
  std::string env = StoreLocation();
  if (!bound_ || env != envPath_) {
    reopened = bound_;
    Disconnect();
    bound_ = true;
    envPath_ = env;
    problem_.clear();
    dbPath_.clear();
    if (env.empty()) {
      problem_ = "registry: neither CORVANE_REGISTRY nor HOME is set";
      return ERROR_BADDB;
    }
    std::error_code ec;
    const std::string absolute = std::filesystem::absolute(env, ec).string();
    if (!ec && absolute != env && !Env("CORVANE_REGISTRY").empty()) {
      // Children started after a change of folder must find the same store.
      setenv("CORVANE_REGISTRY", absolute.c_str(), 1);
      envPath_ = absolute;
    }
    dbPath_ = DatabasePathFor(ec ? env : absolute);
    return Open();
  }
  environment_.See();
  return Rebound();
}

// Bound to the same store as before: reconnect if the connection was
// dropped, and leave the in-memory stand-in once the store exists.
LONG Store::Rebound() {
  if (!problem_.empty()) return ERROR_BADDB;
  if (db_ == nullptr) return Open();
  if (memory_ && MemoryStoreOutdated()) {
    Close();
    return Open();
  }
  if (counter_ == nullptr && !memory_) MapCounter(false);
  return ERROR_SUCCESS;
}

bool Store::MemoryStoreOutdated() const { return Exists(dbPath_); }

LONG Store::Open() {
  oldHive_.clear();
  if (Exists(dbPath_)) return OpenFile(false);
  if (envPath_ != dbPath_ && Exists(envPath_)) oldHive_ = envPath_;
  return OpenMemory();
}

LONG Store::Fail(int rc, std::string_view what) {
  if (!problem_.empty()) {
    Close();
    return ERROR_BADDB;
  }
  const int code = (db_ != nullptr ? sqlite3_errcode(db_) : rc) & 0xFF;
  busyFailure_ = code == SQLITE_BUSY || code == SQLITE_LOCKED ||
                 (rc & 0xFF) == SQLITE_BUSY;
  std::string reason =
      db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  if (!what.empty()) reason = std::string(what);
  problem_ = dbPath_ + ": " + reason;
  Close();
  UnmapCounter();
  return ERROR_BADDB;
}

// What a failed SQLite call means to a registry caller: a store that went
// bad answers as a corrupt registry, everything else (a wait that ran out,
// a full disk) as an I/O failure the caller may retry.
LONG Store::Status(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
      return ERROR_SUCCESS;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      Fail(rc, {});
      return ERROR_BADDB;
    default:
      return ERROR_REGISTRY_IO_FAILED;
  }
}

LONG Store::Exec(const char* sql) {
  return Status(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr));
}

LONG Store::OpenMemory() {
  memory_ = true;
  int rc = sqlite3_open_v2(
      ":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) return Fail(rc, {});
  if (RegisterFold(db_) != SQLITE_OK || Exec("PRAGMA encoding='UTF-16le'") ||
      Exec(Schema().c_str()) || Prepare() || Seed()) {
    return Fail(SQLITE_ERROR, {});
  }
  return ERROR_SUCCESS;
}

LONG Store::OpenFile(bool create) {
  // Two processes making or converting one store at the same moment can
  // find it locked outside SQLite's busy handler (while the other switches
  // it to WAL): that is a wait, not an unusable store.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(WaitLimit());
  for (;;) {
    busyFailure_ = false;
    const LONG status = OpenFileOnce(create);
    if (status == ERROR_SUCCESS || !busyFailure_ ||
        std::chrono::steady_clock::now() >= deadline) {
      return status;
    }
    problem_.clear();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

LONG Store::OpenFileOnce(bool create) {
  memory_ = false;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
  if (create) {
    const std::string folder =
        std::filesystem::path(dbPath_).parent_path().string();
    if (const int error = CreateFolders(folder)) {
      return Fail(SQLITE_CANTOPEN, std::generic_category().message(error));
    }
    flags |= SQLITE_OPEN_CREATE;
  }
  int rc = sqlite3_open_v2(dbPath_.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    if (!create && Exists(dbPath_) &&
        System().access(dbPath_.c_str(), R_OK) != 0) {
      return Fail(rc, std::generic_category().message(EACCES));
    }
    return Fail(rc, {});
  }
  st_ = std::make_unique<Statements>();
  sqlite3_busy_handler(db_, WaitBusy, &st_->busySince);
  if (RegisterFold(db_) != SQLITE_OK) return Fail(SQLITE_ERROR, {});
  bool fresh = false;
  int version = 0;
  if (const LONG status = CheckStamp(fresh, version)) return status;
  if (const LONG status = Configure(fresh)) return status;
  if (!fresh && version < kSchemaVersion) {
    if (const LONG status = Upgrade()) return status;
  }
  if (const LONG status = MapCounter(create || fresh)) return status;
  if (const LONG status = Prepare()) return status;
  return DropStaleVolatile();
}

// Refuses, without writing a byte, a file that is not a store of ours or
// is one of a later schema. `fresh`: an empty database still to be set up.
LONG Store::CheckStamp(bool& fresh, int& version) {
  sqlite3_stmt* s = nullptr;
  int rc = sqlite3_prepare_v2(
      db_,
      "SELECT (SELECT application_id FROM pragma_application_id),"
      " (SELECT user_version FROM pragma_user_version),"
      " (SELECT count(*) FROM sqlite_schema)",
      -1, &s, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_step(s);
  if (rc != SQLITE_ROW) {
    sqlite3_finalize(s);
    return Fail(rc, {});
  }
  const int appId = sqlite3_column_int(s, 0);
  version = sqlite3_column_int(s, 1);
  const int objects = sqlite3_column_int(s, 2);
  sqlite3_finalize(s);
  if (appId == 0 && version == 0 && objects == 0) {
    fresh = true;
    return ERROR_SUCCESS;
  }
  if (appId != kApplicationId) {
    return Fail(SQLITE_NOTADB, "not a Corvane registry store");
  }
  if (version > kSchemaVersion) {
    return Fail(SQLITE_NOTADB, "made by a newer Corvane (store version " +
                                   std::to_string(version) +
                                   "; this one reads " +
                                   std::to_string(kSchemaVersion) + ")");
  }
  return ERROR_SUCCESS;
}

// A store of the earlier schema is brought to this one in one transaction
// by the first process of this build to open it; its rows stay as they
// were. Readers of the earlier build still connected fail their next call.
LONG Store::Upgrade() {
  int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  int version = 0;
  if (rc == SQLITE_OK) {
    // Another process may have upgraded it while this one waited.
    sqlite3_stmt* s = nullptr;
    rc = sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &s, nullptr);
    if (rc == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW) {
      version = sqlite3_column_int(s, 0);
    }
    sqlite3_finalize(s);
  }
  if (rc == SQLITE_OK && version == 1) {
    const std::string upgrade = UpgradeFrom1() + Stamp();
    rc = sqlite3_exec(db_, upgrade.c_str(), nullptr, nullptr, nullptr);
  } else if (rc == SQLITE_OK && version != kSchemaVersion) {
    Exec("ROLLBACK");
    return Fail(SQLITE_NOTADB,
                "unknown store version " + std::to_string(version));
  }
  if (rc == SQLITE_OK) {
    rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  }
  if (rc == SQLITE_OK) return ERROR_SUCCESS;
  // Waiting for the write lock is retried (see OpenFile); anything else
  // leaves the store as it was, and unusable to this build.
  const std::string reason =
      (rc & 0xFF) == SQLITE_BUSY
          ? std::string()
          : "made by an earlier Corvane (store version 1) and can't be "
            "upgraded: " +
                std::string(sqlite3_errmsg(db_));
  sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  return Fail(rc, reason);
}

LONG Store::Configure(bool fresh) {
  if (fresh && Exec("PRAGMA encoding='UTF-16le'")) {
    return Fail(SQLITE_ERROR, {});
  }
  // WAL is a property of the file; asking again is cheap and settles a race
  // between two processes creating the store.
  if (fresh && (Exec(kPageSize) || Exec("PRAGMA journal_mode=WAL"))) {
    return Fail(SQLITE_ERROR, {});
  }
  // No memory mapping: with a WAL that holds pages, every access to a
  // mapped page looks the page up in the WAL again, where the page cache
  // does it once per page.
  if (Exec("PRAGMA synchronous=NORMAL") || Exec("PRAGMA mmap_size=0") ||
      Exec(kSmallCache) || Exec(kLogLimit)) {
    return Fail(SQLITE_ERROR, {});
  }
  // Checkpoints are ours to run, after a commit is published (see Commit).
  sqlite3_wal_hook(
      db_,
      [](void* self, sqlite3*, const char*, int frames) {
        static_cast<Store*>(self)->logFrames_ = frames;
        return SQLITE_OK;
      },
      this);
  if (!fresh) return ERROR_SUCCESS;
  // Two processes may both find the file empty: the one that gets the write
  // lock first sets it up, the other finds it done.
  if (const LONG status = Exec("BEGIN IMMEDIATE")) {
    return status == ERROR_BADDB ? status : Fail(SQLITE_BUSY, {});
  }
  sqlite3_stmt* s = nullptr;
  int objects = -1;
  if (sqlite3_prepare_v2(db_, "SELECT count(*) FROM sqlite_schema", -1, &s,
                         nullptr) == SQLITE_OK &&
      sqlite3_step(s) == SQLITE_ROW) {
    objects = sqlite3_column_int(s, 0);
  }
  sqlite3_finalize(s);
  if (objects == 0) {
    if (Exec(Schema().c_str()) || Seed()) {
      Exec("ROLLBACK");
      return Fail(SQLITE_ERROR, {});
    }
  }
  if (Exec("COMMIT")) return Fail(SQLITE_ERROR, {});
  return ERROR_SUCCESS;
}

LONG Store::Prepare() {
  if (!st_) {
    st_ = std::make_unique<Statements>();
    sqlite3_busy_handler(db_, WaitBusy, &st_->busySince);
  }
  Statements& st = *st_;
  const std::string cols = kKeyColumns;
  struct {
    Stmt& stmt;
    std::string sql;
  } all[] = {
      {st.loadKey, "SELECT " + cols + " FROM keys WHERE id=?1"},
      {st.loadChild,
       "SELECT " + cols +
           " FROM keys WHERE parent=?1 AND corvane_fold(name)=?2"},
      {st.loadValues,
       "SELECT key, ord, name, type, data FROM vals WHERE key=?1 ORDER BY ord"},
      {st.hasChildren, "SELECT 1 FROM keys WHERE parent=?1 LIMIT 1"},
      {st.findValue,
       "SELECT ord FROM vals WHERE key=?1 AND corvane_fold(name)=?2"},
      {st.lastKeyId,
       "SELECT max(coalesce((SELECT max(id) FROM keys), 0), "
       "coalesce((SELECT value FROM meta WHERE name='last_key_id'), 0))"},
      {st.saveLastKeyId,
       "INSERT OR REPLACE INTO meta(name, value) VALUES('last_key_id', ?1)"},
      {st.nextOrd, "SELECT coalesce(max(ord), 0) + 1 FROM vals WHERE key=?1"},
      {st.subtreeKeys,
       "WITH RECURSIVE sub(id, parent, name, class, boot, last_write) AS ("
       "SELECT " +
           cols +
           " FROM keys WHERE id=?1 UNION ALL SELECT k.id, k.parent, k.name, "
           "k.class, k.boot, k.last_write FROM sub JOIN keys k ON "
           "k.parent=sub.id LIMIT ?2) SELECT sub.*, EXISTS(SELECT 1 FROM keys "
           "c WHERE c.parent=sub.id) FROM sub"},
      {st.scanKeys, "SELECT " + cols + " FROM keys WHERE id>?1 ORDER BY id"},
      {st.scanValues,
       "SELECT key, ord, name, type, data FROM vals WHERE key>=?1 AND "
       "key<=?2"},
      {st.deleteLeaf, "DELETE FROM keys WHERE id=?1"},
      {st.deleteLeafValues, "DELETE FROM vals WHERE key=?1"},
      {st.subtreeValues,
       "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM sub "
       "JOIN keys k ON k.parent=sub.id LIMIT ?2) SELECT v.key, v.ord, v.name, "
       "v.type, v.data FROM sub JOIN vals v ON v.key=sub.id"},
      {st.insertKey,
       "INSERT INTO keys(id, parent, name, class, boot, last_write) "
       "VALUES(?1, ?2, ?3, ?4, ?5, ?6)"},
      {st.setClass, "UPDATE keys SET class=?2 WHERE id=?1"},
      {st.touch, "UPDATE keys SET last_write=?2 WHERE id=?1"},
      {st.insertValue,
       "INSERT INTO vals(key, ord, name, type, data) "
       "VALUES(?1, ?2, ?3, ?4, ?5)"},
      {st.insertValues, InsertValuesSql()},
      {st.updateValue,
       "UPDATE vals SET type=?3, data=?4 WHERE key=?1 AND ord=?2"},
      {st.deleteValue, "DELETE FROM vals WHERE key=?1 AND ord=?2"},
      {st.deleteTreeValues,
       "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k "
       "JOIN sub ON k.parent=sub.id) DELETE FROM vals WHERE key IN sub"},
      {st.deleteTreeKeys,
       "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k "
       "JOIN sub ON k.parent=sub.id) DELETE FROM keys WHERE id IN sub"},
      {st.begin, "BEGIN"},
      {st.beginWrite, "BEGIN IMMEDIATE"},
      {st.commit, "COMMIT"},
      {st.rollback, "ROLLBACK"},
  };
  for (auto& one : all) {
    if (one.stmt.Prepare(db_, one.sql.c_str()) != SQLITE_OK) {
      return Fail(SQLITE_ERROR, {});
    }
  }
  return ERROR_SUCCESS;
}

// What a fresh installation holds (Seed.h).
LONG Store::Seed() {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db_,
                         "INSERT INTO keys(id, parent, name, last_write) "
                         "VALUES(?1, ?2, ?3, ?4)",
                         -1, &s, nullptr) != SQLITE_OK) {
    return ERROR_BADDB;
  }
  const std::uint64_t now = FileTimeNow();
  int rc = SQLITE_DONE;
  for (const seed::Key& key : seed::kKeys) {
    sqlite3_reset(s);
    sqlite3_bind_int64(s, 1, key.id);
    sqlite3_bind_int64(s, 2, key.parent);
    BindText(s, 3, key.name);
    sqlite3_bind_int64(s, 4, static_cast<sqlite3_int64>(now));
    if ((rc = sqlite3_step(s)) != SQLITE_DONE) break;
  }
  sqlite3_finalize(s);
  if (rc != SQLITE_DONE) return Status(rc);
  const std::string boot =
      "INSERT OR REPLACE INTO meta(name, value) VALUES('boot', '" + bootId_ +
      "')";
  return Exec(boot.c_str());
}

// Volatile keys live until the machine restarts: the first process of a new
// boot removes those of earlier ones.
LONG Store::DropStaleVolatile() {
  sqlite3_stmt* s = nullptr;
  std::string stored;
  if (sqlite3_prepare_v2(db_, "SELECT value FROM meta WHERE name='boot'", -1,
                         &s, nullptr) == SQLITE_OK &&
      sqlite3_step(s) == SQLITE_ROW) {
    const auto* text = sqlite3_column_text(s, 0);
    stored = text != nullptr ? reinterpret_cast<const char*>(text) : "";
  }
  sqlite3_finalize(s);
  if (stored == bootId_) return ERROR_SUCCESS;
  if (BeginWrite() != ERROR_SUCCESS) return ERROR_SUCCESS;  // next time
  const std::string sql =
      "DELETE FROM vals WHERE key IN (SELECT id FROM keys WHERE boot IS NOT "
      "NULL AND boot<>'" +
      bootId_ + "'); DELETE FROM keys WHERE boot IS NOT NULL AND boot<>'" +
      bootId_ + "'; INSERT OR REPLACE INTO meta(name, value) VALUES('boot', '" +
      bootId_ + "')";
  if (Exec(sql.c_str()) != ERROR_SUCCESS) {
    Rollback();
    return problem_.empty() ? ERROR_SUCCESS : ERROR_BADDB;
  }
  MarkWritten();
  std::uint64_t counter = 0;
  Commit(false, counter);
  return problem_.empty() ? ERROR_SUCCESS : ERROR_BADDB;
}

LONG Store::Noted(const char* name, bool& found) {
  found = false;
  sqlite3_stmt* s = nullptr;
  int rc = sqlite3_prepare_v2(db_, "SELECT 1 FROM meta WHERE name=?1", -1, &s,
                              nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_bind_text(s, 1, name, -1, SQLITE_STATIC);
    rc = sqlite3_step(s);
    found = rc == SQLITE_ROW;
  }
  sqlite3_finalize(s);
  return found ? ERROR_SUCCESS : Status(rc);
}

LONG Store::Note(const char* name, const std::string& value) {
  sqlite3_stmt* s = nullptr;
  int rc = sqlite3_prepare_v2(
      db_, "INSERT OR REPLACE INTO meta(name, value) VALUES(?1, ?2)", -1, &s,
      nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_bind_text(s, 1, name, -1, SQLITE_STATIC);
    sqlite3_bind_text(s, 2, value.c_str(), -1, SQLITE_STATIC);
    rc = sqlite3_step(s);
  }
  sqlite3_finalize(s);
  if (rc == SQLITE_DONE) MarkWritten();
  return Status(rc);
}

void Store::Refuse(std::string problem) {
  problem_ = std::move(problem);
  Close();
  UnmapCounter();
}

void Store::BulkCache(bool on) {
  // A cache that can't be resized is only slower or larger.
  if (db_ != nullptr) Exec(on ? kBulkCache : kSmallCache);
}

void Store::BuildAside(const std::function<bool(Store&)>& fill, bool& placed) {
  placed = false;
  const SystemCalls& sys = System();
  const std::string aside = BuildingPath(dbPath_, getpid());
  DropAbandonedBuilds(dbPath_);
  sys.unlink(aside.c_str());
  bool synced = false;
  {
    Store builder;
    builder.dbPath_ = aside;
    bool built = builder.OpenAside() == ERROR_SUCCESS;
    // Kept open until SQLite has closed the file (closing a descriptor of
    // a file drops every lock the process holds on it): the build starts
    // its pages' way to the disk through it, and it syncs them at the end.
    const int fd =
        built ? sys.open(aside.c_str(), O_RDONLY | O_CLOEXEC, 0) : -1;
    builder.writebackFd_ = fd;
    built = built && fill(builder) && builder.FinishAside() == ERROR_SUCCESS;
    builder.Close();
    // On disk before it takes the name, and the name on disk after.
    synced = built && fd >= 0 && sys.fsync(fd) == 0;
    if (fd >= 0) sys.close(fd);
    if (!built) {
      sys.unlink(aside.c_str());
      return;
    }
  }
  // link, unlike rename, never replaces a store another process made.
  placed = synced && sys.link(aside.c_str(), dbPath_.c_str()) == 0;
  sys.unlink(aside.c_str());
  if (!placed) return;
  SyncFolder(dbPath_);
  // Readers cache only with a counter; this process moves to the file at
  // its next call, as every other one does.
  MapCounter(true);
}

// The fresh store of BuildAside: no log and no other process, so its pages
// go straight to the file; in WAL mode once it is whole. The values' index
// is made at the end, in one sorted pass rather than an insert per value
// (values are looked up by name only in a key met twice, among its own).
LONG Store::OpenAside() {
  const std::string folder =
      std::filesystem::path(dbPath_).parent_path().string();
  if (CreateFolders(folder) != 0) return ERROR_BADDB;
  int rc = sqlite3_open_v2(
      dbPath_.c_str(), &db_,
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
      nullptr);
  if (rc != SQLITE_OK || RegisterFold(db_) != SQLITE_OK) return ERROR_BADDB;
  const std::string setup =
      std::string(kPageSize) +
      "PRAGMA encoding='UTF-16le'; PRAGMA journal_mode=OFF;"
      "PRAGMA synchronous=OFF; PRAGMA locking_mode=EXCLUSIVE;" +
      // Pages go to the file as the cache fills, and the cache's memory is
      // used again: a large one only costs page faults here.
      kSmallCache + Schema(false);
  if (Exec(setup.c_str()) || Prepare() || Exec("BEGIN IMMEDIATE")) {
    return ERROR_BADDB;
  }
  inWrite_ = true;
  return Seed();
}

void Store::CountWritten(std::size_t rows) {
  MarkWritten();
  if (writebackFd_ < 0) return;
  writtenRows_ += rows;
  if (writtenRows_ < kRowsPerWriteback) return;
  writtenRows_ = 0;
#ifdef __linux__
  // Starts writing what the build has put in the page cache so far, without
  // waiting: the disk works while the build goes on, and the sync at its
  // end waits for the last part only (30 ms -> 6 ms for 30 MB).
  sync_file_range(writebackFd_, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

LONG Store::FinishAside() {
  if (const LONG status = SaveLastKeyId()) return status;
  inWrite_ = false;
  if (const LONG status = Exec(std::string(kValueIndex).c_str())) {
    return status;
  }
  if (const LONG status = Exec("COMMIT")) return status;
  sqlite3_stmt* s = nullptr;
  bool wal = false;
  if (sqlite3_prepare_v2(db_, "PRAGMA journal_mode=WAL", -1, &s, nullptr) ==
          SQLITE_OK &&
      sqlite3_step(s) == SQLITE_ROW) {
    const auto* mode = sqlite3_column_text(s, 0);
    wal = mode != nullptr &&
          std::strcmp(reinterpret_cast<const char*>(mode), "wal") == 0;
  }
  sqlite3_finalize(s);
  return wal ? ERROR_SUCCESS : ERROR_BADDB;
}

void Store::Checkpoint() {
  // Copies the bulk write into the database and, when no reader is in the
  // log, empties the log: the next small write doesn't pay for the bulk
  // one, and reads don't look pages up in a large log.
  CheckpointWithoutWaiting(SQLITE_CHECKPOINT_TRUNCATE);
}

void Store::CheckpointWithoutWaiting(int mode) {
  if (db_ == nullptr || memory_ || st_ == nullptr) return;
  st_->busySince.never = true;
  sqlite3_wal_checkpoint_v2(db_, nullptr, mode, nullptr, nullptr);
  st_->busySince.never = false;
}

LONG Store::MapCounter(bool create) {
  if (counter_ != nullptr) return ERROR_SUCCESS;
  const SystemCalls& sys = System();
  const std::string path = ChangesPath(dbPath_);
  const int fd =
      sys.open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
  if (fd < 0) {
    // A reader without the counter file caches nothing; a writer needs it.
    return create ? Fail(SQLITE_CANTOPEN,
                         path + ": " + std::generic_category().message(errno))
                  : ERROR_SUCCESS;
  }
  struct stat st;
  if (sys.fstat(fd, &st) == 0 &&
      st.st_size < static_cast<off_t>(sizeof(std::uint64_t))) {
    if (!create || sys.ftruncate(fd, sizeof(std::uint64_t)) != 0) {
      sys.close(fd);
      return create ? Fail(SQLITE_IOERR, path + ": can't be sized")
                    : ERROR_SUCCESS;
    }
  }
  void* map = sys.mmap(nullptr, sizeof(std::uint64_t), PROT_READ | PROT_WRITE,
                       MAP_SHARED, fd, 0);
  sys.close(fd);
  if (map == MAP_FAILED) {
    return create ? Fail(SQLITE_IOERR, path + ": can't be mapped")
                  : ERROR_SUCCESS;
  }
  counter_ = static_cast<std::uint64_t*>(map);
  return ERROR_SUCCESS;
}

void Store::UnmapCounter() {
  if (counter_ != nullptr) System().munmap(counter_, sizeof(std::uint64_t));
  counter_ = nullptr;
}

std::uint64_t Store::Counter() const {
  if (memory_) return kMemoryCounter;
  if (counter_ == nullptr) return kNoCounter;
  return std::atomic_ref<std::uint64_t>(*counter_).load(
      std::memory_order_acquire);
}

void Store::Settle(std::uint64_t odd) {
  if (counter_ == nullptr || inRead_ || inWrite_ || st_ == nullptr) return;
  st_->busySince.never = true;
  const int rc = sqlite3_step(st_->beginWrite.Use());
  st_->beginWrite.Done();
  st_->busySince.never = false;
  if (rc != SQLITE_DONE) return;
  // Holding the write lock, no commit is under way: an odd counter is one a
  // writer left when it died between its commit and the counter's update.
  std::uint64_t expected = odd;
  std::atomic_ref<std::uint64_t>(*counter_).compare_exchange_strong(
      expected, odd + 1, std::memory_order_seq_cst);
  sqlite3_step(st_->rollback.Use());
  st_->rollback.Done();
}

LONG Store::BeginRead() {
  if (inRead_ || inWrite_) return ERROR_SUCCESS;
  const int rc = sqlite3_step(st_->begin.Use());
  st_->begin.Done();
  if (rc != SQLITE_DONE) return Status(rc);
  inRead_ = true;
  return ERROR_SUCCESS;
}

void Store::EndRead() {
  if (!inRead_) return;
  inRead_ = false;
  if (db_ == nullptr) return;
  sqlite3_step(st_->commit.Use());
  st_->commit.Done();
}

LONG Store::BeginWrite() {
  EndRead();
  if (memory_) {
    // The first write makes the store.
    Close();
    oldHive_.clear();
    if (const LONG status = OpenFile(true)) return status;
  }
  if (counter_ == nullptr) {
    if (const LONG status = MapCounter(true)) return status;
  }
  const int rc = sqlite3_step(st_->beginWrite.Use());
  st_->beginWrite.Done();
  if (rc != SQLITE_DONE) return Status(rc);
  inWrite_ = true;
  written_ = false;
  lastKeyId_ = 0;
  lastKeyIdChanged_ = false;
  return ERROR_SUCCESS;
}

LONG Store::Commit(bool durable, std::uint64_t& counter) {
  counter = Counter();
  if (!inWrite_) return ERROR_SUCCESS;
  if (!written_) {
    Rollback();
    return ERROR_SUCCESS;
  }
  if (const LONG status = SaveLastKeyId()) {
    Rollback();
    return status;
  }
  // Odd while the commit is under way: nobody may trust a view from before
  // it until it is even again.
  std::atomic_ref<std::uint64_t> shared(*counter_);
  const std::uint64_t before = shared.load(std::memory_order_acquire);
  const std::uint64_t mid = (before | 1) + 2;
  shared.store(mid, std::memory_order_seq_cst);
  if (durable) Exec("PRAGMA synchronous=FULL");
  const int rc = sqlite3_step(st_->commit.Use());
  st_->commit.Done();
  if (durable && db_ != nullptr) Exec("PRAGMA synchronous=NORMAL");
  if (rc != SQLITE_DONE) {
    Rollback();
    return Status(rc);
  }
  inWrite_ = false;
  written_ = false;
  std::uint64_t expected = mid;
  // Fails only when another process, holding the lock after this commit,
  // already made it even.
  shared.compare_exchange_strong(expected, mid + 1, std::memory_order_seq_cst);
  counter = mid + 1;
  // SQLite would checkpoint inside the commit, before other processes
  // learn of it; here the write is already visible when this one starts.
  if (logFrames_ >= kCheckpointFrames) {
    logFrames_ = 0;
    CheckpointWithoutWaiting(SQLITE_CHECKPOINT_PASSIVE);
  }
  return ERROR_SUCCESS;
}

void Store::Rollback() {
  if (!inWrite_) return;
  inWrite_ = false;
  written_ = false;
  lastKeyId_ = 0;
  lastKeyIdChanged_ = false;
  if (db_ == nullptr) return;
  sqlite3_step(st_->rollback.Use());
  st_->rollback.Done();
}

LONG Store::LoadKey(std::int64_t id, KeyRow& row, bool& found) {
  sqlite3_stmt* s = st_->loadKey.Use();
  sqlite3_bind_int64(s, 1, id);
  const int rc = sqlite3_step(s);
  found = rc == SQLITE_ROW;
  if (found) row = ColumnKey(s);
  st_->loadKey.Done();
  return found ? ERROR_SUCCESS : Status(rc);
}

LONG Store::LoadChild(std::int64_t parent, std::u16string_view name,
                      KeyRow& row, bool& found) {
  sqlite3_stmt* s = st_->loadChild.Use();
  sqlite3_bind_int64(s, 1, parent);
  std::string fold;
  BindFold(s, 2, name, fold);
  const int rc = sqlite3_step(s);
  found = rc == SQLITE_ROW;
  if (found) row = ColumnKey(s);
  st_->loadChild.Done();
  return found ? ERROR_SUCCESS : Status(rc);
}

LONG Store::HasChildren(std::int64_t key, bool& any) {
  sqlite3_stmt* s = st_->hasChildren.Use();
  sqlite3_bind_int64(s, 1, key);
  const int rc = sqlite3_step(s);
  any = rc == SQLITE_ROW;
  st_->hasChildren.Done();
  return any ? ERROR_SUCCESS : Status(rc);
}

LONG Store::FindValue(std::int64_t key, std::u16string_view name,
                      std::int64_t& ord, bool& found) {
  sqlite3_stmt* s = st_->findValue.Use();
  sqlite3_bind_int64(s, 1, key);
  std::string fold;
  BindFold(s, 2, name, fold);
  const int rc = sqlite3_step(s);
  found = rc == SQLITE_ROW;
  if (found) ord = sqlite3_column_int64(s, 0);
  st_->findValue.Done();
  return found ? ERROR_SUCCESS : Status(rc);
}

LONG Store::NextOrd(std::int64_t key, std::int64_t& ord) {
  sqlite3_stmt* s = st_->nextOrd.Use();
  sqlite3_bind_int64(s, 1, key);
  const int rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) ord = sqlite3_column_int64(s, 0);
  st_->nextOrd.Done();
  return Status(rc);
}

LONG Store::LoadValues(std::int64_t key, std::vector<ValueRow>& values) {
  sqlite3_stmt* s = st_->loadValues.Use();
  sqlite3_bind_int64(s, 1, key);
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) values.push_back(ColumnValue(s));
  st_->loadValues.Done();
  return Status(rc);
}

LONG Store::LoadSubtree(std::int64_t top, std::size_t limit, KeySink& keys,
                        std::vector<bool>& complete,
                        std::vector<ValueRow>& values) {
  Scan scan = Scan::kGaveUp;
  std::size_t taken = 0;
  if (const LONG status = ScanSubtree(top, limit, keys, taken, values, scan)) {
    return status;
  }
  if (scan == Scan::kWhole) complete.assign(taken, true);
  if (scan != Scan::kGaveUp) return ERROR_SUCCESS;
  keys.Restart();
  values.clear();
  return WalkSubtree(top, limit, keys, complete, values);
}

// A key is always made after its parent and ids only grow, so a subtree is
// the keys after its top in id order whose parent is already in it. Read in
// id order, both tables are read sequentially, where following parents
// costs index lookups per key. The scan goes on to the end of the table,
// which proves every key's children all came, while the keys read are mostly
// the subtree's; once they are mostly not, it gives up.
LONG Store::ScanSubtree(std::int64_t top, std::size_t limit, KeySink& keys,
                        std::size_t& taken, std::vector<ValueRow>& values,
                        Scan& scan) {
  // Reading this many keys costs less than following parents for a few.
  constexpr std::size_t kFreeScan = 4096;
  scan = Scan::kGaveUp;
  taken = 0;
  KeyRow first;
  bool found = false;
  if (const LONG status = LoadKey(top, first, found)) return status;
  if (!found) return ERROR_SUCCESS;
  // Whether the key `top` + i is in the subtree; the keys read are dense
  // in that range, or the scan gave up.
  std::vector<bool> in{true};
  const auto within = [&in, top](std::int64_t id) {
    return id >= top && static_cast<std::size_t>(id - top) < in.size() &&
           in[static_cast<std::size_t>(id - top)];
  };
  // The highest id the store gave bounds the keys the scan may take.
  sqlite3_stmt* s = st_->lastKeyId.Use();
  const std::int64_t highest =
      sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : top;
  st_->lastKeyId.Done();
  keys.Expect(std::min(limit, static_cast<std::size_t>(highest - top) + 1));
  if (!keys.Take(std::move(first))) {
    scan = Scan::kStopped;
    return ERROR_SUCCESS;
  }
  taken = 1;
  std::int64_t last = top;
  std::size_t read = 0;
  s = st_->scanKeys.Use();
  sqlite3_bind_int64(s, 1, top);
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    ++read;
    if (within(sqlite3_column_int64(s, 1))) {
      last = sqlite3_column_int64(s, 0);
      const auto at = static_cast<std::size_t>(last - top);
      if (at >= in.size()) in.resize(std::max(at + 1, 2 * in.size()));
      in[at] = true;
      if (!keys.Take(ColumnKey(s))) {
        st_->scanKeys.Done();
        scan = Scan::kStopped;
        return ERROR_SUCCESS;
      }
      if (++taken >= limit) break;
    }
    if (read > kFreeScan && taken * 4 < read) break;
  }
  st_->scanKeys.Done();
  if (rc != SQLITE_DONE) return rc == SQLITE_ROW ? ERROR_SUCCESS : Status(rc);

  s = st_->scanValues.Use();
  sqlite3_bind_int64(s, 1, top);
  sqlite3_bind_int64(s, 2, last);
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    if (within(sqlite3_column_int64(s, 0))) {
      values.push_back(ColumnValue(s));
    }
  }
  st_->scanValues.Done();
  if (rc != SQLITE_DONE) return Status(rc);
  scan = Scan::kWhole;
  return ERROR_SUCCESS;
}

// Following parents through the index: for a subtree whose keys are spread
// among many others, or more than `limit` of them.
LONG Store::WalkSubtree(std::int64_t top, std::size_t limit, KeySink& keys,
                        std::vector<bool>& complete,
                        std::vector<ValueRow>& values) {
  sqlite3_stmt* s = st_->subtreeKeys.Use();
  sqlite3_bind_int64(s, 1, top);
  sqlite3_bind_int64(s, 2, static_cast<sqlite3_int64>(limit));
  int rc;
  // Each key's id, parent and whether it has children, in the order read.
  struct Taken {
    std::int64_t id, parent;
    bool parentOfAny;
  };
  std::vector<Taken> taken;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    KeyRow row = ColumnKey(s);
    taken.push_back({row.id, row.parent, sqlite3_column_int(s, 6) != 0});
    if (!keys.Take(std::move(row))) {
      st_->subtreeKeys.Done();
      return ERROR_SUCCESS;
    }
  }
  st_->subtreeKeys.Done();
  if (const LONG status = Status(rc)) return status;

  // Breadth first, children of a key come in one run after the runs of the
  // keys before it. When the limit cut the list, the parent of the last row
  // may have lost children, and keys after it were never expanded; every
  // key before it has all its children here, and so has every key that has
  // none.
  complete.assign(taken.size(), true);
  if (taken.size() >= limit && taken.size() > 1) {
    const std::int64_t cut = taken.back().parent;
    bool after = false;
    for (std::size_t i = 0; i < taken.size(); ++i) {
      if (taken[i].id == cut) after = true;
      if (after && taken[i].parentOfAny) complete[i] = false;
    }
  }

  s = st_->subtreeValues.Use();
  sqlite3_bind_int64(s, 1, top);
  sqlite3_bind_int64(s, 2, static_cast<sqlite3_int64>(limit));
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) values.push_back(ColumnValue(s));
  st_->subtreeValues.Done();
  return Status(rc);
}

LONG Store::KnowLastKeyId() {
  if (lastKeyId_ != 0) return ERROR_SUCCESS;
  sqlite3_stmt* s = st_->lastKeyId.Use();
  const int rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) lastKeyId_ = sqlite3_column_int64(s, 0);
  st_->lastKeyId.Done();
  return rc == SQLITE_ROW ? ERROR_SUCCESS : Status(rc);
}

// One past the highest id the store ever gave, deleted keys included: the
// highest is read once per transaction and saved at its commit.
LONG Store::NewKeyId(std::int64_t& id) {
  if (const LONG status = KnowLastKeyId()) return status;
  id = ++lastKeyId_;
  lastKeyIdChanged_ = true;
  return ERROR_SUCCESS;
}

LONG Store::SaveLastKeyId() {
  if (!lastKeyIdChanged_) return ERROR_SUCCESS;
  sqlite3_stmt* s = st_->saveLastKeyId.Use();
  sqlite3_bind_int64(s, 1, lastKeyId_);
  const int rc = sqlite3_step(s);
  st_->saveLastKeyId.Done();
  return Status(rc);
}

LONG Store::InsertKey(std::int64_t parent, std::u16string_view name,
                      const std::u16string* className, bool isVolatile,
                      std::uint64_t time, std::int64_t& id) {
  std::int64_t newId = 0;
  if (const LONG status = NewKeyId(newId)) return status;
  sqlite3_stmt* s = st_->insertKey.Use();
  sqlite3_bind_int64(s, 1, newId);
  sqlite3_bind_int64(s, 2, parent);
  BindText(s, 3, name);
  if (className != nullptr) BindText(s, 4, *className);
  if (isVolatile) sqlite3_bind_text(s, 5, bootId_.c_str(), -1, SQLITE_STATIC);
  sqlite3_bind_int64(s, 6, static_cast<sqlite3_int64>(time));
  const int rc = sqlite3_step(s);
  st_->insertKey.Done();
  if (rc != SQLITE_DONE) return Status(rc);
  id = newId;
  CountWritten(1);
  return ERROR_SUCCESS;
}

LONG Store::SetClass(std::int64_t key, std::u16string_view className) {
  sqlite3_stmt* s = st_->setClass.Use();
  sqlite3_bind_int64(s, 1, key);
  BindText(s, 2, className);
  const int rc = sqlite3_step(s);
  st_->setClass.Done();
  MarkWritten();
  return Status(rc);
}

LONG Store::Touch(std::int64_t key, std::uint64_t time) {
  sqlite3_stmt* s = st_->touch.Use();
  sqlite3_bind_int64(s, 1, key);
  sqlite3_bind_int64(s, 2, static_cast<sqlite3_int64>(time));
  const int rc = sqlite3_step(s);
  st_->touch.Done();
  MarkWritten();
  return Status(rc);
}

LONG Store::PutValue(std::int64_t key, std::int64_t ord, bool insert,
                     std::u16string_view name, DWORD type,
                     std::span<const BYTE> data) {
  Stmt& stmt = insert ? st_->insertValue : st_->updateValue;
  sqlite3_stmt* s = stmt.Use();
  sqlite3_bind_int64(s, 1, key);
  sqlite3_bind_int64(s, 2, ord);
  const int dataAt = insert ? 5 : 4;
  if (insert) {
    BindText(s, 3, name);
    sqlite3_bind_int64(s, 4, type);
  } else {
    sqlite3_bind_int64(s, 3, type);
  }
  BindData(s, dataAt, data);
  const int rc = sqlite3_step(s);
  stmt.Done();
  CountWritten(1);
  return Status(rc);
}

LONG Store::InsertValues(std::span<const ValueRow> rows) {
  const std::size_t grouped = rows.size() - rows.size() % kValuesPerInsert;
  // Whole groups in one statement each: a statement's own cost (its
  // cursors opened, run and reset) is then paid once per group.
  while (rows.size() >= kValuesPerInsert) {
    sqlite3_stmt* s = st_->insertValues.Use();
    for (std::size_t i = 0; i < kValuesPerInsert; ++i) {
      BindValue(s, static_cast<int>(5 * i), rows[i]);
    }
    const int rc = sqlite3_step(s);
    st_->insertValues.Done();
    if (rc != SQLITE_DONE) return Status(rc);
    rows = rows.subspan(kValuesPerInsert);
  }
  for (const ValueRow& row : rows) {
    if (const LONG status =
            PutValue(row.key, row.ord, true, row.name, row.type, row.data)) {
      return status;
    }
  }
  CountWritten(grouped);
  return ERROR_SUCCESS;
}

LONG Store::DeleteValue(std::int64_t key, std::int64_t ord) {
  sqlite3_stmt* s = st_->deleteValue.Use();
  sqlite3_bind_int64(s, 1, key);
  sqlite3_bind_int64(s, 2, ord);
  const int rc = sqlite3_step(s);
  st_->deleteValue.Done();
  MarkWritten();
  return Status(rc);
}

LONG Store::DeleteTree(std::int64_t key, bool leaf, bool values) {
  Stmt* const leafSteps[] = {&st_->deleteLeafValues, &st_->deleteLeaf};
  Stmt* const treeSteps[] = {&st_->deleteTreeValues, &st_->deleteTreeKeys};
  for (Stmt* stmt : leaf ? leafSteps : treeSteps) {
    if (stmt == &st_->deleteLeafValues && !values) continue;
    sqlite3_stmt* s = stmt->Use();
    sqlite3_bind_int64(s, 1, key);
    const int rc = sqlite3_step(s);
    stmt->Done();
    if (rc != SQLITE_DONE) return Status(rc);
  }
  MarkWritten();
  return ERROR_SUCCESS;
}

LONG Store::Reset() {
  // Ids stay unused after a reset too: the commit saves the highest again.
  if (const LONG status = KnowLastKeyId()) return status;
  lastKeyIdChanged_ = true;
  if (const LONG status =
          Exec("DELETE FROM vals; DELETE FROM keys; DELETE FROM meta")) {
    return status;
  }
  MarkWritten();
  return Seed();
}

}  // namespace corvane::platform::emulated
