// The ADVAPI32 registry functions of the emulated backend, answered from an
// in-memory KeyTree, with the handle table, the access checks and the test
// hooks that reach into them.
//
// One mutex guards the tree, the handle table and the load state; every
// function below takes it for its whole call, so the functions may be called
// from any thread. The hive is loaded under that lock before the first call
// is answered, and saved at RegFlushKey and once at normal process end when
// anything changed.
//
// Names and string data cross the "A" functions in the emulated ANSI code
// page, one byte per UTF-16 unit, as Windows converts them for a single-byte
// code page; inside the tree they are UTF-16.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "platform/emulated/Hive.h"
#include "platform/emulated/KeyTree.h"
#include "platform/emulated/TestHooks.h"

namespace corvane::platform {

namespace emulated {
namespace {

constexpr LONG kErrorNoAccess = 998;

constexpr REGSAM kGenericRead = 0x80000000u;
constexpr REGSAM kGenericWrite = 0x40000000u;
constexpr REGSAM kGenericExecute = 0x20000000u;
constexpr REGSAM kGenericAll = 0x10000000u;
constexpr REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY |
                                KEY_CREATE_LINK | DELETE | WRITE_DAC |
                                WRITE_OWNER;

constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;

// Handle values: multiples of 4 as Windows hands them out, never reused
// within a process, so a closed handle stays invalid.
constexpr HKEY kFirstHandle = 0x100;
constexpr HKEY kLastHandle = 0x7FFFFFFC;

struct OpenKey {
  std::shared_ptr<KeyNode> node;
  REGSAM granted;
};

struct Registry {
  std::mutex mutex;
  KeyTree tree;
  bool loaded = false;
  bool exitSaveRegistered = false;
  bool readOnly = false;
  std::string loadError;
  std::unordered_map<HKEY, OpenKey> handles;
  HKEY nextHandle = kFirstHandle;
  std::vector<std::weak_ptr<KeyNode>> denials;
  std::size_t flushes = 0;
  LONG failNextFlush = ERROR_SUCCESS;
  std::function<void()> afterSizeQuery;
};

// Never destroyed: the save at process end and calls from other static
// destructors must still find it.
Registry& State() {
  static Registry* registry = new Registry;
  return *registry;
}

bool ReadOnlyRequested() {
  const char* flag = std::getenv("CORVANE_REGISTRY_READONLY");
  return flag != nullptr && std::string_view(flag) == "1";
}

void SaveAtExit() {
  Registry& r = State();
  std::lock_guard lock(r.mutex);
  if (!r.loadError.empty() || !r.tree.Changed()) return;
  const std::string reason = SaveHive(r.tree);
  if (reason.empty()) {
    r.tree.ClearChanged();
  } else {
    // Nobody is left to hand a status to.
    std::fprintf(stderr, "corvane: registry not saved: %s\n", reason.c_str());
  }
}

void EnsureLoaded(Registry& r) {
  if (r.loaded) return;
  r.loaded = true;
  r.readOnly = ReadOnlyRequested();
  r.loadError = LoadHive(r.tree);
  r.tree.ClearChanged();
  if (!r.exitSaveRegistered) {
    r.exitSaveRegistered = true;
    std::atexit(SaveAtExit);
  }
}

// The lock for one call, with the hive loaded.
class Call {
 public:
  Call() : r_(State()), lock_(r_.mutex) { EnsureLoaded(r_); }
  Registry& operator*() { return r_; }
  Registry* operator->() { return &r_; }
  // ERROR_BADDB while the hive could not be loaded.
  LONG Status() const {
    return r_.loadError.empty() ? ERROR_SUCCESS : ERROR_BADDB;
  }

 private:
  Registry& r_;
  std::lock_guard<std::mutex> lock_;
};

bool IsRoot(HKEY hKey) {
  return hKey >= HKEY_CLASSES_ROOT && hKey <= HKEY_DYN_DATA;
}

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

std::u16string FromAnsi(std::string_view text) {
  const std::wstring wide = AnsiToWide(text);
  return std::u16string(wide.begin(), wide.end());
}

std::u16string FromAnsi(const char* text) {
  return text == nullptr ? std::u16string() : FromAnsi(std::string_view(text));
}

// One byte per UTF-16 unit: a surrogate has no place in the code page, and
// each half becomes "?" on its own, so sizes stay the unit count.
std::string ToAnsi(std::u16string_view text) {
  std::wstring wide;
  wide.reserve(text.size());
  for (char16_t c : text) {
    wide.push_back(c >= 0xD800 && c <= 0xDFFF ? L'?' : static_cast<wchar_t>(c));
  }
  return WideToAnsi(wide);
}

std::string DataToAnsi(const std::vector<BYTE>& data) {
  std::u16string units(data.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  return ToAnsi(units);
}

std::vector<BYTE> DataFromAnsi(const BYTE* data, DWORD size) {
  const std::u16string units =
      FromAnsi(std::string_view(reinterpret_cast<const char*>(data), size));
  std::vector<BYTE> bytes(units.size() * 2);
  for (std::size_t i = 0; i < units.size(); ++i) {
    bytes[2 * i] = static_cast<BYTE>(units[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<BYTE>(units[i] >> 8);
  }
  return bytes;
}

DWORD Size(std::size_t n) { return static_cast<DWORD>(n); }

bool UnderMachine(Registry& r, const KeyNode* node) {
  while (node->Parent() != nullptr) node = node->Parent();
  return node == r.tree.Root(HKEY_LOCAL_MACHINE);
}

// What this key refuses to anyone: its test ACL, and every write right
// below HKEY_LOCAL_MACHINE for a process without elevation.
REGSAM Refused(Registry& r, const KeyNode* node) {
  REGSAM refused = node->DeniedRights();
  if (r.readOnly && UnderMachine(r, node)) refused |= kWriteRights;
  return refused;
}

REGSAM ExpandGeneric(REGSAM sam) {
  REGSAM rights =
      sam & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll |
              MAXIMUM_ALLOWED | KEY_WOW64_32KEY | KEY_WOW64_64KEY);
  if (sam & kGenericRead) rights |= KEY_READ;
  if (sam & kGenericWrite) rights |= KEY_WRITE;
  if (sam & kGenericExecute) rights |= KEY_EXECUTE;
  if (sam & kGenericAll) rights |= KEY_ALL_ACCESS;
  return rights;
}

LONG Grant(Registry& r, const KeyNode* node, REGSAM sam, REGSAM& granted) {
  const REGSAM wanted = ExpandGeneric(sam);
  const REGSAM refused = Refused(r, node);
  if (wanted & refused) return ERROR_ACCESS_DENIED;
  granted = wanted;
  if (sam & MAXIMUM_ALLOWED) granted |= KEY_ALL_ACCESS & ~refused;
  return ERROR_SUCCESS;
}

// The key a handle stands for and the rights it carries. A predefined key
// carries whatever its key allows, as Windows opens them with
// MAXIMUM_ALLOWED.
LONG Resolve(Registry& r, HKEY hKey, KeyNode*& node, REGSAM& granted) {
  if (IsRoot(hKey)) {
    node = r.tree.Root(hKey);
    granted = KEY_ALL_ACCESS & ~Refused(r, node);
    return ERROR_SUCCESS;
  }
  const auto it = r.handles.find(hKey);
  if (it == r.handles.end()) return ERROR_INVALID_HANDLE;
  if (it->second.node->IsDeleted()) return ERROR_KEY_DELETED;
  node = it->second.node.get();
  granted = it->second.granted;
  return ERROR_SUCCESS;
}

LONG Resolve(Registry& r, HKEY hKey, REGSAM needed, KeyNode*& node) {
  REGSAM granted = 0;
  if (const LONG status = Resolve(r, hKey, node, granted)) return status;
  return (granted & needed) == needed ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

HKEY NewHandle(Registry& r, KeyNode* node, REGSAM granted) {
  HKEY handle = r.nextHandle;
  // Past the last value the count starts again, skipping handles in use.
  while (r.handles.count(handle) != 0 || handle > kLastHandle) {
    handle = handle > kLastHandle ? kFirstHandle : handle + 4;
  }
  r.nextHandle = handle + 4;
  r.handles.emplace(handle, OpenKey{node->Shared(), granted});
  return handle;
}

// A subkey path split at its backslashes; doubled and trailing ones are
// empty parts and drop out.
LONG ParsePath(HKEY hKey, const char* subKey,
               std::vector<std::u16string>& parts) {
  const std::u16string path = FromAnsi(subKey);
  std::u16string_view rest = path;
  if (!rest.empty() && rest.front() == u'\\') {
    // HKEY_CLASSES_ROOT alone takes a leading backslash, for old callers.
    if (hKey != HKEY_CLASSES_ROOT) return ERROR_BAD_PATHNAME;
    rest.remove_prefix(1);
  }
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find(u'\\'), rest.size());
    if (end > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
    if (end > 0) parts.emplace_back(rest.substr(0, end));
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
  return ERROR_SUCCESS;
}

// The existing key that `subKey` names below the key of `hKey`.
LONG FindKey(Registry& r, HKEY hKey, const char* subKey, KeyNode*& node) {
  REGSAM unused = 0;
  if (const LONG status = Resolve(r, hKey, node, unused)) return status;
  std::vector<std::u16string> parts;
  if (const LONG status = ParsePath(hKey, subKey, parts)) return status;
  for (const auto& part : parts) {
    if ((node = node->FindChild(part)) == nullptr) return ERROR_FILE_NOT_FOUND;
  }
  return ERROR_SUCCESS;
}

// Copies string data out the way the "A" functions do: when there is room
// and the data has no terminator of its own, one is added after it.
void CopyData(BYTE* out, DWORD capacity, const std::string& ansi,
              const std::vector<BYTE>& raw, bool isString) {
  if (!isString) {
    std::copy(raw.begin(), raw.end(), out);
    return;
  }
  std::copy(ansi.begin(), ansi.end(), out);
  if (!ansi.empty() && ansi.size() < capacity && ansi.back() != '\0') {
    out[ansi.size()] = 0;
  }
}

}  // namespace

void ResetRegistry() {
  Registry& r = State();
  std::lock_guard lock(r.mutex);
  r.handles.clear();
  r.denials.clear();
  r.tree.Clear();
  r.loaded = true;
  r.loadError.clear();
  r.readOnly = ReadOnlyRequested();
  if (!r.exitSaveRegistered) {
    r.exitSaveRegistered = true;
    std::atexit(SaveAtExit);
  }
}

void DenyAccess(HKEY root, const char* path, REGSAM rights) {
  Call r;
  KeyNode* node = r->tree.Root(root);
  std::vector<std::u16string> parts;
  if (node == nullptr || ParsePath(root, path, parts) != ERROR_SUCCESS) return;
  for (const auto& part : parts) {
    if ((node = node->FindChild(part)) == nullptr) return;
  }
  node->SetDeniedRights(node->DeniedRights() | rights);
  r->denials.push_back(node->Shared());
}

void ClearDenials() {
  Call r;
  for (auto& weak : r->denials) {
    if (auto node = weak.lock()) node->SetDeniedRights(0);
  }
  r->denials.clear();
}

std::size_t FlushCount() {
  Call r;
  return r->flushes;
}

void FailNextFlush(LONG status) {
  Call r;
  r->failNextFlush = status;
}

void AfterNextSizeQuery(std::function<void()> action) {
  Call r;
  r->afterSizeQuery = std::move(action);
}

std::size_t OpenHandleCount() {
  Call r;
  return r->handles.size();
}

}  // namespace emulated

using emulated::Call;
using emulated::KeyNode;

LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD /*ulOptions*/,
                   REGSAM samDesired, HKEY* phkResult) {
  Call r;
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = 0;
  if (const LONG status = r.Status()) return status;
  if (emulated::IsRoot(hKey) && (lpSubKey == nullptr || *lpSubKey == '\0')) {
    *phkResult = hKey;
    return ERROR_SUCCESS;
  }
  KeyNode* node = nullptr;
  if (const LONG status = emulated::FindKey(*r, hKey, lpSubKey, node)) {
    return status;
  }
  REGSAM granted = 0;
  if (const LONG status = emulated::Grant(*r, node, samDesired, granted)) {
    return status;
  }
  *phkResult = emulated::NewHandle(*r, node, granted);
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved,
                     char* lpClass, DWORD dwOptions, REGSAM samDesired,
                     const SECURITY_ATTRIBUTES* /*lpSecurityAttributes*/,
                     HKEY* phkResult, DWORD* lpdwDisposition) {
  Call r;
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = 0;
  if (Reserved != 0) return ERROR_INVALID_PARAMETER;
  if (const LONG status = r.Status()) return status;
  // Unlike RegOpenKeyExA, an empty subkey on a predefined key gives a new
  // handle to its key, as any other key would.
  KeyNode* node = nullptr;
  REGSAM unused = 0;
  if (const LONG status = emulated::Resolve(*r, hKey, node, unused)) {
    return status;
  }
  std::vector<std::u16string> parts;
  if (const LONG status = emulated::ParsePath(hKey, lpSubKey, parts)) {
    return status;
  }
  std::size_t existing = 0;
  while (existing < parts.size()) {
    KeyNode* child = node->FindChild(parts[existing]);
    if (child == nullptr) break;
    node = child;
    ++existing;
  }
  const bool isVolatile = (dwOptions & REG_OPTION_VOLATILE) != 0;
  const bool create = existing < parts.size();
  REGSAM granted = 0;
  if (create) {
    if (emulated::Refused(*r, node) & KEY_CREATE_SUB_KEY) {
      return ERROR_ACCESS_DENIED;
    }
    // A volatile key vanishes with the process, so a lasting key below it
    // could not be kept.
    if (node->IsVolatile() && !isVolatile) return ERROR_CHILD_MUST_BE_VOLATILE;
    for (std::size_t i = existing; i < parts.size(); ++i) {
      node = node->CreateChild(parts[i], isVolatile);
    }
    if (lpClass != nullptr) node->SetClassName(emulated::FromAnsi(lpClass));
  }
  if (const LONG status = emulated::Grant(*r, node, samDesired, granted)) {
    return status;
  }
  *phkResult = emulated::NewHandle(*r, node, granted);
  if (lpdwDisposition != nullptr) {
    *lpdwDisposition = create ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  }
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
  Call r;
  if (const LONG status = r.Status()) return status;
  if (emulated::IsRoot(hKey)) return ERROR_SUCCESS;
  return r->handles.erase(hKey) != 0 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

namespace emulated {
namespace {

LONG QueryValue(HKEY hKey, const char* lpValueName, DWORD* lpType,
                BYTE* lpData, DWORD* lpcbData) {
  Call r;
  if (const LONG status = r.Status()) return status;
  KeyNode* node = nullptr;
  if (const LONG status = Resolve(*r, hKey, KEY_QUERY_VALUE, node)) {
    return status;
  }
  const DWORD capacity = lpcbData != nullptr ? *lpcbData : 0;
  if (lpData == nullptr && lpcbData != nullptr) *lpcbData = 0;
  const KeyValue* value = node->FindValue(FromAnsi(lpValueName));
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;

  const bool isString = IsStringType(value->type);
  const std::string ansi = isString ? DataToAnsi(value->data) : "";
  const DWORD size = Size(isString ? ansi.size() : value->data.size());
  LONG status = ERROR_SUCCESS;
  if (lpData != nullptr) {
    if (size > capacity) {
      status = ERROR_MORE_DATA;
    } else {
      CopyData(lpData, capacity, ansi, value->data, isString);
    }
  }
  if (lpType != nullptr) *lpType = value->type;
  if (lpcbData != nullptr) *lpcbData = size;
  return status;
}

}  // namespace
}  // namespace emulated

LONG RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved,
                      DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  if ((lpData != nullptr && lpcbData == nullptr) || lpReserved != nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  const LONG status =
      emulated::QueryValue(hKey, lpValueName, lpType, lpData, lpcbData);
  if (lpData == nullptr) {
    std::function<void()> action;
    {
      emulated::Call r;
      action = std::move(r->afterSizeQuery);
      r->afterSizeQuery = nullptr;
    }
    if (action) action();
  }
  return status;
}

LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName,
                   DWORD* lpcchValueName, DWORD* lpReserved, DWORD* lpType,
                   BYTE* lpData, DWORD* lpcbData) {
  if ((lpData != nullptr && lpcbData == nullptr) || lpReserved != nullptr ||
      lpValueName == nullptr || lpcchValueName == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  Call r;
  if (const LONG status = r.Status()) return status;
  KeyNode* node = nullptr;
  if (const LONG status = emulated::Resolve(*r, hKey, KEY_QUERY_VALUE, node)) {
    return status;
  }
  const emulated::KeyValue* value = node->ValueAt(dwIndex);
  if (value == nullptr) return ERROR_NO_MORE_ITEMS;

  const bool isString = emulated::IsStringType(value->type);
  const std::string ansi = isString ? emulated::DataToAnsi(value->data) : "";
  const DWORD size =
      emulated::Size(isString ? ansi.size() : value->data.size());
  const std::string name = emulated::ToAnsi(value->name);
  // Nothing is written unless both the name and the data fit; the sizes
  // that were asked for are reported all the same.
  const bool nameFits = name.size() < *lpcchValueName;
  const bool dataFits = lpData == nullptr || size <= *lpcbData;
  if (nameFits && dataFits) {
    std::memcpy(lpValueName, name.data(), name.size());
    lpValueName[name.size()] = '\0';
    *lpcchValueName = emulated::Size(name.size());
    if (lpData != nullptr) {
      emulated::CopyData(lpData, *lpcbData, ansi, value->data, isString);
    }
  }
  if (lpType != nullptr) *lpType = value->type;
  if (lpcbData != nullptr) *lpcbData = size;
  return nameFits && dataFits ? ERROR_SUCCESS : ERROR_MORE_DATA;
}

LONG RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved,
                    DWORD dwType, const BYTE* lpData, DWORD cbData) {
  if (Reserved != 0) return ERROR_INVALID_PARAMETER;
  if (lpData == nullptr && cbData != 0) return emulated::kErrorNoAccess;
  Call r;
  if (const LONG status = r.Status()) return status;
  KeyNode* node = nullptr;
  if (const LONG status = emulated::Resolve(*r, hKey, KEY_SET_VALUE, node)) {
    return status;
  }
  std::u16string name = emulated::FromAnsi(lpValueName);
  if (name.size() > emulated::kMaxValueNameLength) {
    return ERROR_INVALID_PARAMETER;
  }
  // Only the cbData bytes given are read: a string without its terminator
  // is kept without one.
  std::vector<BYTE> data =
      emulated::IsStringType(dwType)
          ? emulated::DataFromAnsi(lpData, cbData)
          : std::vector<BYTE>(lpData, lpData + (lpData ? cbData : 0));
  node->SetValue(name, dwType, std::move(data));
  return ERROR_SUCCESS;
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName,
                   DWORD* lpReserved, char* lpClass, DWORD* lpcchClass,
                   FILETIME* lpftLastWriteTime) {
  if (lpReserved != nullptr || lpName == nullptr || lpcchName == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  Call r;
  if (const LONG status = r.Status()) return status;
  KeyNode* node = nullptr;
  if (const LONG status =
          emulated::Resolve(*r, hKey, KEY_ENUMERATE_SUB_KEYS, node)) {
    return status;
  }
  const KeyNode* child = node->ChildAt(dwIndex);
  if (child == nullptr) return ERROR_NO_MORE_ITEMS;
  const std::string name = emulated::ToAnsi(child->Name());
  const std::string className = emulated::ToAnsi(child->ClassName());
  if (lpftLastWriteTime != nullptr) {
    lpftLastWriteTime->dwLowDateTime =
        static_cast<DWORD>(child->LastWriteTime());
    lpftLastWriteTime->dwHighDateTime =
        static_cast<DWORD>(child->LastWriteTime() >> 32);
  }
  if (name.size() >= *lpcchName ||
      (lpClass != nullptr && lpcchClass != nullptr &&
       className.size() >= *lpcchClass)) {
    return ERROR_MORE_DATA;
  }
  std::memcpy(lpName, name.data(), name.size());
  lpName[name.size()] = '\0';
  *lpcchName = emulated::Size(name.size());
  if (lpcchClass != nullptr) {
    if (lpClass != nullptr) {
      std::memcpy(lpClass, className.data(), className.size());
      lpClass[className.size()] = '\0';
    }
    *lpcchClass = emulated::Size(className.size());
  }
  return ERROR_SUCCESS;
}

LONG RegQueryInfoKeyA(HKEY hKey, char* lpClass, DWORD* lpcchClass,
                      DWORD* lpReserved, DWORD* lpcSubKeys,
                      DWORD* lpcbMaxSubKeyLen, DWORD* lpcbMaxClassLen,
                      DWORD* lpcValues, DWORD* lpcbMaxValueNameLen,
                      DWORD* lpcbMaxValueLen, DWORD* lpcbSecurityDescriptor,
                      FILETIME* lpftLastWriteTime) {
  if ((lpClass != nullptr && lpcchClass == nullptr) || lpReserved != nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  Call r;
  if (const LONG status = r.Status()) return status;
  KeyNode* node = nullptr;
  if (const LONG status = emulated::Resolve(*r, hKey, KEY_QUERY_VALUE, node)) {
    return status;
  }
  LONG status = ERROR_SUCCESS;
  if (lpcchClass != nullptr) {
    const std::string className = emulated::ToAnsi(node->ClassName());
    if (lpClass != nullptr) {
      if (className.size() + 1 > *lpcchClass) {
        status = ERROR_MORE_DATA;
      } else {
        std::memcpy(lpClass, className.data(), className.size());
        lpClass[className.size()] = '\0';
      }
    }
    *lpcchClass = emulated::Size(className.size());
  }
  using emulated::Size;
  if (lpcSubKeys != nullptr) *lpcSubKeys = Size(node->ChildCount());
  if (lpcbMaxSubKeyLen != nullptr) {
    *lpcbMaxSubKeyLen = Size(node->MaxChildNameLength());
  }
  if (lpcbMaxClassLen != nullptr) {
    *lpcbMaxClassLen = Size(node->MaxChildClassLength());
  }
  if (lpcValues != nullptr) *lpcValues = Size(node->ValueCount());
  if (lpcbMaxValueNameLen != nullptr) {
    *lpcbMaxValueNameLen = Size(node->MaxValueNameLength());
  }
  // In bytes as stored, so UTF-16 for strings: an upper bound of what the
  // "A" functions hand out, as on Windows.
  if (lpcbMaxValueLen != nullptr) {
    *lpcbMaxValueLen = Size(node->MaxValueDataSize());
  }
  // The emulation keeps no security descriptors.
  if (lpcbSecurityDescriptor != nullptr) *lpcbSecurityDescriptor = 0;
  if (lpftLastWriteTime != nullptr) {
    lpftLastWriteTime->dwLowDateTime =
        static_cast<DWORD>(node->LastWriteTime());
    lpftLastWriteTime->dwHighDateTime =
        static_cast<DWORD>(node->LastWriteTime() >> 32);
  }
  return status;
}

LONG RegDeleteKeyA(HKEY hKey, const char* lpSubKey) {
  if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  // Bit 31 marks the 95 family, whose delete takes the subtree with it.
  const bool wholeSubtree = (GetVersion() & 0x80000000u) != 0;
  Call r;
  if (const LONG status = r.Status()) return status;
  KeyNode* node = nullptr;
  if (const LONG status = emulated::FindKey(*r, hKey, lpSubKey, node)) {
    return status;
  }
  // A root key, and the Classes key that stands for HKEY_CLASSES_ROOT, can
  // only be emptied.
  if (node->Parent() == nullptr) return ERROR_ACCESS_DENIED;
  if (emulated::Refused(*r, node) & DELETE) return ERROR_ACCESS_DENIED;
  if (node->ChildCount() != 0) {
    if (!wholeSubtree) return ERROR_ACCESS_DENIED;
    // All or nothing: a key below that refuses deletion keeps the whole
    // subtree in place.
    std::vector<const KeyNode*> pending{node};
    while (!pending.empty()) {
      const KeyNode* key = pending.back();
      pending.pop_back();
      if (emulated::Refused(*r, key) & DELETE) return ERROR_ACCESS_DENIED;
      for (const KeyNode* child : key->Children()) pending.push_back(child);
    }
  }
  node->Parent()->RemoveChild(node->Name());
  return ERROR_SUCCESS;
}

LONG RegDeleteValueA(HKEY hKey, const char* lpValueName) {
  Call r;
  if (const LONG status = r.Status()) return status;
  KeyNode* node = nullptr;
  if (const LONG status = emulated::Resolve(*r, hKey, KEY_SET_VALUE, node)) {
    return status;
  }
  return node->DeleteValue(emulated::FromAnsi(lpValueName))
             ? ERROR_SUCCESS
             : ERROR_FILE_NOT_FOUND;
}

LONG RegFlushKey(HKEY hKey) {
  Call r;
  ++r->flushes;
  if (const LONG status = std::exchange(r->failNextFlush, ERROR_SUCCESS)) {
    return status;
  }
  if (const LONG status = r.Status()) return status;
  KeyNode* node = nullptr;
  REGSAM unused = 0;
  if (const LONG status = emulated::Resolve(*r, hKey, node, unused)) {
    return status;
  }
  if (!r->tree.Changed()) return ERROR_SUCCESS;
  // A failed save leaves the tree marked changed: the save at process end
  // tries again and says why on stderr if it fails too.
  if (!emulated::SaveHive(r->tree).empty()) return ERROR_REGISTRY_IO_FAILED;
  r->tree.ClearChanged();
  return ERROR_SUCCESS;
}

std::string RegistryLoadError() {
  Call r;
  return r->loadError;
}

}  // namespace corvane::platform
