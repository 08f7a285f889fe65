// The checksum VFS under SQLite itself, without the registry: what a
// writer leaves in the log is what a reader reads back and what SQLite's
// own recovery accepts, frame sums and page checksums alike.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>

#include "platform/emulated/store/ChecksumVfs.h"
#include "support/ScratchFolder.h"

namespace corvane::platform::emulated {
namespace {

namespace fs = std::filesystem;

// A connection through the checksum VFS; `uri` may carry parameters.
class Db {
 public:
  explicit Db(const std::string& uri) {
    opened_ = sqlite3_open_v2(
        uri.c_str(), &db_,
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI,
        checksums::VfsName());
  }
  ~Db() { sqlite3_close(db_); }
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  int opened() const { return opened_; }
  int Exec(const std::string& sql) {
    return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
  }
  // The first column of the first row, or the error's text.
  std::string Get(const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    std::string out;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      return sqlite3_errmsg(db_);
    }
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
      const auto* text = sqlite3_column_text(st, 0);
      out = text != nullptr ? reinterpret_cast<const char*>(text) : "NULL";
    } else {
      out = sqlite3_errstr(rc);
    }
    sqlite3_finalize(st);
    return out;
  }
  // A checksummed database in WAL mode with 2 KB pages, as the store makes
  // them; the log is never moved into the database on its own.
  void Format() {
    int reserved = checksums::kReservedBytes;
    ASSERT_EQ(sqlite3_file_control(db_, "main", SQLITE_FCNTL_RESERVE_BYTES,
                                   &reserved),
              SQLITE_OK);
    ASSERT_EQ(Exec("PRAGMA page_size=2048; PRAGMA journal_mode=WAL;"
                   "PRAGMA wal_autocheckpoint=0;"
                   "CREATE TABLE t(k INTEGER PRIMARY KEY, v BLOB)"),
              SQLITE_OK);
  }
  // Adds `rows` rows of `size` bytes from `first` on, in one transaction.
  int Insert(int first, int rows, int size) {
    return Exec("WITH RECURSIVE n(k) AS (SELECT " + std::to_string(first) +
                " UNION ALL SELECT k + 1 FROM n WHERE k < " +
                std::to_string(first + rows - 1) +
                ") INSERT INTO t SELECT k, randomblob(" + std::to_string(size) +
                ") FROM n");
  }

 private:
  sqlite3* db_ = nullptr;
  int opened_ = SQLITE_ERROR;
};

class ChecksumVfs : public ::testing::Test {
 protected:
  ChecksumVfs() : path_(folder_.File("t.db")) {}

  // What a machine that stopped now would find on its disk: the database
  // and its log, without the shared index, so that SQLite rebuilds the
  // index from the log and checks every frame's sum as it goes.
  std::string Crash() {
    const fs::path copy = folder_.Path() / ("crash" + std::to_string(++n_));
    fs::create_directory(copy);
    fs::copy_file(path_, copy / "t.db");
    fs::copy_file(path_ + "-wal", copy / "t.db-wal");
    return (copy / "t.db").string();
  }

  // Every row and every page of a copy, read back through the checksums.
  static void ExpectIntact(const std::string& path, const std::string& rows) {
    Db db(path);
    ASSERT_EQ(db.opened(), SQLITE_OK);
    EXPECT_EQ(db.Get("SELECT count(*) || '/' || sum(length(v)) FROM t"), rows);
    EXPECT_EQ(db.Get("PRAGMA integrity_check"), "ok");
  }

  testing::ScratchFolder folder_;
  const std::string path_;
  int n_ = 0;
};

// A transaction far larger than the cache: SQLite writes frames before the
// commit, then writes some of their pages again in place and makes the
// frames' sums again at the commit.
TEST_F(ChecksumVfs, ATransactionLargerThanTheCacheIsWholeAfterwards) {
  Db db(path_);
  ASSERT_EQ(db.opened(), SQLITE_OK);
  db.Format();
  ASSERT_EQ(db.Insert(1, 10, 100), SQLITE_OK);
  ASSERT_EQ(db.Exec("PRAGMA cache_size=20; BEGIN"), SQLITE_OK);
  ASSERT_EQ(db.Insert(100, 3000, 400), SQLITE_OK);  // 600 pages or more
  ASSERT_EQ(db.Exec("UPDATE t SET v=randomblob(300) WHERE k % 7 = 0"),
            SQLITE_OK);
  ASSERT_EQ(db.Exec("COMMIT"), SQLITE_OK);
  const std::string rows = "3010/1158400";
  EXPECT_EQ(db.Get("SELECT count(*) || '/' || sum(length(v)) FROM t"), rows);
  {
    Db other(path_);
    EXPECT_EQ(other.Get("SELECT count(*) || '/' || sum(length(v)) FROM t"),
              rows);
    EXPECT_EQ(other.Get("PRAGMA integrity_check"), "ok");
  }
  ExpectIntact(Crash(), rows);
}

}  // namespace
}  // namespace corvane::platform::emulated
