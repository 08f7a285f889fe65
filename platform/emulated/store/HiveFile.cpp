// Hive files (HiveFile.h): collected from the store, written aside and moved
// into place, read back through SQLite without a byte written.
#include "platform/emulated/store/HiveFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "platform/emulated/store/ChecksumVfs.h"
#include "platform/emulated/store/Connection.h"
#include "platform/emulated/store/Schema.h"
#include "platform/emulated/system/SystemCalls.h"

namespace corvane::platform::emulated {
namespace {

// The longest key name the registry takes.
constexpr std::size_t kMaxHiveKeyName = 255;

// Takes the keys of a subtree as they come, leaving volatile ones out.
class Collector final : public KeySink {
 public:
  explicit Collector(Hive& hive) : hive_(hive) {}
  void Expect(std::size_t keys) override { hive_.keys.reserve(keys); }
  bool Take(KeyRow&& row) override {
    const bool top = hive_.keys.empty();
    if (!top && (row.isVolatile || !ids_.contains(row.parent))) return true;
    const std::int64_t number = static_cast<std::int64_t>(ids_.size()) + 1;
    ids_.emplace(row.id, number);
    row.parent = top ? 0 : ids_.at(row.parent);
    row.id = number;
    row.isVolatile = false;
    if (top) row.name.clear();
    hive_.keys.push_back(std::move(row));
    return true;
  }
  void Restart() override {
    hive_.keys.clear();
    ids_.clear();
  }
  // The hive's number for a store key, or 0 when it was left out.
  std::int64_t Number(std::int64_t id) const {
    const auto it = ids_.find(id);
    return it == ids_.end() ? 0 : it->second;
  }

 private:
  Hive& hive_;
  std::unordered_map<std::int64_t, std::int64_t> ids_;
};

// What a failed system call on a hive's file means to the caller.
LONG FileStatus(int error) {
  switch (error) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    default:
      return ERROR_CANTWRITE;
  }
}

std::string FolderOf(const std::string& path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  return folder.empty() ? "." : folder;
}

// 2 for a missing file in a folder that exists, else 3.
LONG Missing(const std::string& path) {
  struct stat st {};
  const std::string folder = FolderOf(path);
  return System().stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)
             ? ERROR_FILE_NOT_FOUND
             : ERROR_PATH_NOT_FOUND;
}

// The file as an SQLite URI that opens it read-only and never looks for a
// log or lock file beside it.
std::string ImmutableUri(const std::string& path) {
  std::string uri = "file:";
  for (const char c : path) {
    if (c == '%' || c == '?' || c == '#') {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X",
                    static_cast<unsigned char>(c));
      uri += escaped;
    } else {
      uri += c;
    }
  }
  return uri + "?immutable=1";
}

// Reads the rows of an open hive; false for any fault in them.
bool ReadRows(sqlite3* db, Hive& hive) {
  Stmt check;
  bool ok = false;
  if (check.PrepareOnce(db, "PRAGMA quick_check") != SQLITE_OK) return false;
  if (check.Run([&](sqlite3_stmt* s) {
        const auto* text = sqlite3_column_text(s, 0);
        ok = text != nullptr &&
             std::strcmp(reinterpret_cast<const char*>(text), "ok") == 0;
      }) != SQLITE_ROW ||
      !ok) {
    return false;
  }
  Stmt keys;
  if (keys.PrepareOnce(db,
                       "SELECT id, parent, name, class, boot, last_write "
                       "FROM keys ORDER BY id") != SQLITE_OK) {
    return false;
  }
  std::unordered_set<std::int64_t> seen;
  // Names as the store's indexes would meet them: one of each per parent.
  std::unordered_set<std::string> names;
  bool sound = true;
  int rc = keys.Each([&](sqlite3_stmt* s) {
    KeyRow row = sql::ColumnKey(s);
    row.isVolatile = false;
    // The top first, then each key after its parent.
    const bool top = hive.keys.empty();
    if (top ? row.parent != 0 : !seen.contains(row.parent)) sound = false;
    if (!top &&
        (row.name.empty() || row.name.size() > kMaxHiveKeyName ||
         row.name.find(u'\\') != std::u16string::npos ||
         !names.insert(std::to_string(row.parent) + ':' + FoldKey(row.name))
              .second)) {
      sound = false;
    }
    if (top) row.name.clear();
    seen.insert(row.id);
    hive.keys.push_back(std::move(row));
  });
  if (rc != SQLITE_DONE || !sound || hive.keys.empty()) return false;
  Stmt values;
  if (values.PrepareOnce(db,
                         "SELECT key, ord, name, type, data FROM vals "
                         "ORDER BY key, ord") != SQLITE_OK) {
    return false;
  }
  names.clear();
  rc = values.Each([&](sqlite3_stmt* s) {
    ValueRow row = sql::ColumnValue(s);
    if (!seen.contains(row.key) ||
        !names.insert(std::to_string(row.key) + ':' + FoldKey(row.name))
             .second) {
      sound = false;
    }
    hive.values.push_back(std::move(row));
  });
  return rc == SQLITE_DONE && sound;
}

// Writes the hive's rows into a fresh hive file's connection.
LONG WriteRows(Connection& c, const Hive& hive) {
  if (const LONG status = schema::CreateHive(c)) return status;
  if (c.Exec("BEGIN")) return ERROR_CANTWRITE;
  Stmt key, value, last;
  if (key.PrepareOnce(c.db(),
                      "INSERT INTO keys(id, parent, name, class, boot, "
                      "last_write) VALUES(?1, ?2, ?3, ?4, NULL, ?5)") !=
          SQLITE_OK ||
      value.PrepareOnce(c.db(),
                        "INSERT INTO vals(key, ord, name, type, data) "
                        "VALUES(?1, ?2, ?3, ?4, ?5)") != SQLITE_OK ||
      last.PrepareOnce(c.db(),
                       "INSERT OR REPLACE INTO meta(name, value) "
                       "VALUES('last_key_id', ?1)") != SQLITE_OK) {
    return ERROR_CANTWRITE;
  }
  for (const KeyRow& row : hive.keys) {
    const std::u16string* className =
        row.className.empty() ? nullptr : &row.className;
    if (key.Exec(row.id, row.parent, std::u16string_view(row.name), className,
                 row.lastWrite) != SQLITE_DONE) {
      return ERROR_CANTWRITE;
    }
  }
  for (const ValueRow& row : hive.values) {
    if (value.Exec(row.key, row.ord, std::u16string_view(row.name), row.type,
                   std::span<const BYTE>(row.data)) != SQLITE_DONE) {
      return ERROR_CANTWRITE;
    }
  }
  if (last.Exec(static_cast<std::int64_t>(hive.keys.size())) != SQLITE_DONE ||
      c.Exec("COMMIT")) {
    return ERROR_CANTWRITE;
  }
  return ERROR_SUCCESS;
}

void SyncFolder(const std::string& folder) {
  const SystemCalls& sys = System();
  const int fd =
      sys.open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0) return;
  sys.fsync(fd);
  sys.close(fd);
}

}  // namespace

LONG CollectHive(SubtreeScan& scan, std::int64_t top, Hive& hive) {
  hive = {};
  Collector collector(hive);
  SubtreeRest rest;
  if (const LONG status = scan.Load(
          top, std::numeric_limits<std::size_t>::max(), collector, rest)) {
    return status;
  }
  if (hive.keys.empty()) return ERROR_KEY_DELETED;
  for (ValueRow& row : rest.values) {
    const std::int64_t number = collector.Number(row.key);
    if (number == 0) continue;
    row.key = number;
    hive.values.push_back(std::move(row));
  }
  return ERROR_SUCCESS;
}

LONG ReadHive(const std::string& path, Hive& hive) {
  hive = {};
  const SystemCalls& sys = System();
  struct stat st {};
  if (sys.stat(path.c_str(), &st) != 0) {
    return errno == ENOENT ? Missing(path) : FileStatus(errno);
  }
  // Windows opens a hive file for exclusive use: a folder can't be.
  if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
  const int fd = sys.open(path.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return FileStatus(errno);
  char header[16] = {};
  const ssize_t got = sys.read(fd, header, sizeof header);
  sys.close(fd);
  if (got != static_cast<ssize_t>(sizeof header) ||
      std::memcmp(header, "SQLite format 3", 16) != 0) {
    return ERROR_NOT_REGISTRY_FILE;
  }
  sqlite3* db = nullptr;
  const std::string uri = ImmutableUri(path);
  int rc = sqlite3_open_v2(
      uri.c_str(), &db,
      SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
      checksums::VfsName());
  LONG status = ERROR_SUCCESS;
  if (rc != SQLITE_OK || RegisterFold(db) != SQLITE_OK) {
    status = ERROR_BADDB;
  } else if (!schema::IsHive(db)) {
    // A store of ours, or a database of someone else's, is no hive; one
    // whose header can't even be read is a damaged one.
    status = sqlite3_errcode(db) == SQLITE_OK ||
                     sqlite3_errcode(db) == SQLITE_DONE ||
                     sqlite3_errcode(db) == SQLITE_ROW
                 ? ERROR_NOT_REGISTRY_FILE
                 : ERROR_BADDB;
  } else if (!ReadRows(db, hive)) {
    status = ERROR_BADDB;
  }
  sqlite3_close_v2(db);
  if (status != ERROR_SUCCESS) hive = {};
  return status;
}

LONG WriteHive(const std::string& path, const Hive& hive, bool replace) {
  const SystemCalls& sys = System();
  struct stat st {};
  if (sys.stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode))
      return replace ? ERROR_ACCESS_DENIED : kAlreadyExists;
    if (!replace) return kAlreadyExists;
  } else if (errno != ENOENT) {
    return FileStatus(errno);
  }
  const std::string folder = FolderOf(path);
  if (sys.stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return ERROR_PATH_NOT_FOUND;
  }
  // Beside its name, so that the move is a rename on one file system.
  const std::string aside = folder + "/." +
                            std::filesystem::path(path).filename().string() +
                            "." + std::to_string(getpid()) + ".hive";
  sys.unlink(aside.c_str());
  LONG status;
  {
    Connection c;
    c.Aim(aside);
    status = c.OpenAside();
    if (status == ERROR_SUCCESS) status = WriteRows(c, hive);
    c.Close();
  }
  if (status == ERROR_SUCCESS) {
    const int fd = sys.open(aside.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0 || sys.fsync(fd) != 0) status = ERROR_CANTWRITE;
    if (fd >= 0) sys.close(fd);
  } else if (sys.access(folder.c_str(), W_OK) != 0) {
    status = FileStatus(errno);
  }
  if (status == ERROR_SUCCESS) {
    // link never takes the place of a file that appeared meanwhile.
    const int placed = replace ? std::rename(aside.c_str(), path.c_str())
                               : sys.link(aside.c_str(), path.c_str());
    if (placed != 0) {
      status = errno == EEXIST ? kAlreadyExists : FileStatus(errno);
    }
  }
  sys.unlink(aside.c_str());
  if (status == ERROR_SUCCESS) SyncFolder(folder);
  return status;
}

LONG PlantHive(Rows& rows, const Hive& hive, std::int64_t parent,
               std::u16string_view name, std::int64_t& top) {
  std::unordered_map<std::int64_t, std::int64_t> ids;
  for (const KeyRow& row : hive.keys) {
    if (row.parent == 0 && top != 0) {
      ids.emplace(row.id, top);
      continue;
    }
    const std::int64_t under = row.parent == 0 ? parent : ids.at(row.parent);
    const std::u16string* className =
        row.className.empty() ? nullptr : &row.className;
    std::int64_t id = 0;
    if (const LONG status =
            rows.InsertKey(under, row.parent == 0 ? name : row.name, className,
                           false, row.lastWrite, id)) {
      return status;
    }
    ids.emplace(row.id, id);
    if (row.parent == 0) top = id;
  }
  std::vector<ValueRow> values;
  values.reserve(hive.values.size());
  for (const ValueRow& row : hive.values) {
    values.push_back(row);
    values.back().key = ids.at(row.key);
  }
  return values.empty() ? ERROR_SUCCESS : rows.InsertValues(values);
}

}  // namespace corvane::platform::emulated
