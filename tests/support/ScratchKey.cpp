// Scratch keys under HKEY_CURRENT_USER for tests on either backend.
#include "support/ScratchKey.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace corvane::testing {

using namespace platform;

namespace {
std::atomic<int> g_serial{0};
}

ScratchKey::ScratchKey() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const auto stamp =
      std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = "Software\\Corvane Tests\\";
  path_ += info ? std::string(info->test_suite_name()) + "." + info->name()
                : std::string("scratch");
  path_ += "-" + std::to_string(stamp % 1000000007) + "-" +
           std::to_string(g_serial++);
  DeleteTreeForTest(HKEY_CURRENT_USER, path_);
  DWORD disposition = 0;
  const LONG status = RegCreateKeyExA(
      HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
      KEY_ALL_ACCESS, nullptr, &handle_, &disposition);
  if (status != ERROR_SUCCESS) {
    ADD_FAILURE() << "cannot create scratch key " << path_ << ": " << status;
    handle_ = 0;
  }
}

ScratchKey::~ScratchKey() {
  if (handle_ != 0) RegCloseKey(handle_);
  DeleteTreeForTest(HKEY_CURRENT_USER, path_);
}

HKEY ScratchKey::CreateKey(const std::string& relative) const {
  HKEY key = 0;
  const LONG status = RegCreateKeyExA(handle_, relative.c_str(), 0, nullptr,
                                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                      nullptr, &key, nullptr);
  EXPECT_EQ(status, ERROR_SUCCESS) << "creating " << relative;
  return key;
}

void ScratchKey::Make(const std::string& relative) const {
  const HKEY key = CreateKey(relative);
  if (key != 0) RegCloseKey(key);
}

bool ScratchKey::Has(const std::string& relative) const {
  return KeyExists(handle_, relative);
}

std::vector<std::string> SubkeyNames(platform::HKEY key) {
  std::vector<std::string> names;
  char name[256];
  for (platform::DWORD i = 0, length = sizeof name;
       platform::RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr,
                               nullptr) == platform::ERROR_SUCCESS;
       ++i, length = sizeof name) {
    names.emplace_back(name, length);
  }
  return names;
}

std::string ValueNames(platform::HKEY key) {
  std::string names;
  char name[256];
  for (platform::DWORD i = 0, length = sizeof name;
       platform::RegEnumValueA(key, i, name, &length, nullptr, nullptr, nullptr,
                               nullptr) == platform::ERROR_SUCCESS;
       ++i, length = sizeof name) {
    names += std::string(name, length) + ";";
  }
  return names;
}

DWORD ValueCount(HKEY key) {
  DWORD values = 0;
  return RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, &values, nullptr, nullptr, nullptr,
                          nullptr) == ERROR_SUCCESS
             ? values
             : ~DWORD{0};
}

std::string QueryString(HKEY key, const char* name) {
  char data[256];
  DWORD size = sizeof data, type = 0;
  const LONG status = RegQueryValueExA(key, name, nullptr, &type,
                                       reinterpret_cast<BYTE*>(data), &size);
  if (status != ERROR_SUCCESS) return "status " + std::to_string(status);
  return std::string(data, size > 0 ? size - 1 : 0);
}

bool KeyExists(HKEY parent, const std::string& path) {
  HKEY key = 0;
  if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

LONG DeleteTreeForTest(HKEY parent, const std::string& name) {
  HKEY key = 0;
  if (RegOpenKeyExA(parent, name.c_str(), 0, KEY_ALL_ACCESS, &key) ==
      ERROR_SUCCESS) {
    for (;;) {
      char child[512];
      DWORD length = sizeof child;
      if (RegEnumKeyExA(key, 0, child, &length, nullptr, nullptr, nullptr,
                        nullptr) != ERROR_SUCCESS) {
        break;
      }
      if (DeleteTreeForTest(key, child) != ERROR_SUCCESS) break;
    }
    RegCloseKey(key);
  }
  return RegDeleteKeyA(parent, name.c_str());
}

}  // namespace corvane::testing
