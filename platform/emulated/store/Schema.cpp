// What makes a database a store of ours (Schema.h).
#include "platform/emulated/store/Schema.h"

#include <cstring>
#include <fstream>
#include <string_view>

#include "platform/emulated/store/ChecksumVfs.h"
#include "platform/emulated/store/Seed.h"
#include "platform/emulated/store/Sql.h"
#include "platform/emulated/store/Wow64Paths.h"

namespace corvane::platform::emulated::schema {
namespace {

// "CRVN" in the database header: a file stamped otherwise is not ours.
constexpr int kApplicationId = 0x4352564E;

// A registry call changes a row or two, and its commit writes each page it
// touched to the log whole: small pages make small commits (a key deleted
// writes two). Set when a store is made; a store keeps the size it has.
constexpr const char* kPageSize = "PRAGMA page_size=2048;";

// Names are found by their folded form (see FoldKey). Keys are found
// through an index on it, which their table doesn't repeat: `corvane_fold`,
// a function every connection of ours registers. Values are kept by it, so
// that a new value writes its row and its key's, and no index besides. Key
// ids are the store's to hand out (see Rows::InsertKey); `last_ord` is the
// highest creation order a key's values were given (see Rows::FindValue).
constexpr std::string_view kKeyTable =
    "(id INTEGER PRIMARY KEY, parent INTEGER NOT NULL, name TEXT NOT NULL, "
    "class TEXT, boot TEXT, last_write INTEGER NOT NULL, "
    "last_ord INTEGER NOT NULL DEFAULT 0);";
constexpr std::string_view kValueTable =
    "(key INTEGER NOT NULL, fold BLOB NOT NULL, ord INTEGER NOT NULL, "
    "name TEXT NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL, "
    "PRIMARY KEY(key, fold)) WITHOUT ROWID;";
constexpr std::string_view kKeyIndex =
    "CREATE UNIQUE INDEX keys_by_name ON keys(parent, corvane_fold(name));";

// The tables of version 2, which hive files keep (any build that reads
// hives reads them): values in creation order, found through an index.
constexpr int kHiveVersion = 3;
constexpr std::string_view kKeyTable2 =
    "(id INTEGER PRIMARY KEY, parent INTEGER NOT NULL, name TEXT NOT NULL, "
    "class TEXT, boot TEXT, last_write INTEGER NOT NULL);";
constexpr std::string_view kValueTable2 =
    "(key INTEGER NOT NULL, ord INTEGER NOT NULL, name TEXT NOT NULL, "
    "type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, ord)) "
    "WITHOUT ROWID;";
constexpr std::string_view kValueIndex2 =
    "CREATE UNIQUE INDEX vals_by_name ON vals(key, corvane_fold(name));";

// The marks of a store of ours and of that version.
std::string Stamp(int version = kVersion) {
  return "PRAGMA application_id=" + std::to_string(kApplicationId) +
         "; PRAGMA user_version=" + std::to_string(version) + ";";
}

// Sets aside the bytes each page's checksum takes, in a database that has
// no page yet.
bool ReserveChecksums(Connection& connection) {
  int reserved = checksums::kReservedBytes;
  return sqlite3_file_control(connection.db(), "main",
                              SQLITE_FCNTL_RESERVE_BYTES,
                              &reserved) == SQLITE_OK;
}

// The tables, their index and the stamp.
std::string Tables() {
  return std::string("CREATE TABLE keys")
      .append(kKeyTable)
      .append("CREATE TABLE vals")
      .append(kValueTable)
      .append(kKeyIndex)
      .append("CREATE TABLE meta(name TEXT PRIMARY KEY, value) WITHOUT ROWID;")
      .append(Stamp());
}

// From the first schema, which kept each folded name in its row as well as
// in its index and numbered keys with AUTOINCREMENT: the same rows in the
// tables of version 2, and the highest id it ever gave.
std::string UpgradeFrom1() {
  return std::string("CREATE TABLE keys_2")
      .append(kKeyTable2)
      .append("CREATE TABLE vals_2")
      .append(kValueTable2)
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
      .append(kValueIndex2);
}

// From the tables of version 2 (stores of versions 2 and 3), which kept
// values by creation order and found them by name through an index: the
// same values kept by name, and each key's highest creation order.
std::string UpgradeFrom2() {
  return std::string("CREATE TABLE vals_4")
      .append(kValueTable)
      .append(
          "INSERT INTO vals_4(key, fold, ord, name, type, data) SELECT key, "
          "corvane_fold(name), ord, name, type, data FROM vals;"
          "DROP TABLE vals; ALTER TABLE vals_4 RENAME TO vals;"
          "ALTER TABLE keys ADD COLUMN last_ord INTEGER NOT NULL DEFAULT 0;"
          "UPDATE keys SET last_ord=(SELECT max(ord) FROM vals WHERE "
          "vals.key=keys.id) WHERE id IN (SELECT key FROM vals);");
}

// The first column of the one row `sql` gives, or `otherwise`.
int IntOf(sqlite3* db, const char* sql, int otherwise) {
  int value = otherwise;
  Stmt s;
  if (s.PrepareOnce(db, sql) == SQLITE_OK) {
    s.Run([&](sqlite3_stmt* row) { value = sqlite3_column_int(row, 0); });
  }
  return value;
}

// The id of the key `name` below `parent`, or 0 when there is none.
LONG ChildId(sqlite3* db, std::int64_t parent, std::u16string_view name,
             std::int64_t& id) {
  id = 0;
  Stmt s;
  if (s.PrepareOnce(db,
                    "SELECT id FROM keys WHERE parent=?1 AND "
                    "corvane_fold(name)=?2") != SQLITE_OK) {
    return ERROR_BADDB;
  }
  const int rc =
      s.Run([&](sqlite3_stmt* row) { id = sqlite3_column_int64(row, 0); },
            parent, Fold(name));
  return rc == SQLITE_ROW || rc == SQLITE_DONE ? ERROR_SUCCESS : ERROR_BADDB;
}

// Walks the view keys: `visit(parentId, key, id)` for each whose parent is
// there, `id` 0 when the key itself is missing.
template <class Visit>
LONG ForEachViewKey(sqlite3* db, Visit&& visit) {
  for (const wow64::ViewKey& key : wow64::kViewKeys) {
    std::int64_t parent = seed::kLocalMachine;
    for (const std::u16string_view name : key.parent) {
      if (name.empty() || parent == 0) break;
      if (const LONG status = ChildId(db, parent, name, parent)) return status;
    }
    if (parent == 0) continue;
    std::int64_t id = 0;
    if (const LONG status = ChildId(db, parent, key.name, id)) return status;
    if (const LONG status = visit(parent, key, id)) return status;
  }
  return ERROR_SUCCESS;
}

}  // namespace

std::string BootId() {
  std::ifstream in("/proc/sys/kernel/random/boot_id");
  std::string id;
  std::getline(in, id);
  return id.empty() ? "unknown" : id;
}

LONG CheckStamp(Connection& connection, bool& fresh, int& version) {
  int appId = 0, objects = 0;
  int rc;
  {
    // Finalized before a failure closes the connection.
    Stmt s;
    rc = s.PrepareOnce(connection.db(),
                       "SELECT (SELECT application_id FROM "
                       "pragma_application_id),"
                       " (SELECT user_version FROM pragma_user_version),"
                       " (SELECT count(*) FROM sqlite_schema)");
    if (rc == SQLITE_OK) {
      rc = s.Run([&](sqlite3_stmt* row) {
        appId = sqlite3_column_int(row, 0);
        version = sqlite3_column_int(row, 1);
        objects = sqlite3_column_int(row, 2);
      });
    }
  }
  if (rc != SQLITE_ROW) return connection.Fail(rc, {});
  fresh = appId == 0 && version == 0 && objects == 0;
  if (fresh) return ERROR_SUCCESS;
  if (appId != kApplicationId) {
    return connection.Fail(SQLITE_NOTADB, "not a Corvane registry store");
  }
  if (version > kVersion) {
    return connection.Fail(SQLITE_NOTADB,
                           "made by a newer Corvane (store version " +
                               std::to_string(version) + "; this one reads " +
                               std::to_string(kVersion) + ")");
  }
  return ERROR_SUCCESS;
}

LONG Format(Connection& connection) {
  // WAL is a property of the file; asking again is cheap and settles a race
  // between two processes creating the store.
  if (connection.Exec("PRAGMA encoding='UTF-16le'") ||
      connection.Exec(kPageSize) || !ReserveChecksums(connection) ||
      connection.Exec("PRAGMA journal_mode=WAL")) {
    return connection.Fail(SQLITE_ERROR, {});
  }
  return ERROR_SUCCESS;
}

LONG Create(Connection& connection, const std::string& boot) {
  if (const LONG status = connection.Exec("BEGIN IMMEDIATE")) {
    return status == ERROR_BADDB ? status : connection.Fail(SQLITE_BUSY, {});
  }
  if (IntOf(connection.db(), "SELECT count(*) FROM sqlite_schema", -1) == 0) {
    if (connection.Exec(Tables().c_str()) || Seed(connection, boot)) {
      connection.Exec("ROLLBACK");
      return connection.Fail(SQLITE_ERROR, {});
    }
  }
  if (connection.Exec("COMMIT")) return connection.Fail(SQLITE_ERROR, {});
  return ERROR_SUCCESS;
}

LONG CreateInMemory(Connection& connection, const std::string& boot) {
  if (connection.Exec(Tables().c_str()) || connection.Prepare() ||
      Seed(connection, boot)) {
    return connection.Fail(SQLITE_ERROR, {});
  }
  return ERROR_SUCCESS;
}

LONG CreateAside(Connection& connection, const std::string& boot) {
  const std::string setup =
      std::string(kPageSize) + "PRAGMA encoding='UTF-16le';" + Tables();
  if (!ReserveChecksums(connection) || connection.Exec(setup.c_str()) ||
      connection.Prepare() || connection.BeginWrite()) {
    return ERROR_BADDB;
  }
  return Seed(connection, boot);
}

// Whole: committed, and the file in WAL mode like every store.
LONG FinishAside(Connection& connection) {
  if (connection.Commit(false) != SQLITE_DONE) return ERROR_BADDB;
  bool wal = false;
  Stmt s;
  if (s.PrepareOnce(connection.db(), "PRAGMA journal_mode=WAL") == SQLITE_OK) {
    s.Run([&](sqlite3_stmt* row) {
      const auto* mode = sqlite3_column_text(row, 0);
      wal = mode != nullptr &&
            std::strcmp(reinterpret_cast<const char*>(mode), "wal") == 0;
    });
  }
  return wal ? ERROR_SUCCESS : ERROR_BADDB;
}

LONG CreateHive(Connection& connection) {
  const std::string setup =
      std::string(kPageSize) + "PRAGMA encoding='UTF-16le';" +
      "CREATE TABLE keys" + std::string(kKeyTable2) + "CREATE TABLE vals" +
      std::string(kValueTable2) + std::string(kKeyIndex) +
      std::string(kValueIndex2) +
      "CREATE TABLE meta(name TEXT PRIMARY KEY, value) WITHOUT ROWID;" +
      Stamp(kHiveVersion) + "INSERT INTO meta(name, value) VALUES('hive', 1);";
  if (!ReserveChecksums(connection) || connection.Exec(setup.c_str())) {
    return ERROR_CANTWRITE;
  }
  return ERROR_SUCCESS;
}

bool IsHive(sqlite3* db) {
  const int appId = IntOf(db, "PRAGMA application_id", 0);
  const int version = IntOf(db, "PRAGMA user_version", 0);
  return appId == kApplicationId && version >= 2 && version <= kVersion &&
         IntOf(db, "SELECT count(*) FROM meta WHERE name='hive'", 0) == 1;
}

// Its rows stay as they were. Readers of an earlier build still connected
// fail their next call that writes a new value.
LONG Upgrade(Connection& connection) {
  sqlite3* db = connection.db();
  int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  // Another process may have upgraded it while this one waited.
  const int version = rc == SQLITE_OK ? IntOf(db, "PRAGMA user_version", 0) : 0;
  if (rc == SQLITE_OK && version >= 1 && version < kTablesVersion) {
    const std::string upgrade =
        (version == 1 ? UpgradeFrom1() : std::string()) + UpgradeFrom2() +
        Stamp(kTablesVersion);
    rc = sqlite3_exec(db, upgrade.c_str(), nullptr, nullptr, nullptr);
  } else if (rc == SQLITE_OK && version < kTablesVersion) {
    connection.Exec("ROLLBACK");
    return connection.Fail(SQLITE_NOTADB,
                           "unknown store version " + std::to_string(version));
  }
  if (rc == SQLITE_OK) {
    rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  }
  if (rc == SQLITE_OK) return ERROR_SUCCESS;
  // Waiting for the write lock is retried (see Store::OpenFile); anything
  // else leaves the store as it was, and unusable to this build.
  const std::string reason =
      (rc & 0xFF) == SQLITE_BUSY
          ? std::string()
          : "made by an earlier Corvane (store version " +
                std::to_string(version) +
                ") and can't be upgraded: " + std::string(sqlite3_errmsg(db));
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  return connection.Fail(rc, reason);
}

LONG Seed(Connection& connection, const std::string& boot) {
  int rc = SQLITE_DONE;
  {
    Stmt s;
    if (s.PrepareOnce(connection.db(),
                      "INSERT INTO keys(id, parent, name, last_write) "
                      "VALUES(?1, ?2, ?3, ?4)") != SQLITE_OK) {
      return ERROR_BADDB;
    }
    const std::uint64_t now = FileTimeNow();
    for (const seed::Key& key : seed::kKeys) {
      rc = s.Exec(key.id, key.parent, std::u16string_view(key.name), now);
      if (rc != SQLITE_DONE) break;
    }
  }
  if (rc != SQLITE_DONE) return connection.Status(rc);
  bool added = false;
  if (const LONG status = AddViewKeys(connection, added)) return status;
  const std::string sql =
      "INSERT OR REPLACE INTO meta(name, value) VALUES('boot', '" + boot + "')";
  return connection.Exec(sql.c_str());
}

bool LacksViewKeys(Connection& connection) {
  bool lacks = false;
  const LONG status = ForEachViewKey(
      connection.db(),
      [&](std::int64_t, const wow64::ViewKey&, std::int64_t id) -> LONG {
        lacks = lacks || id == 0;
        return ERROR_SUCCESS;
      });
  return status == ERROR_SUCCESS && lacks;
}

LONG AddViewKeys(Connection& connection, bool& added) {
  added = false;
  sqlite3* db = connection.db();
  Stmt insert;
  if (insert.PrepareOnce(db,
                         "INSERT INTO keys(id, parent, name, last_write) "
                         "VALUES((SELECT 1 + max(coalesce((SELECT max(id) "
                         "FROM keys), 0), coalesce((SELECT value FROM meta "
                         "WHERE name='last_key_id'), 0))), ?1, ?2, ?3)") !=
      SQLITE_OK) {
    return ERROR_BADDB;
  }
  const std::uint64_t now = FileTimeNow();
  if (const LONG status =
          ForEachViewKey(db,
                         [&](std::int64_t parent, const wow64::ViewKey& key,
                             std::int64_t id) -> LONG {
                           if (id != 0) return ERROR_SUCCESS;
                           const int rc = insert.Exec(parent, key.name, now);
                           if (rc != SQLITE_DONE) return connection.Status(rc);
                           added = true;
                           return ERROR_SUCCESS;
                         })) {
    return status;
  }
  // An id once given is never given again, even after its key is gone.
  if (!added) return ERROR_SUCCESS;
  return connection.Exec(
      "INSERT OR REPLACE INTO meta(name, value) VALUES('last_key_id', "
      "(SELECT max(id) FROM keys))");
}

bool OfAnotherBoot(Connection& connection, const std::string& boot) {
  std::string stored;
  Stmt s;
  if (s.PrepareOnce(connection.db(),
                    "SELECT value FROM meta WHERE name='boot'") == SQLITE_OK) {
    s.Run([&](sqlite3_stmt* row) {
      const auto* text = sqlite3_column_text(row, 0);
      stored = text != nullptr ? reinterpret_cast<const char*>(text) : "";
    });
  }
  return stored != boot;
}

LONG DropStaleVolatile(Connection& connection, const std::string& boot) {
  const std::string sql =
      "DELETE FROM vals WHERE key IN (SELECT id FROM keys WHERE boot IS NOT "
      "NULL AND boot<>'" +
      boot + "'); DELETE FROM keys WHERE boot IS NOT NULL AND boot<>'" + boot +
      "'; INSERT OR REPLACE INTO meta(name, value) VALUES('boot', '" + boot +
      "')";
  return connection.Exec(sql.c_str());
}

}  // namespace corvane::platform::emulated::schema
