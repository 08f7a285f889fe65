// The checksum VFS under SQLite itself, without the registry: what a
// writer leaves in the log is what a reader reads back and what SQLite's
// own recovery accepts, frame sums and page checksums alike.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/emulated/store/ChecksumVfs.h"
#include "support/ScratchFolder.h"

namespace corvane::platform::emulated {
namespace {

namespace fs = std::filesystem;

// A connection through the checksum VFS (or `vfs`, null for the system's
// own); `uri` may carry parameters.
class Db {
 public:
  explicit Db(const std::string& uri, const char* vfs = checksums::VfsName()) {
    opened_ = sqlite3_open_v2(
        uri.c_str(), &db_,
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI, vfs);
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
  // A database in WAL mode with 2 KB pages, checksummed as the store makes
  // them unless `reserved` is 0; the log is never moved into the database
  // on its own.
  void Format(int reserved = checksums::kReservedBytes) {
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

  // Every row and every page at `path`, read back through the checksums
  // by a connection of its own.
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

// Commits of one frame and of many, with the log synced or not, padded out
// to the disk's sectors or not (then SQLite syncs in the middle of a
// frame): the log alone brings every commit back.
TEST_F(ChecksumVfs, EveryCommitIsRecoveredFromTheLogAlone) {
  for (const char* parameters : {"", "?psow=0"}) {
    SCOPED_TRACE(parameters);
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(path_ + suffix);
    Db db("file:" + path_ + parameters);
    ASSERT_EQ(db.opened(), SQLITE_OK);
    db.Format();
    ASSERT_EQ(db.Insert(1, 1, 10), SQLITE_OK);
    ASSERT_EQ(db.Insert(2, 20, 1000), SQLITE_OK);  // a dozen frames
    ASSERT_EQ(db.Exec("PRAGMA synchronous=FULL"), SQLITE_OK);
    ASSERT_EQ(db.Insert(22, 1, 10), SQLITE_OK);
    ASSERT_EQ(db.Insert(23, 3, 3000), SQLITE_OK);
    ASSERT_EQ(db.Insert(26, 1, 10), SQLITE_OK);
    ASSERT_EQ(db.Exec("PRAGMA synchronous=NORMAL"), SQLITE_OK);
    ASSERT_EQ(db.Exec("UPDATE t SET v=randomblob(50) WHERE k=5"), SQLITE_OK);
    const std::string rows = "26/28080";
    EXPECT_EQ(db.Get("SELECT count(*) || '/' || sum(length(v)) FROM t"), rows);
    ExpectIntact(Crash(), rows);
  }
}

// A commit the disk refuses partway (a file size limit stands in for a
// full disk) fails with the error, not as written; the commits before and
// after it are whole.
TEST_F(ChecksumVfs, ACommitTheDiskRefusesFailsAndTheNextIsWhole) {
  Db db(path_);
  ASSERT_EQ(db.opened(), SQLITE_OK);
  db.Format();
  ASSERT_EQ(db.Insert(1, 5, 1000), SQLITE_OK);
  rlimit unlimited{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &unlimited), 0);
  rlimit limit = unlimited;
  limit.rlim_cur = fs::file_size(path_ + "-wal") + 3 * (24 + 2048) + 100;
  const auto handler = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &limit);
  const int refused = db.Insert(6, 20, 1000);  // a dozen frames
  setrlimit(RLIMIT_FSIZE, &unlimited);
  signal(SIGXFSZ, handler);
  EXPECT_TRUE(refused == SQLITE_IOERR || refused == SQLITE_FULL) << refused;

  ASSERT_EQ(db.Insert(6, 2, 1000), SQLITE_OK);
  const std::string rows = "7/7000";
  EXPECT_EQ(db.Get("SELECT count(*) || '/' || sum(length(v)) FROM t"), rows);
  ExpectIntact(Crash(), rows);
}

// A transaction that wrote frames early (its cache full) and was rolled
// back leaves the log to the next writer: what it wrote never lands on
// that writer's frames.
TEST_F(ChecksumVfs, ARolledBackTransactionLeavesTheLogToTheNextWriter) {
  Db first(path_);
  ASSERT_EQ(first.opened(), SQLITE_OK);
  first.Format();
  ASSERT_EQ(first.Insert(1, 5, 100), SQLITE_OK);
  // The rollback then reads what it undoes from the database, not the log.
  ASSERT_EQ(first.Exec("PRAGMA wal_checkpoint(TRUNCATE)"), SQLITE_OK);
  Db second(path_);
  ASSERT_EQ(first.Exec("PRAGMA cache_size=10; BEGIN"), SQLITE_OK);
  ASSERT_EQ(first.Insert(100, 100, 400), SQLITE_OK);
  ASSERT_EQ(first.Exec("ROLLBACK"), SQLITE_OK);
  ASSERT_EQ(second.Insert(6, 20, 1000), SQLITE_OK);
  const std::string rows = "25/20500";
  EXPECT_EQ(first.Get("SELECT count(*) || '/' || sum(length(v)) FROM t"), rows);
  EXPECT_EQ(second.Get("PRAGMA integrity_check"), "ok");
  ExpectIntact(Crash(), rows);
}

// A connection's commit continues the log from its own last one only when
// nothing came between: here the log started over elsewhere and grew back
// to the same length, with another salt.
TEST_F(ChecksumVfs, ACommitAfterTheLogStartedOverElsewhereIsWhole) {
  Db first(path_);
  ASSERT_EQ(first.opened(), SQLITE_OK);
  first.Format();
  ASSERT_EQ(first.Insert(1, 5, 100), SQLITE_OK);
  ASSERT_EQ(first.Exec("PRAGMA wal_checkpoint(TRUNCATE)"), SQLITE_OK);
  ASSERT_EQ(first.Exec("UPDATE t SET v=randomblob(101) WHERE k=1"), SQLITE_OK);
  Db second(path_);
  ASSERT_EQ(second.Exec("PRAGMA wal_checkpoint(TRUNCATE)"), SQLITE_OK);
  ASSERT_EQ(second.Exec("UPDATE t SET v=randomblob(102) WHERE k=1"), SQLITE_OK);
  ASSERT_EQ(first.Exec("UPDATE t SET v=randomblob(103) WHERE k=2"), SQLITE_OK);
  ASSERT_EQ(first.Exec("UPDATE t SET v=randomblob(104) WHERE k=3"), SQLITE_OK);
  const std::string rows = "5/509";
  EXPECT_EQ(first.Get("SELECT count(*) || '/' || sum(length(v)) FROM t"), rows);
  ExpectIntact(Crash(), rows);
}

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
  // The next commit continues the log after frames whose sums SQLite made.
  ASSERT_EQ(db.Insert(5000, 1, 10), SQLITE_OK);
  const std::string rows = "3011/1158410";
  EXPECT_EQ(db.Get("SELECT count(*) || '/' || sum(length(v)) FROM t"), rows);
  ExpectIntact(path_, rows);  // a second connection, with the shared index
  ExpectIntact(Crash(), rows);
}

std::uint32_t Big32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = at; i < at + 4; ++i) {
    value = value << 8 | static_cast<unsigned char>(bytes[i]);
  }
  return value;
}
void PutBig32(std::string& bytes, std::size_t at, std::uint32_t value) {
  for (std::size_t i = at + 4; i-- > at; value >>= 8) {
    bytes[i] = static_cast<char>(value & 0xff);
  }
}
std::uint32_t* Sum(const std::string& bytes, std::size_t at, std::size_t size,
                   bool bigEndian, std::uint32_t sum[2]) {
  checksums::LogSum(bigEndian,
                    reinterpret_cast<const unsigned char*>(bytes.data() + at),
                    static_cast<int>(size), sum);
  return sum;
}

// A log of SQLite's own, its sums made again by LogSum in each order the
// log's header can name: SQLite's recovery takes every frame back, so the
// sums are the ones it makes itself.
TEST_F(ChecksumVfs, SqliteRecoversALogSummedInEitherOrder) {
  Db db(path_, nullptr);
  ASSERT_EQ(db.opened(), SQLITE_OK);
  db.Format(0);
  ASSERT_EQ(db.Insert(1, 30, 700), SQLITE_OK);
  ASSERT_EQ(db.Insert(31, 1, 5), SQLITE_OK);
  const std::string copy = Crash();
  std::string log;
  {
    std::ifstream in(copy + "-wal", std::ios::binary);
    log.assign(std::istreambuf_iterator<char>(in), {});
  }
  const std::size_t page = Big32(log, 8), frame = 24 + page;
  ASSERT_EQ(page, 2048u);
  ASSERT_GT(log.size(), 32 + 10 * frame);
  for (const bool bigEndian : {false, true}) {
    SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
    PutBig32(log, 0, 0x377f0682 | (bigEndian ? 1 : 0));
    std::uint32_t sum[2] = {0, 0};
    Sum(log, 0, 24, bigEndian, sum);
    PutBig32(log, 24, sum[0]);
    PutBig32(log, 28, sum[1]);
    for (std::size_t at = 32; at + frame <= log.size(); at += frame) {
      Sum(log, at + 24, page, bigEndian, Sum(log, at, 8, bigEndian, sum));
      PutBig32(log, at + 16, sum[0]);
      PutBig32(log, at + 20, sum[1]);
    }
    const std::string again = Crash();
    std::ofstream(again + "-wal", std::ios::binary) << log;
    Db recovered(again, nullptr);
    EXPECT_EQ(recovered.Get("SELECT count(*) || '/' || sum(length(v)) FROM t"),
              "31/21005");
  }
}

// Every store file written so far holds these sums: the way they are
// computed may change, their values may not.
TEST(PageSum, StaysTheSumStoresWereWrittenWith) {
  std::string page(65536, '\0');
  for (std::size_t i = 0; i < page.size(); ++i) {
    page[i] = static_cast<char>(i * 7 + (i >> 8));
  }
  const auto sum = [&](int size) {
    return checksums::PageSum(
        reinterpret_cast<const unsigned char*>(page.data()), size);
  };
  EXPECT_EQ(sum(512), 0x7bf5e03f95824563u);
  EXPECT_EQ(sum(4096), 0x001899c0cc54e621u);
  EXPECT_EQ(sum(65536), 0x99349e9021321891u);
}

}  // namespace
}  // namespace corvane::platform::emulated
