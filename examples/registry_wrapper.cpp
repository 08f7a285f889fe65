// Registry code in the style of the small C++ wrappers Windows programs carry
// around HKEY: a class that owns the handle and closes it, typed reads and
// writes, enumeration, and failures raised as exceptions whose text comes
// from FormatMessageW with an allocated buffer. It includes <Windows.h> and
// nothing of Corvane's; built with mingw it runs on Windows' registry, on
// Linux against corvane::winreg on the emulated one, and prints the same
// lines (the system's message texts aside, which differ between Windows and
// Wine). Everything it makes lives under HKEY_CURRENT_USER\Software\Corvane
// Wrapper Example and is removed at the end.
#ifndef UNICODE
#define UNICODE
#endif
#include <Windows.h>
#include <stdio.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

// The system's text for `status`, without its closing line break, or "" when
// it has none.
std::wstring ErrorMessage(LSTATUS status) {
  LPWSTR buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(status),
      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  std::wstring text;
  if (length != 0 && buffer != nullptr) text.assign(buffer, length);
  LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) {
    text.pop_back();
  }
  return text;
}

// A registry call that failed: its status, and what was being done.
class RegistryError : public std::runtime_error {
 public:
  RegistryError(LSTATUS status, const char* what)
      : std::runtime_error(what), status_(status) {}
  LSTATUS Status() const { return status_; }

 private:
  LSTATUS status_;
};

void Check(LSTATUS status, const char* what) {
  if (status != ERROR_SUCCESS) throw RegistryError(status, what);
}

// Owns one open key. Moves, never copies; closes in its destructor.
class RegKey {
 public:
  RegKey() = default;
  RegKey(HKEY parent, const std::wstring& path, REGSAM access = KEY_READ) {
    Open(parent, path, access);
  }
  ~RegKey() { Close(); }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  RegKey(RegKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
  RegKey& operator=(RegKey&& other) noexcept {
    if (this != &other) {
      Close();
      key_ = std::exchange(other.key_, nullptr);
    }
    return *this;
  }

  HKEY Get() const { return key_; }
  void Close() {
    if (key_ != nullptr) RegCloseKey(std::exchange(key_, nullptr));
  }

  void Open(HKEY parent, const std::wstring& path, REGSAM access = KEY_READ) {
    HKEY key = nullptr;
    Check(RegOpenKeyExW(parent, path.c_str(), 0, access, &key), "RegOpenKeyEx");
    Close();
    key_ = key;
  }
  // Whether the key was made, rather than already there.
  bool Create(HKEY parent, const std::wstring& path,
              REGSAM access = KEY_READ | KEY_WRITE) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    Check(RegCreateKeyExW(parent, path.c_str(), 0, nullptr,
                          REG_OPTION_NON_VOLATILE, access, nullptr, &key,
                          &disposition),
          "RegCreateKeyEx");
    Close();
    key_ = key;
    return disposition == REG_CREATED_NEW_KEY;
  }

  void SetDword(const std::wstring& name, DWORD value) {
    Set(name, REG_DWORD, &value, sizeof value);
  }
  void SetQword(const std::wstring& name, ULONGLONG value) {
    Set(name, REG_QWORD, &value, sizeof value);
  }
  void SetString(const std::wstring& name, const std::wstring& value,
                 DWORD type = REG_SZ) {
    Set(name, type, value.c_str(), (value.size() + 1) * sizeof(WCHAR));
  }
  void SetMultiString(const std::wstring& name,
                      const std::vector<std::wstring>& items) {
    std::wstring data;
    for (const std::wstring& item : items) data += item + L'\0';
    data += L'\0';
    Set(name, REG_MULTI_SZ, data.data(), data.size() * sizeof(WCHAR));
  }
  void SetBinary(const std::wstring& name, const std::vector<BYTE>& data) {
    Set(name, REG_BINARY, data.data(), data.size());
  }

  DWORD GetDword(const std::wstring& name) const {
    DWORD value = 0;
    DWORD size = sizeof value;
    Check(RegGetValueW(key_, nullptr, name.c_str(), RRF_RT_REG_DWORD, nullptr,
                       &value, &size),
          "RegGetValue");
    return value;
  }
  ULONGLONG GetQword(const std::wstring& name) const {
    ULONGLONG value = 0;
    DWORD size = sizeof value;
    Check(RegGetValueW(key_, nullptr, name.c_str(), RRF_RT_REG_QWORD, nullptr,
                       &value, &size),
          "RegGetValue");
    return value;
  }
  // REG_SZ, or REG_EXPAND_SZ as stored (not expanded).
  std::wstring GetString(const std::wstring& name) const {
    const std::vector<BYTE> data =
        Get(name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND);
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()),
                      data.size() / sizeof(WCHAR));
    return text.c_str();
  }
  std::vector<std::wstring> GetMultiString(const std::wstring& name) const {
    const std::vector<BYTE> data = Get(name, RRF_RT_REG_MULTI_SZ);
    const auto* text = reinterpret_cast<const wchar_t*>(data.data());
    const size_t length = data.size() / sizeof(WCHAR);
    std::vector<std::wstring> items;
    for (size_t i = 0; i < length && text[i] != L'\0';) {
      items.emplace_back(text + i);
      i += items.back().size() + 1;
    }
    return items;
  }
  std::vector<BYTE> GetBinary(const std::wstring& name) const {
    return Get(name, RRF_RT_REG_BINARY);
  }

  std::vector<std::wstring> SubKeyNames() const {
    DWORD count = 0;
    DWORD longest = 0;
    Check(
        RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, &count, &longest,
                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
        "RegQueryInfoKey");
    std::vector<std::wstring> names;
    std::vector<wchar_t> name(longest + 1);
    for (DWORD i = 0; i < count; ++i) {
      DWORD chars = static_cast<DWORD>(name.size());
      Check(RegEnumKeyExW(key_, i, name.data(), &chars, nullptr, nullptr,
                          nullptr, nullptr),
            "RegEnumKeyEx");
      names.emplace_back(name.data(), chars);
    }
    return names;
  }
  std::vector<std::pair<std::wstring, DWORD>> ValueNamesAndTypes() const {
    std::vector<std::pair<std::wstring, DWORD>> values;
    for (DWORD i = 0;; ++i) {
      wchar_t name[256];
      DWORD chars = ARRAYSIZE(name);
      DWORD type = 0;
      const LSTATUS status = RegEnumValueW(key_, i, name, &chars, nullptr,
                                           &type, nullptr, nullptr);
      if (status == ERROR_NO_MORE_ITEMS) break;
      Check(status, "RegEnumValue");
      values.emplace_back(std::wstring(name, chars), type);
    }
    return values;
  }

  void DeleteValue(const std::wstring& name) {
    Check(RegDeleteValueW(key_, name.c_str()), "RegDeleteValue");
  }
  void DeleteTree(const std::wstring& subKey) {
    Check(RegDeleteTreeW(key_, subKey.c_str()), "RegDeleteTree");
  }

  // Copies this key's subtree (values and subkeys) into `destination`.
  void CopyTreeTo(const RegKey& destination) const {
    Check(RegCopyTreeW(key_, nullptr, destination.Get()), "RegCopyTree");
  }
  // Writes this key's subtree to the hive file `path` (which must not
  // exist yet); the backup privilege must be enabled.
  void SaveHive(const std::wstring& path) const {
    Check(RegSaveKeyW(key_, path.c_str(), nullptr), "RegSaveKey");
  }
  // Mounts the hive file `path` as `subKey` of HKEY_USERS, and takes it
  // away again; the restore privilege must be enabled.
  static void LoadHive(const std::wstring& subKey, const std::wstring& path) {
    Check(RegLoadKeyW(HKEY_USERS, subKey.c_str(), path.c_str()), "RegLoadKey");
  }
  static void UnloadHive(const std::wstring& subKey) {
    Check(RegUnLoadKeyW(HKEY_USERS, subKey.c_str()), "RegUnLoadKey");
  }

 private:
  void Set(const std::wstring& name, DWORD type, const void* data,
           size_t size) {
    Check(RegSetValueExW(key_, name.c_str(), 0, type,
                         static_cast<const BYTE*>(data),
                         static_cast<DWORD>(size)),
          "RegSetValueEx");
  }
  std::vector<BYTE> Get(const std::wstring& name, DWORD flags) const {
    DWORD size = 0;
    Check(RegGetValueW(key_, nullptr, name.c_str(), flags, nullptr, nullptr,
                       &size),
          "RegGetValue");
    std::vector<BYTE> data(size);
    Check(RegGetValueW(key_, nullptr, name.c_str(), flags, nullptr, data.data(),
                       &size),
          "RegGetValue");
    data.resize(size);
    return data;
  }

  HKEY key_ = nullptr;
};

// Enables a privilege of this process (SE_BACKUP_NAME, SE_RESTORE_NAME), as
// code that saves or loads a hive must first: whether it is now held.
bool EnablePrivilege(const wchar_t* name) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(),
                        TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    return false;
  }
  TOKEN_PRIVILEGES wanted = {};
  wanted.PrivilegeCount = 1;
  wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  const bool enabled =
      LookupPrivilegeValueW(nullptr, name, &wanted.Privileges[0].Luid) &&
      AdjustTokenPrivileges(token, FALSE, &wanted, 0, nullptr, nullptr) &&
      GetLastError() == ERROR_SUCCESS;
  CloseHandle(token);
  return enabled;
}

// Output in ASCII, characters beyond it as \uXXXX, so that both systems'
// consoles print the same bytes whatever their code page.
std::string Show(const std::wstring& text) {
  std::string out;
  for (const wchar_t c : text) {
    const unsigned code = static_cast<unsigned>(c);
    if (code >= 0x20 && code < 0x7f) {
      out += static_cast<char>(code);
    } else {
      char escaped[16];
      snprintf(escaped, sizeof escaped, "\\u%04x", code);
      out += escaped;
    }
  }
  return out;
}

// A failure as the wrapper's user reports it: status, call and the system's
// text, on a line of its own that begins "message: ".
void Report(const RegistryError& error) {
  const std::wstring message = ErrorMessage(error.Status());
  printf("%s failed with %d\n", error.what(), static_cast<int>(error.Status()));
  if (message.empty()) {
    printf("no message text\n");
  } else {
    printf("message: %s\n", Show(message).c_str());
  }
}

const wchar_t kRoot[] = L"Software\\Corvane Wrapper Example";

void WriteEveryType(RegKey& key) {
  // Created in their sorted order: Windows enumerates values in creation
  // order and Wine sorted, and the two should agree here.
  key.SetBinary(L"Binary", {0x00, 0x7f, 0x80, 0xff});
  key.SetDword(L"Dword", 0xDEADBEEF);
  key.SetString(L"Expand", L"%TEMP%\\wrapper", REG_EXPAND_SZ);
  key.SetMultiString(L"Multi", {L"one", L"two \u00e9", L"three"});
  key.SetQword(L"Qword", 0x1122334455667788ULL);
  key.SetString(L"Text", L"Caf\u00e9 \u20ac");
}

void ReadEveryType(const RegKey& key) {
  printf("Binary:");
  for (const BYTE b : key.GetBinary(L"Binary")) printf(" %02x", b);
  printf("\nDword: 0x%08lx\n",
         static_cast<unsigned long>(key.GetDword(L"Dword")));
  printf("Expand: %s\n", Show(key.GetString(L"Expand")).c_str());
  printf("Multi:");
  for (const std::wstring& item : key.GetMultiString(L"Multi")) {
    printf(" [%s]", Show(item).c_str());
  }
  printf("\nQword: 0x%016llx\n",
         static_cast<unsigned long long>(key.GetQword(L"Qword")));
  printf("Text: %s\n", Show(key.GetString(L"Text")).c_str());
}

void Enumerate(const RegKey& key) {
  for (const std::wstring& name : key.SubKeyNames()) {
    printf("subkey: %s\n", Show(name).c_str());
  }
  for (const auto& [name, type] : key.ValueNamesAndTypes()) {
    printf("value: %s, type %lu\n", Show(name).c_str(),
           static_cast<unsigned long>(type));
  }
}

// Each of these fails, and says why.
void ShowFailures(const RegKey& key) {
  const struct {
    const char* label;
    void (*attempt)(const RegKey&);
  } attempts[] = {
      {"open a missing key",
       [](const RegKey& parent) { RegKey(parent.Get(), L"Missing"); }},
      {"read a missing value",
       [](const RegKey& parent) { parent.GetDword(L"Missing"); }},
      {"read text as a DWORD",
       [](const RegKey& parent) { parent.GetDword(L"Text"); }},
      {"write through a read-only handle",
       [](const RegKey& parent) {
         RegKey(parent.Get(), L"alpha", KEY_READ).SetDword(L"x", 1);
       }},
  };
  for (const auto& attempt : attempts) {
    printf("%s: ", attempt.label);
    try {
      attempt.attempt(key);
      printf("succeeded\n");
    } catch (const RegistryError& error) {
      Report(error);
    }
  }
}

void Run() {
  RegKey root;
  printf("create: %s\n", root.Create(HKEY_CURRENT_USER, kRoot, KEY_ALL_ACCESS)
                             ? "new"
                             : "existing");
  WriteEveryType(root);
  ReadEveryType(root);
  for (const wchar_t* child : {L"Beta", L"alpha", L"Gamma\\Deep"}) {
    RegKey().Create(root.Get(), child);
  }
  Enumerate(root);
  ShowFailures(root);

  RegKey copy;
  copy.Create(root.Get(), L"Copy of Beta");
  RegKey beta(root.Get(), L"Beta", KEY_READ | KEY_WRITE);
  RegKey inner;
  inner.Create(beta.Get(), L"Inner");
  inner.SetString(L"Kept", L"yes");
  beta.CopyTreeTo(copy);
  printf("copied tree:\n");
  Enumerate(copy);

  RegKey moved = std::move(root);
  moved.DeleteValue(L"Qword");
  moved.DeleteTree(L"Gamma");
  printf("after deleting Qword and Gamma:\n");
  Enumerate(moved);
}

// Saves a key's subtree to a hive file, mounts the file under HKEY_USERS,
// reads it there and unmounts it.
void SaveAndLoad() {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / "corvane-wrapper-example.hiv";
  std::filesystem::remove(file);
  const std::wstring hive = L"Corvane Wrapper Hive";
  {
    RegKey source(HKEY_CURRENT_USER, std::wstring(kRoot) + L"\\Copy of Beta",
                  KEY_READ);
    source.SaveHive(file.wstring());
  }
  RegKey::LoadHive(hive, file.wstring());
  {
    RegKey loaded(HKEY_USERS, hive + L"\\Inner", KEY_READ);
    printf("loaded hive: Kept = %s\n", Show(loaded.GetString(L"Kept")).c_str());
  }
  RegKey::UnloadHive(hive);
  printf("hive unloaded\n");
  std::filesystem::remove(file);
}

}  // namespace

int main() {
  // What an earlier, interrupted run may have left.
  RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
  int exitCode = 0;
  try {
    Run();
  } catch (const RegistryError& error) {
    Report(error);
    exitCode = 1;
  }
  const bool privileges =
      EnablePrivilege(SE_BACKUP_NAME) && EnablePrivilege(SE_RESTORE_NAME);
  printf("privileges to save and load hives: %s\n",
         privileges ? "enabled" : "not held");
  if (privileges) {
    try {
      SaveAndLoad();
    } catch (const RegistryError& error) {
      Report(error);
      exitCode = 1;
    }
  }
  const LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
  printf("delete tree: status %d\n", static_cast<int>(status));
  try {
    RegKey gone(HKEY_CURRENT_USER, kRoot);
  } catch (const RegistryError& error) {
    Report(error);
  }
  return exitCode;
}
