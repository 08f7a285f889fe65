// The hives loaded into a store (Mounts.h).
#include "platform/emulated/store/Mounts.h"

#include "platform/emulated/store/HiveFile.h"

namespace corvane::platform::emulated {

LONG Mounts::List(std::vector<Mount>& mounts) {
  mounts.clear();
  Stmt s;
  // No table: no hive was ever loaded.
  if (s.PrepareOnce(c_.db(), "SELECT key, file, boot FROM mounts") !=
      SQLITE_OK) {
    return ERROR_SUCCESS;
  }
  const int rc = s.Each([&](sqlite3_stmt* row) {
    Mount mount;
    mount.key = sqlite3_column_int64(row, 0);
    const auto* file = sqlite3_column_text(row, 1);
    const auto* boot = sqlite3_column_text(row, 2);
    if (file != nullptr) mount.file = reinterpret_cast<const char*>(file);
    if (boot != nullptr) mount.boot = reinterpret_cast<const char*>(boot);
    mounts.push_back(std::move(mount));
  });
  return c_.Status(rc);
}

LONG Mounts::Add(std::int64_t key, const std::string& file) {
  if (const LONG status =
          c_.Exec("CREATE TABLE IF NOT EXISTS mounts(key INTEGER PRIMARY KEY, "
                  "file TEXT NOT NULL, boot TEXT NOT NULL)")) {
    return status;
  }
  Stmt s;
  if (s.PrepareOnce(c_.db(),
                    "INSERT OR REPLACE INTO mounts(key, file, boot) "
                    "VALUES(?1, ?2, ?3)") != SQLITE_OK) {
    return c_.Status(sqlite3_errcode(c_.db()));
  }
  c_.MarkWritten();
  return c_.Status(s.Exec(key, file.c_str(), boot_.c_str()));
}

LONG Mounts::Remove(std::int64_t key) {
  Stmt s;
  if (s.PrepareOnce(c_.db(), "DELETE FROM mounts WHERE key=?1") != SQLITE_OK) {
    return ERROR_SUCCESS;
  }
  c_.MarkWritten();
  return c_.Status(s.Exec(key));
}

LONG Mounts::Retarget(std::int64_t key, const std::string& file) {
  Stmt s;
  if (s.PrepareOnce(c_.db(), "UPDATE mounts SET file=?2 WHERE key=?1") !=
      SQLITE_OK) {
    return c_.Status(sqlite3_errcode(c_.db()));
  }
  c_.MarkWritten();
  return c_.Status(s.Exec(key, file.c_str()));
}

LONG Mounts::EndStale(Rows& rows, SubtreeScan& scan) {
  std::vector<Mount> mounts;
  if (const LONG status = List(mounts)) return status;
  for (const Mount& mount : mounts) {
    if (mount.boot == boot_) continue;
    Hive hive;
    const LONG collected = CollectHive(scan, mount.key, hive);
    if (collected == ERROR_SUCCESS) {
      if (WriteHive(mount.file, hive, true) != ERROR_SUCCESS) {
        Stmt s;
        if (s.PrepareOnce(c_.db(), "UPDATE mounts SET boot=?2 WHERE key=?1") ==
            SQLITE_OK) {
          c_.MarkWritten();
          s.Exec(mount.key, boot_.c_str());
        }
        continue;
      }
      if (const LONG status = rows.DeleteTree(mount.key)) return status;
    } else if (collected != ERROR_KEY_DELETED) {
      return collected;
    }
    if (const LONG status = Remove(mount.key)) return status;
  }
  return ERROR_SUCCESS;
}

}  // namespace corvane::platform::emulated
