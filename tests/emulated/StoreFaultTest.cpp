// The store when its files let it down, each fault met by real processes
// (corvane_regchild, the repair itself): a page damaged on disk, a store this
// process may only read, and a disk that takes no more bytes.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "support/Process.h"
#include "support/RegChild.h"
#include "support/ScratchFolder.h"

namespace corvane::platform {
namespace {

namespace fs = std::filesystem;
using testing::Process;
using testing::RegChildRun;
using testing::RunRegChild;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The UTF-16 form in which a store keeps `text`.
std::string Utf16(const std::string& text) {
  std::string bytes;
  for (const char c : text) bytes += {c, '\0'};
  return bytes;
}

// Changes one byte where `file` holds the start of `text` (a long value
// spreads over pages of its own).
bool Damage(const std::string& file, const std::string& text) {
  const std::string start = Utf16(text.substr(0, 20));
  const std::size_t at = Slurp(file).find(start);
  if (at == std::string::npos) return false;
  std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out);
  out.seekp(static_cast<std::streamoff>(at + start.size() / 2));
  out.put('R');
  return static_cast<bool>(out);
}

// Moves everything the log holds into the database, as the last process
// to close a store does.
void Checkpoint(const std::string& db) {
  sqlite3* connection = nullptr;
  ASSERT_EQ(
      sqlite3_open_v2(db.c_str(), &connection, SQLITE_OPEN_READWRITE, nullptr),
      SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(connection, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(connection);
}

// corvane_regchild run through the shell, with `prefix` before it (a
// limit, another user).
RegChildRun RunShell(const std::string& prefix,
                     const std::vector<std::string>& args,
                     const Process::Environment& environment) {
  std::string script = prefix + " \"$0\" \"$@\"";
  std::vector<std::string> argv{
      "-c", script,
      (testing::ExecutableDirectory() / CORVANE_REGCHILD_NAME).string()};
  argv.insert(argv.end(), args.begin(), args.end());
  Process child("/bin/sh", argv, environment);
  RegChildRun run;
  run.status = child.Wait(testing::kChildGuard);
  run.output = child.Output();
  return run;
}

class StoreFault : public ::testing::Test {
 protected:
  StoreFault() : store_(folder_.File("store.db")) {}

  testing::ScratchFolder folder_;
  const std::string store_;
  const Process::Environment env_{{"CORVANE_REGISTRY", store_}};
};

// A page whose bytes changed on disk is a corrupt registry (1009) to the
// next process that reads it, never data: in the database, and in the log
// of a writer still running.
TEST_F(StoreFault, ADamagedPageIsReportedNotServed) {
  const std::string kept(600, 'Q');
  ASSERT_EQ(RunRegChild({"set", "Fault", "kept", kept}, env_).output, "ok\n");
  Checkpoint(store_);
  ASSERT_TRUE(Damage(store_, kept));
  auto reader = RunRegChild({"get", "Fault", "kept"}, env_);
  EXPECT_EQ(reader.status, 1);
  EXPECT_EQ(reader.output, "error 1009\n");

  // The store is refused whole from then on, writes included.
  EXPECT_EQ(RunRegChild({"set", "Other", "v", "x"}, env_).output,
            "error 1009\n");
}

TEST_F(StoreFault, ADamagedPageInTheLogIsReportedNotServed) {
  ASSERT_EQ(RunRegChild({"set", "Fault", "first", "x"}, env_).output, "ok\n");
  // The writer keeps its connection, and so its log, until it is told to
  // end.
  const std::string logged(600, 'L');
  const std::string release = folder_.File("release");
  auto writer = testing::StartRegChild(
      {"set", "Fault", "logged", logged, "wait", release}, env_);
  ASSERT_EQ(writer->ReadLine(testing::kChildGuard), "ok");
  ASSERT_TRUE(Damage(store_ + "-wal", logged));
  auto reader = RunRegChild({"get", "Fault", "logged"}, env_);
  EXPECT_EQ(reader.output, "error 1009\n");
  std::ofstream{release};
  EXPECT_EQ(writer->Wait(testing::kChildGuard), 0);
}

// A store another user owns (or in a read-only folder): read as usual,
// written with ERROR_ACCESS_DENIED as Windows answers a caller without
// write access, and the repair refuses it with the reason and exit 2.
// Nothing in its folder changes.
TEST_F(StoreFault, AStoreThisProcessCantWriteAnswersReadsAndRefusesWrites) {
  ASSERT_EQ(RunRegChild({"set", "Fault", "v", "kept"}, env_).output, "ok\n");
  const std::string before = Slurp(store_);
  std::string asOther;
  fs::permissions(folder_.Path(), fs::perms::owner_all | fs::perms::group_read |
                                      fs::perms::group_exec |
                                      fs::perms::others_read |
                                      fs::perms::others_exec);
  if (geteuid() == 0) {
    asOther = "exec setpriv --reuid=65534 --regid=65534 --clear-groups";
  } else {
    asOther = "exec";
    fs::permissions(store_, fs::perms::owner_read);
    fs::permissions(folder_.Path(),
                    fs::perms::owner_read | fs::perms::owner_exec);
  }
  const auto read = RunShell(asOther, {"get", "Fault", "v"}, env_);
  EXPECT_EQ(read.output, "kept\n");
  const auto write = RunShell(asOther, {"set", "Fault", "v", "new"}, env_);
  EXPECT_EQ(write.output, "error 5\n");

  Process repair("/bin/sh", {"-c", asOther + " \"$0\" 2>&1", CORVANE_APP_PATH},
                 env_);
  EXPECT_EQ(repair.Wait(testing::kChildGuard), 2);
  EXPECT_EQ(repair.Output().rfind("corvane: ", 0), 0u) << repair.Output();
  EXPECT_NE(repair.Output().find("Permission denied"), std::string::npos)
      << repair.Output();

  fs::permissions(folder_.Path(), fs::perms::owner_all);
  fs::permissions(store_, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(Slurp(store_), before);
  EXPECT_EQ(RunRegChild({"get", "Fault", "v"}, env_).output, "kept\n");
}

// A disk that takes no more bytes (a file size limit stands in for it):
// the first write answers 1016 and leaves no file, a later one answers
// 1016 and keeps what was there; both work once there is room.
TEST_F(StoreFault, AFullDiskLosesNothingAndLeavesNoEmptyStore) {
  const std::string full = "trap '' XFSZ; ulimit -f 0; exec";
  EXPECT_EQ(RunShell(full, {"set", "Fault", "v", "first"}, env_).output,
            "error 1016\n");
  EXPECT_TRUE(fs::is_empty(folder_.Path()));

  ASSERT_EQ(RunRegChild({"set", "Fault", "v", "first"}, env_).output, "ok\n");
  EXPECT_EQ(RunShell(full, {"set", "Fault", "v", std::string(4000, 'x')}, env_)
                .output,
            "error 1016\n");
  EXPECT_EQ(RunRegChild({"get", "Fault", "v"}, env_).output, "first\n");
  EXPECT_EQ(
      RunRegChild({"set", "Fault", "v", "second", "get", "Fault", "v"}, env_)
          .output,
      "ok\nsecond\n");
}

}  // namespace
}  // namespace corvane::platform
