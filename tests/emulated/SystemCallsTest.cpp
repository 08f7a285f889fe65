// Failures of the system calls the emulated store makes itself, injected
// through its table of system calls: each is reported as the store being
// unusable, with the file and the system's reason.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Platform.h"
#include "platform/emulated/system/SystemCalls.h"
#include "support/ScratchFolder.h"

namespace corvane::platform::emulated {
namespace {

namespace fs = std::filesystem;

bool IsCounterFile(const char* path) {
  return std::string_view(path).ends_with("-changes");
}

class SystemCallsTest : public ::testing::Test {
 protected:
  SystemCallsTest() {
    if (const char* old = std::getenv("CORVANE_REGISTRY")) saved_ = old;
  }
  ~SystemCallsTest() override {
    System() = RealSystemCalls();  // before the suite's store is bound again
    if (saved_) {
      setenv("CORVANE_REGISTRY", saved_->c_str(), 1);
    } else {
      unsetenv("CORVANE_REGISTRY");
    }
    RegCloseKey(HKEY_CURRENT_USER);  // binds the suite's store again
  }

  // Points the registry at `name` in the scratch folder; its full path.
  std::string Use(const std::string& name) {
    const std::string path = folder_.File(name);
    setenv("CORVANE_REGISTRY", path.c_str(), 1);
    return path;
  }

  static LONG CreateKey() {
    HKEY key = 0;
    const LONG status =
        RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Made", 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) RegCloseKey(key);
    return status;
  }

  corvane::testing::ScratchFolder folder_;

 private:
  std::optional<std::string> saved_;
};

// The first write makes the store and its change counter; a counter that
// can't be opened, sized or mapped leaves no usable store, whatever step it
// failed at.
TEST_F(SystemCallsTest, ACounterThatCantBeMadeLeavesTheStoreUnusable) {
  struct Case {
    const char* store;
    void (*inject)();
    const char* reason;
  } cases[] = {
      {"open.db",
       [] {
         System().open = [](const char* path, int flags, mode_t mode) {
           if (!IsCounterFile(path))
             return RealSystemCalls().open(path, flags, mode);
           errno = EACCES;
           return -1;
         };
       },
       "open.db-changes: Permission denied"},
      {"sized.db",
       [] {
         System().ftruncate = [](int, off_t) {
           errno = ENOSPC;
           return -1;
         };
       },
       "sized.db-changes: can't be sized"},
      {"mapped.db",
       [] {
         System().mmap = [](void*, std::size_t, int, int, int, off_t) {
           errno = ENOMEM;
           return MAP_FAILED;
         };
       },
       "mapped.db-changes: can't be mapped"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.store);
    const std::string store = Use(c.store);
    c.inject();
    EXPECT_EQ(CreateKey(), ERROR_BADDB);
    const std::string problem = RegistryLoadError();
    EXPECT_EQ(problem.rfind(store + ": ", 0), 0u) << problem;
    EXPECT_NE(problem.find(c.reason), std::string::npos) << problem;
    System() = RealSystemCalls();
  }
}

TEST_F(SystemCallsTest, AStoreFolderThatCantBeMadeIsReported) {
  const std::string store = Use("not/yet/live.db");
  System().mkdir = [](const char*, mode_t) {
    errno = EACCES;
    return -1;
  };
  EXPECT_EQ(CreateKey(), ERROR_BADDB);
  EXPECT_EQ(RegistryLoadError(), store + ": Permission denied");
  EXPECT_FALSE(fs::exists(folder_.File("not")));
}

// An old hive that can't be read is reported as "<file>: <reason>" and
// leaves no store behind.
TEST_F(SystemCallsTest, AHiveThatCantBeReadIsReportedWithTheSystemsReason) {
  const std::string hive = folder_.File("old.reg");
  std::ofstream(hive, std::ios::binary)
      << "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Old]\r\n";
  Use("old.reg");
  System().read = [](int, void*, std::size_t) -> ssize_t {
    errno = EIO;
    return -1;
  };
  EXPECT_EQ(RegistryLoadError(), hive + ": Input/output error");
  HKEY key = 0;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key),
            ERROR_BADDB);
  EXPECT_FALSE(fs::exists(hive + ".db"));
}

}  // namespace
}  // namespace corvane::platform::emulated
