// Entry point of the corvane::winreg tests. On the emulated registry the run
// gets a folder of its own, and each test a fresh store in it (see
// UseFreshStore), so nothing touches the user's registry.
#include <gtest/gtest.h>

#include <filesystem>

#include "WinRegTestSupport.h"

#ifdef CORVANE_EMULATED
#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace {
std::string runFolder;
int storeCount = 0;
}  // namespace

bool UnderWine() { return false; }

void UseFreshStore() {
  // A new name is a new, empty registry: the emulation looks at
  // CORVANE_REGISTRY on every call and opens the store it names.
  const std::string store =
      runFolder + "/store-" + std::to_string(++storeCount) + ".reg";
  setenv("CORVANE_REGISTRY", store.c_str(), 1);
}

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  std::string folder =
      (std::filesystem::temp_directory_path() / "corvane-winreg-XXXXXX")
          .string();
  if (mkdtemp(folder.data()) == nullptr) return 2;
  runFolder = folder;
  unsetenv("CORVANE_REGISTRY_READONLY");
  UseFreshStore();
  const int result = RUN_ALL_TESTS();
  std::filesystem::remove_all(folder);
  return result;
}
#else
#include <windows.h>

// The system's registry is one: tests keep to their scratch keys.
void UseFreshStore() {}

bool UnderWine() {
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") !=
         nullptr;
}

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
#endif
