// Test entry point. On the emulated backend every run gets a store of
// its own in a fresh temporary folder, so tests never touch the user's
// registry.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#ifdef CORVANE_EMULATED
#include <unistd.h>

#include "platform/Platform.h"
#endif

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
#ifdef CORVANE_EMULATED
  std::string dir =
      (std::filesystem::temp_directory_path() / "corvane-test-XXXXXX").string();
  if (mkdtemp(dir.data()) == nullptr) return 2;
  const std::string store = dir + "/registry.reg";
  setenv("CORVANE_REGISTRY", store.c_str(), 1);
  unsetenv("CORVANE_REGISTRY_READONLY");
  const int result = RUN_ALL_TESTS();
  // Save now, so that the save at exit finds nothing left to write and
  // doesn't bring the folder back.
  corvane::platform::RegFlushKey(corvane::platform::HKEY_CURRENT_USER);
  std::filesystem::remove_all(dir);
  return result;
#else
  return RUN_ALL_TESTS();
#endif
}
