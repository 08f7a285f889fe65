// The ADVAPI32 registry functions of the emulated backend, answered from the
// process's view of the shared store (View.h), with the handle table, the
// access checks and the test hooks that reach into them.
//
// One mutex guards the view, the handle table and the hooks; every function
// below takes it for its whole call, so the functions may be called from any
// thread. Each call is one read or one write of the store: atomic, and seen
// by every process once it returns.
//
// Names and string data cross the "A" functions in the emulated ANSI code
// page, one byte per UTF-16 unit, as Windows converts them for a single-byte
// code page; in the store they are UTF-16.
#include <pthread.h>

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
#include "platform/emulated/Store.h"
#include "platform/emulated/TestHooks.h"
#include "platform/emulated/View.h"

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

// Keys that stand for predefined keys: they can be emptied, never deleted.
constexpr std::int64_t kProtectedIds[] = {7, 8, 10, 11};
// The two halves of HKEY_CLASSES_ROOT's merged view.
constexpr std::int64_t kMachineClassesId = 8;  // HKLM\SOFTWARE\Classes
constexpr std::int64_t kUserClassesId = 11;    // HKCU\Software\Classes

// The subkeys a key shows through HKEY_CLASSES_ROOT, as they stood when the
// store's change counter read `at` (odd: not worked out yet).
struct MergedList {
  std::uint64_t at = 1;
  std::vector<std::int64_t> ids;
  std::size_t maxName = 0, maxClass = 0;
};

struct OpenKey {
  std::int64_t id;
  REGSAM granted;
  // Opened through HKEY_CLASSES_ROOT: paths below it and its subkeys are
  // those of the merged view, while its values are those of the copy it
  // opened (`id`).
  bool merged = false;
  MergedList list;
};

struct Registry {
  std::mutex mutex;
  Store store;
  View view{store};
  bool readOnly = false;
  std::unordered_map<HKEY, OpenKey> handles;
  // What HKEY_CLASSES_ROOT itself stands for: the machine's Classes key, as
  // the predefined handle is opened on Windows, seen merged.
  OpenKey classesRoot{kMachineClassesId, KEY_ALL_ACCESS, true, {}};
  HKEY nextHandle = kFirstHandle;
  std::unordered_map<std::int64_t, REGSAM> denials;
  std::size_t flushes = 0;
  LONG failNextFlush = ERROR_SUCCESS;
  std::function<void()> afterSizeQuery;
};

bool ReadOnlyRequested() {
  const char* flag = std::getenv("CORVANE_REGISTRY_READONLY");
  return flag != nullptr && std::string_view(flag) == "1";
}

Registry& State();

// A connection must not cross fork: both processes would drive the same
// SQLite locks. The parent drops it (reconnecting at its next call) before
// the child exists; the lock is held across fork so that no call is half
// done in the child.
void BeforeFork() {
  Registry& r = State();
  r.mutex.lock();
  r.store.Disconnect();
}
void AfterFork() { State().mutex.unlock(); }

// Never destroyed: calls from other static destructors must still find it.
Registry& State() {
  static Registry* registry = [] {
    auto* r = new Registry;
    r->readOnly = ReadOnlyRequested();
    r->view.onRebind = [r] {
      r->handles.clear();
      r->denials.clear();
      r->classesRoot.list = {};
    };
    pthread_atfork(BeforeFork, AfterFork, AfterFork);
    return r;
  }();
  return *registry;
}

// The registry, locked for one call.
class RegistryLock {
 public:
  RegistryLock() : r_(State()), lock_(r_.mutex) {}
  Registry& operator*() { return r_; }
  Registry* operator->() { return &r_; }

 private:
  Registry& r_;
  std::lock_guard<std::mutex> lock_;
};

// Runs one read call.
template <class Body>
LONG Read(Registry& r, Body&& body) {
  return r.view.Read(body);
}

template <class Body>
LONG Write(Registry& r, Body&& body, bool durable = false) {
  return r.view.Write(body, durable);
}

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

LONG UnderMachine(Registry& r, CachedKey* key, bool& under) {
  while (key->parent != 0) {
    if (const LONG status = r.view.Key(key->parent, key)) return status;
  }
  under = key->id == kMachineRootId;
  return ERROR_SUCCESS;
}

// What this key refuses to anyone: its test ACL, and every write right
// below HKEY_LOCAL_MACHINE for a process without elevation.
LONG Refused(Registry& r, CachedKey* key, REGSAM& refused) {
  const auto it = r.denials.find(key->id);
  refused = it != r.denials.end() ? it->second : 0;
  if (r.readOnly) {
    bool under = false;
    if (const LONG status = UnderMachine(r, key, under)) return status;
    if (under) refused |= kWriteRights;
  }
  return ERROR_SUCCESS;
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

LONG Grant(Registry& r, CachedKey* key, REGSAM sam, REGSAM& granted) {
  const REGSAM wanted = ExpandGeneric(sam);
  REGSAM refused = 0;
  if (const LONG status = Refused(r, key, refused)) return status;
  if (wanted & refused) return ERROR_ACCESS_DENIED;
  granted = wanted;
  if (sam & MAXIMUM_ALLOWED) granted |= KEY_ALL_ACCESS & ~refused;
  return ERROR_SUCCESS;
}

// What a handle stands for: its key, the rights it carries, and its entry
// (the classes root's for HKEY_CLASSES_ROOT, none for other predefined keys).
struct Target {
  CachedKey* key = nullptr;
  REGSAM granted = 0;
  OpenKey* open = nullptr;

  bool Merged() const { return open != nullptr && open->merged; }
};

// A predefined key carries whatever its key allows, as Windows opens them
// with MAXIMUM_ALLOWED.
LONG Resolve(Registry& r, HKEY hKey, Target& target) {
  if (IsRoot(hKey)) {
    const bool classes = hKey == HKEY_CLASSES_ROOT;
    const std::int64_t id =
        classes ? kMachineClassesId : kRootIds[hKey - HKEY_CURRENT_USER];
    if (const LONG status = r.view.Key(id, target.key)) return status;
    target.open = classes ? &r.classesRoot : nullptr;
    REGSAM refused = 0;
    if (const LONG status = Refused(r, target.key, refused)) return status;
    target.granted = KEY_ALL_ACCESS & ~refused;
    return ERROR_SUCCESS;
  }
  const auto it = r.handles.find(hKey);
  if (it == r.handles.end()) return ERROR_INVALID_HANDLE;
  target.open = &it->second;
  target.granted = it->second.granted;
  return r.view.Key(it->second.id, target.key);
}

LONG Resolve(Registry& r, HKEY hKey, REGSAM needed, Target& target) {
  if (const LONG status = Resolve(r, hKey, target)) return status;
  return (target.granted & needed) == needed ? ERROR_SUCCESS
                                             : ERROR_ACCESS_DENIED;
}

LONG Resolve(Registry& r, HKEY hKey, REGSAM needed, CachedKey*& key) {
  Target target;
  const LONG status = Resolve(r, hKey, needed, target);
  key = target.key;
  return status;
}

HKEY NewHandle(Registry& r, const CachedKey* key, REGSAM granted, bool merged) {
  HKEY handle = r.nextHandle;
  // Past the last value the count starts again, skipping handles in use.
  while (r.handles.count(handle) != 0 || handle > kLastHandle) {
    handle = handle > kLastHandle ? kFirstHandle : handle + 4;
  }
  r.nextHandle = handle + 4;
  r.handles.emplace(handle, OpenKey{key->id, granted, merged, {}});
  return handle;
}

// The path of a key of the merged view below whichever Classes key holds it.
LONG ClassPath(Registry& r, CachedKey* key,
               std::vector<std::u16string>& parts) {
  std::vector<std::u16string> up;
  while (key->id != kMachineClassesId && key->id != kUserClassesId) {
    // Only keys found through the merged view are asked about.
    if (key->parent == 0) return ERROR_BADKEY;
    up.push_back(key->name);
    if (const LONG status = r.view.Key(key->parent, key)) return status;
  }
  parts.assign(up.rbegin(), up.rend());
  return ERROR_SUCCESS;
}

// The key `parts` names below the key `from`, or nullptr.
LONG Descend(Registry& r, std::int64_t from,
             const std::vector<std::u16string>& parts, CachedKey*& key) {
  if (const LONG status = r.view.Key(from, key)) return status;
  for (const auto& part : parts) {
    if (const LONG status = r.view.Child(*key, part, key)) return status;
    if (key == nullptr) break;
  }
  return ERROR_SUCCESS;
}

// The merged view's key at `parts` below the Classes keys: the user's copy
// when there is one, else the machine's, else nullptr.
LONG MergedKey(Registry& r, const std::vector<std::u16string>& parts,
               CachedKey*& key) {
  if (const LONG status = Descend(r, kUserClassesId, parts, key)) {
    return status;
  }
  if (key != nullptr) return ERROR_SUCCESS;
  return Descend(r, kMachineClassesId, parts, key);
}

// The subkeys of a merged key: the user's copy's and those of the machine's
// copy the user lacks, one list in the registry's order, a name both hold
// standing for the user's key. Worked out again only when the store changed
// since `stamp`, the counter read before the call began: a list made from a
// later state than its stamp is merely made again.
LONG MergedChildren(Registry& r, CachedKey* key, OpenKey& open,
                    std::uint64_t stamp, const MergedList*& list) {
  list = &open.list;
  if (open.list.at == stamp && (stamp & 1) == 0) return ERROR_SUCCESS;
  std::vector<std::u16string> parts;
  if (const LONG status = ClassPath(r, key, parts)) return status;
  CachedKey* user = nullptr;
  CachedKey* machine = nullptr;
  if (const LONG status = Descend(r, kUserClassesId, parts, user)) {
    return status;
  }
  if (const LONG status = Descend(r, kMachineClassesId, parts, machine)) {
    return status;
  }
  for (CachedKey* copy : {user, machine}) {
    if (copy == nullptr) continue;
    if (const LONG status = r.view.LoadChildren(*copy)) return status;
  }
  const std::size_t users = user ? user->children.Size() : 0;
  const std::size_t machines = machine ? machine->children.Size() : 0;
  MergedList merged;
  merged.ids.reserve(std::max(users, machines));
  std::size_t u = 0, m = 0;
  while (u < users || m < machines) {
    if (u == users) {
      merged.ids.push_back(machine->children.At(m++).id);
      continue;
    }
    const CachedKey::Child& mine = user->children.At(u);
    if (m < machines) {
      const CachedKey::Child& theirs = machine->children.At(m);
      if (theirs.fold < mine.fold) {
        merged.ids.push_back(theirs.id);
        ++m;
        continue;
      }
      if (theirs.fold == mine.fold) ++m;
    }
    merged.ids.push_back(mine.id);
    ++u;
  }
  for (const std::int64_t id : merged.ids) {
    CachedKey* child = nullptr;
    if (const LONG status = r.view.Key(id, child)) return status;
    merged.maxName = std::max(merged.maxName, child->name.size());
    merged.maxClass = std::max(merged.maxClass, child->className.size());
  }
  merged.at = stamp;
  open.list = std::move(merged);
  return ERROR_SUCCESS;
}

// A subkey path split at its backslashes; doubled and trailing ones are
// empty parts and drop out.
LONG ParsePath(HKEY hKey, const std::u16string& path,
               std::vector<std::u16string>& parts) {
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

// The existing key that `path` names below the key of `hKey`; `merged`
// tells whether it was found through HKEY_CLASSES_ROOT. An empty path names
// the handle's own key, whichever copy that is.
LONG FindKey(Registry& r, HKEY hKey, const std::u16string& path,
             CachedKey*& key, bool& merged) {
  Target target;
  if (const LONG status = Resolve(r, hKey, target)) return status;
  key = target.key;
  merged = target.Merged();
  std::vector<std::u16string> parts;
  if (const LONG status = ParsePath(hKey, path, parts)) return status;
  if (parts.empty()) return ERROR_SUCCESS;
  if (merged) {
    std::vector<std::u16string> full;
    if (const LONG status = ClassPath(r, key, full)) return status;
    full.insert(full.end(), parts.begin(), parts.end());
    if (const LONG status = MergedKey(r, full, key)) return status;
    return key != nullptr ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  }
  for (const auto& part : parts) {
    if (const LONG status = r.view.Child(*key, part, key)) return status;
    if (key == nullptr) return ERROR_FILE_NOT_FOUND;
  }
  return ERROR_SUCCESS;
}

LONG FindKey(Registry& r, HKEY hKey, const std::u16string& path,
             CachedKey*& key) {
  bool merged = false;
  return FindKey(r, hKey, path, key, merged);
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
  RegistryLock r;
  r->handles.clear();
  r->denials.clear();
  r->readOnly = ReadOnlyRequested();
  r->view.Write([&] { return r->view.Reset(); });
}

void DenyAccess(HKEY root, const char* path, REGSAM rights) {
  RegistryLock r;
  Read(*r, [&] {
    CachedKey* key = nullptr;
    if (const LONG status = FindKey(*r, root, FromAnsi(path), key)) {
      return status;
    }
    r->denials[key->id] |= rights;
    return ERROR_SUCCESS;
  });
}

void ClearDenials() {
  RegistryLock r;
  r->denials.clear();
}

std::size_t FlushCount() {
  RegistryLock r;
  return r->flushes;
}

void FailNextFlush(LONG status) {
  RegistryLock r;
  r->failNextFlush = status;
}

void AfterNextSizeQuery(std::function<void()> action) {
  RegistryLock r;
  r->afterSizeQuery = std::move(action);
}

std::size_t OpenHandleCount() {
  RegistryLock r;
  return r->handles.size();
}

std::string StorePath() {
  RegistryLock r;
  bool reopened = false;
  r->store.Bind(reopened);
  return r->store.Path();
}

namespace {

LONG OpenKey(Registry& r, HKEY hKey, const char* lpSubKey, REGSAM samDesired,
             HKEY* phkResult) {
  const std::u16string path = FromAnsi(lpSubKey);
  return Read(r, [&] {
    CachedKey* key = nullptr;
    bool merged = false;
    if (const LONG status = FindKey(r, hKey, path, key, merged)) {
      return status;
    }
    REGSAM granted = 0;
    if (const LONG status = Grant(r, key, samDesired, granted)) return status;
    *phkResult = NewHandle(r, key, granted, merged);
    return ERROR_SUCCESS;
  });
}

// The part of `parts` that exists below `key`: on return `key` is the
// deepest existing key and `existing` how many parts it took.
LONG Existing(Registry& r, CachedKey*& key,
              const std::vector<std::u16string>& parts, std::size_t& existing) {
  existing = 0;
  while (existing < parts.size()) {
    CachedKey* child = nullptr;
    if (const LONG status = r.view.Child(*key, parts[existing], child)) {
      return status;
    }
    if (child == nullptr) break;
    key = child;
    ++existing;
  }
  return ERROR_SUCCESS;
}

// Where a create lands. On return `key` is the key `parts` names when it
// exists (`existing` == `walk.size()`), else its deepest existing ancestor
// on `walk`, the path the missing rest is made along. Through
// HKEY_CLASSES_ROOT an existing key is the merged view's, the user's copy
// before the machine's, and a missing one is made below the machine's
// Classes key with the ancestors the machine lacks.
LONG Locate(Registry& r, HKEY hKey, const std::vector<std::u16string>& parts,
            CachedKey*& key, std::vector<std::u16string>& walk,
            std::size_t& existing, bool& merged) {
  Target target;
  if (const LONG status = Resolve(r, hKey, target)) return status;
  key = target.key;
  merged = target.Merged();
  walk.clear();
  if (merged && !parts.empty()) {
    if (const LONG status = ClassPath(r, key, walk)) return status;
    walk.insert(walk.end(), parts.begin(), parts.end());
    CachedKey* found = nullptr;
    if (const LONG status = MergedKey(r, walk, found)) return status;
    if (found != nullptr) {
      key = found;
      existing = walk.size();
      return ERROR_SUCCESS;
    }
    if (const LONG status = r.view.Key(kMachineClassesId, key)) return status;
  } else {
    walk = parts;
  }
  return Existing(r, key, walk, existing);
}

LONG CreateKey(Registry& r, HKEY hKey, const std::u16string& path,
               const std::u16string* className, bool isVolatile,
               REGSAM samDesired, HKEY* phkResult, bool& created) {
  std::vector<std::u16string> parts;
  if (const LONG status = ParsePath(hKey, path, parts)) return status;
  std::vector<std::u16string> walk;
  // An existing key is opened without taking the store's write lock.
  bool missing = false;
  const LONG opened = Read(r, [&] {
    CachedKey* key = nullptr;
    std::size_t existing = 0;
    bool merged = false;
    if (const LONG status =
            Locate(r, hKey, parts, key, walk, existing, merged)) {
      return status;
    }
    if (existing < walk.size()) {
      missing = true;
      return ERROR_SUCCESS;
    }
    REGSAM granted = 0;
    if (const LONG status = Grant(r, key, samDesired, granted)) return status;
    *phkResult = NewHandle(r, key, granted, merged);
    return ERROR_SUCCESS;
  });
  created = false;
  if (opened != ERROR_SUCCESS || !missing) return opened;
  return Write(r, [&] {
    CachedKey* key = nullptr;
    std::size_t existing = 0;
    bool merged = false;
    if (const LONG status =
            Locate(r, hKey, parts, key, walk, existing, merged)) {
      return status;
    }
    created = existing < walk.size();
    if (created) {
      REGSAM refused = 0;
      if (const LONG status = Refused(r, key, refused)) return status;
      if (refused & KEY_CREATE_SUB_KEY) return ERROR_ACCESS_DENIED;
      // A volatile key vanishes with the boot, so a lasting key below it
      // could not be kept.
      if (key->isVolatile && !isVolatile) return ERROR_CHILD_MUST_BE_VOLATILE;
      for (std::size_t i = existing; i < walk.size(); ++i) {
        const bool last = i + 1 == walk.size();
        if (const LONG status = r.view.CreateChild(
                *key, walk[i], last ? className : nullptr, isVolatile, key)) {
          return status;
        }
      }
    }
    REGSAM granted = 0;
    if (const LONG status = Grant(r, key, samDesired, granted)) return status;
    *phkResult = NewHandle(r, key, granted, merged);
    return ERROR_SUCCESS;
  });
}

LONG QueryValue(Registry& r, HKEY hKey, const char* lpValueName, DWORD* lpType,
                BYTE* lpData, DWORD* lpcbData) {
  const std::u16string name = FromAnsi(lpValueName);
  const DWORD capacity = lpcbData != nullptr ? *lpcbData : 0;
  return Read(r, [&] {
    CachedKey* key = nullptr;
    if (const LONG status = Resolve(r, hKey, KEY_QUERY_VALUE, key)) {
      return status;
    }
    if (const LONG status = r.view.LoadValues(*key)) return status;
    if (lpData == nullptr && lpcbData != nullptr) *lpcbData = 0;
    const CachedValue* value = r.view.FindValue(*key, name);
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
  });
}

LONG DeleteKey(Registry& r, HKEY hKey, const std::u16string& path,
               bool wholeSubtree) {
  return Write(r, [&] {
    CachedKey* key = nullptr;
    if (const LONG status = FindKey(r, hKey, path, key)) return status;
    // A root key, and the keys that stand for predefined ones, can only be
    // emptied.
    if (key->parent == 0 ||
        std::find(std::begin(kProtectedIds), std::end(kProtectedIds),
                  key->id) != std::end(kProtectedIds)) {
      return ERROR_ACCESS_DENIED;
    }
    REGSAM refused = 0;
    if (const LONG status = Refused(r, key, refused)) return status;
    if (refused & DELETE) return ERROR_ACCESS_DENIED;
    bool any = false;
    if (const LONG status = r.view.HasChildren(*key, any)) return status;
    if (any) {
      if (!wholeSubtree) return ERROR_ACCESS_DENIED;
      // All or nothing: a key below that refuses deletion keeps the whole
      // subtree in place.
      std::vector<CachedKey*> pending{key};
      while (!pending.empty()) {
        CachedKey* below = pending.back();
        pending.pop_back();
        if (const LONG status = Refused(r, below, refused)) return status;
        if (refused & DELETE) return ERROR_ACCESS_DENIED;
        if (const LONG status = r.view.LoadChildren(*below)) return status;
        for (std::size_t i = 0; i < below->children.Size(); ++i) {
          CachedKey* child = nullptr;
          if (const LONG status = r.view.Key(below->children.At(i).id, child)) {
            return status;
          }
          pending.push_back(child);
        }
      }
    }
    return r.view.DeleteTree(*key);
  });
}

void SetTime(FILETIME* out, std::uint64_t time) {
  if (out == nullptr) return;
  out->dwLowDateTime = static_cast<DWORD>(time);
  out->dwHighDateTime = static_cast<DWORD>(time >> 32);
}

}  // namespace
}  // namespace emulated

using emulated::CachedKey;
using emulated::RegistryLock;

LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD /*ulOptions*/,
                   REGSAM samDesired, HKEY* phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  RegistryLock r;
  LONG status;
  if (emulated::IsRoot(hKey) && (lpSubKey == nullptr || *lpSubKey == '\0')) {
    // Still a call on the registry: an unusable store says so.
    status = emulated::Read(*r, [] { return ERROR_SUCCESS; });
    if (status == ERROR_SUCCESS) *phkResult = hKey;
  } else {
    status = emulated::OpenKey(*r, hKey, lpSubKey, samDesired, phkResult);
  }
  // Windows turns a bad handle away before it touches the result; any later
  // failure leaves the null handle there.
  if (status != ERROR_SUCCESS && status != ERROR_INVALID_HANDLE) {
    *phkResult = 0;
  }
  return status;
}

LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved,
                     char* lpClass, DWORD dwOptions, REGSAM samDesired,
                     const SECURITY_ATTRIBUTES* /*lpSecurityAttributes*/,
                     HKEY* phkResult, DWORD* lpdwDisposition) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = 0;
  if (Reserved != 0) return ERROR_INVALID_PARAMETER;
  const std::u16string className =
      lpClass != nullptr ? emulated::FromAnsi(lpClass) : std::u16string();
  RegistryLock r;
  // Unlike RegOpenKeyExA, an empty subkey on a predefined key gives a new
  // handle to its key, as any other key would.
  bool created = false;
  const LONG status = emulated::CreateKey(
      *r, hKey, emulated::FromAnsi(lpSubKey),
      lpClass != nullptr ? &className : nullptr,
      (dwOptions & REG_OPTION_VOLATILE) != 0, samDesired, phkResult, created);
  if (status == ERROR_SUCCESS && lpdwDisposition != nullptr) {
    *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  }
  return status;
}

LONG RegCloseKey(HKEY hKey) {
  RegistryLock r;
  if (const LONG status = emulated::Read(*r, [] { return ERROR_SUCCESS; })) {
    return status;
  }
  if (emulated::IsRoot(hKey)) return ERROR_SUCCESS;
  return r->handles.erase(hKey) != 0 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved,
                      DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  if ((lpData != nullptr && lpcbData == nullptr) || lpReserved != nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  std::function<void()> action;
  LONG status;
  {
    RegistryLock r;
    status =
        emulated::QueryValue(*r, hKey, lpValueName, lpType, lpData, lpcbData);
    if (lpData == nullptr) action = std::exchange(r->afterSizeQuery, nullptr);
  }
  if (action) action();
  return status;
}

LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName,
                   DWORD* lpcchValueName, DWORD* lpReserved, DWORD* lpType,
                   BYTE* lpData, DWORD* lpcbData) {
  if ((lpData != nullptr && lpcbData == nullptr) || lpReserved != nullptr ||
      lpValueName == nullptr || lpcchValueName == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  RegistryLock r;
  return emulated::Read(*r, [&] {
    CachedKey* key = nullptr;
    if (const LONG status = emulated::Resolve(*r, hKey, KEY_QUERY_VALUE, key)) {
      return status;
    }
    if (const LONG status = r->view.LoadValues(*key)) return status;
    if (dwIndex >= key->values.Size()) return ERROR_NO_MORE_ITEMS;
    const emulated::CachedValue& value = key->values.At(dwIndex);

    const bool isString = emulated::IsStringType(value.type);
    const std::string ansi = isString ? emulated::DataToAnsi(value.data) : "";
    const DWORD size =
        emulated::Size(isString ? ansi.size() : value.data.size());
    const std::string name = emulated::ToAnsi(value.name);
    // Data that fits is written even when the name doesn't; the name only
    // when the data fits too. The sizes asked for are reported either way.
    const bool nameFits = name.size() < *lpcchValueName;
    const bool dataFits = lpData == nullptr || size <= *lpcbData;
    if (nameFits && dataFits) {
      std::memcpy(lpValueName, name.data(), name.size());
      lpValueName[name.size()] = '\0';
      *lpcchValueName = emulated::Size(name.size());
    }
    if (lpData != nullptr && dataFits) {
      emulated::CopyData(lpData, *lpcbData, ansi, value.data, isString);
    }
    if (lpType != nullptr) *lpType = value.type;
    if (lpcbData != nullptr) *lpcbData = size;
    return nameFits && dataFits ? ERROR_SUCCESS : ERROR_MORE_DATA;
  });
}

LONG RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved,
                    DWORD dwType, const BYTE* lpData, DWORD cbData) {
  if (Reserved != 0) return ERROR_INVALID_PARAMETER;
  if (lpData == nullptr && cbData != 0) return emulated::kErrorNoAccess;
  const std::u16string name = emulated::FromAnsi(lpValueName);
  if (name.size() > emulated::kMaxValueNameLength) {
    return ERROR_INVALID_PARAMETER;
  }
  // Only the cbData bytes given are read: a string without its terminator
  // is kept without one.
  std::vector<BYTE> data =
      emulated::IsStringType(dwType)
          ? emulated::DataFromAnsi(lpData, cbData)
          : std::vector<BYTE>(lpData, lpData + (lpData ? cbData : 0));
  RegistryLock r;
  return emulated::Write(*r, [&] {
    CachedKey* key = nullptr;
    if (const LONG status = emulated::Resolve(*r, hKey, KEY_SET_VALUE, key)) {
      return status;
    }
    return r->view.SetValue(*key, name, dwType, std::move(data));
  });
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName,
                   DWORD* lpReserved, char* lpClass, DWORD* lpcchClass,
                   FILETIME* lpftLastWriteTime) {
  if (lpReserved != nullptr || lpName == nullptr || lpcchName == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  RegistryLock r;
  const std::uint64_t stamp = r->store.Counter();
  return emulated::Read(*r, [&] {
    emulated::Target target;
    if (const LONG status =
            emulated::Resolve(*r, hKey, KEY_ENUMERATE_SUB_KEYS, target)) {
      return status;
    }
    CachedKey* key = target.key;
    std::int64_t id = 0;
    if (target.Merged()) {
      const emulated::MergedList* merged = nullptr;
      if (const LONG status =
              emulated::MergedChildren(*r, key, *target.open, stamp, merged)) {
        return status;
      }
      if (dwIndex >= merged->ids.size()) return ERROR_NO_MORE_ITEMS;
      id = merged->ids[dwIndex];
    } else {
      if (const LONG status = r->view.LoadChildren(*key)) return status;
      if (dwIndex >= key->children.Size()) return ERROR_NO_MORE_ITEMS;
      id = key->children.At(dwIndex).id;
    }
    CachedKey* child = nullptr;
    if (const LONG status = r->view.Key(id, child)) return status;
    const std::string name = emulated::ToAnsi(child->name);
    const std::string className = emulated::ToAnsi(child->className);
    emulated::SetTime(lpftLastWriteTime, child->lastWrite);
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
  });
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
  RegistryLock r;
  const std::uint64_t stamp = r->store.Counter();
  return emulated::Read(*r, [&] {
    emulated::Target target;
    if (const LONG status =
            emulated::Resolve(*r, hKey, KEY_QUERY_VALUE, target)) {
      return status;
    }
    CachedKey* key = target.key;
    if (const LONG status = r->view.LoadMaxima(*key)) return status;
    std::size_t subkeys = key->children.Size();
    std::size_t maxSubkey = key->maxChildName;
    std::size_t maxClass = key->maxChildClass;
    if (target.Merged()) {
      const emulated::MergedList* merged = nullptr;
      if (const LONG status =
              emulated::MergedChildren(*r, key, *target.open, stamp, merged)) {
        return status;
      }
      subkeys = merged->ids.size();
      maxSubkey = merged->maxName;
      maxClass = merged->maxClass;
    }
    LONG status = ERROR_SUCCESS;
    if (lpcchClass != nullptr) {
      const std::string className = emulated::ToAnsi(key->className);
      std::size_t length = className.size();
      if (lpClass != nullptr) {
        // A buffer without room for a single character asks for nothing.
        // One too small gets what fits, cut off by a NUL, and the length of
        // that.
        const std::size_t room = *lpcchClass;
        if (room == 0) {
          length = 0;
        } else {
          if (length + 1 > room) {
            length = room - 1;
            status = ERROR_MORE_DATA;
          }
          std::memcpy(lpClass, className.data(), length);
          lpClass[length] = '\0';
        }
      }
      *lpcchClass = emulated::Size(length);
    }
    using emulated::Size;
    if (lpcSubKeys != nullptr) *lpcSubKeys = Size(subkeys);
    if (lpcbMaxSubKeyLen != nullptr) *lpcbMaxSubKeyLen = Size(maxSubkey);
    if (lpcbMaxClassLen != nullptr) *lpcbMaxClassLen = Size(maxClass);
    if (lpcValues != nullptr) *lpcValues = Size(key->values.Size());
    if (lpcbMaxValueNameLen != nullptr) {
      *lpcbMaxValueNameLen = Size(key->maxValueName);
    }
    // In bytes as stored, so UTF-16 for strings: an upper bound of what the
    // "A" functions hand out, as on Windows.
    if (lpcbMaxValueLen != nullptr) *lpcbMaxValueLen = Size(key->maxValueData);
    // The emulation keeps no security descriptors.
    if (lpcbSecurityDescriptor != nullptr) *lpcbSecurityDescriptor = 0;
    emulated::SetTime(lpftLastWriteTime, key->lastWrite);
    return status;
  });
}

LONG RegDeleteKeyA(HKEY hKey, const char* lpSubKey) {
  if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  // Bit 31 marks the 95 family, whose delete takes the subtree with it.
  const bool wholeSubtree = (GetVersion() & 0x80000000u) != 0;
  const std::u16string path = emulated::FromAnsi(lpSubKey);
  RegistryLock r;
  return emulated::DeleteKey(*r, hKey, path, wholeSubtree);
}

LONG RegDeleteValueA(HKEY hKey, const char* lpValueName) {
  const std::u16string name = emulated::FromAnsi(lpValueName);
  RegistryLock r;
  return emulated::Write(*r, [&] {
    CachedKey* key = nullptr;
    if (const LONG status = emulated::Resolve(*r, hKey, KEY_SET_VALUE, key)) {
      return status;
    }
    bool found = false;
    if (const LONG status = r->view.DeleteValue(*key, name, found)) {
      return status;
    }
    return found ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
}

LONG RegFlushKey(HKEY hKey) {
  RegistryLock r;
  ++r->flushes;
  if (const LONG status = std::exchange(r->failNextFlush, ERROR_SUCCESS)) {
    return status;
  }
  // One synced commit makes every earlier one durable too.
  return emulated::Write(
      *r,
      [&] {
        emulated::Target target;
        if (const LONG status = emulated::Resolve(*r, hKey, target)) {
          return status;
        }
        return r->view.MarkFlush();
      },
      true);
}

std::string RegistryLoadError() {
  RegistryLock r;
  emulated::Read(*r, [] { return ERROR_SUCCESS; });
  return r->store.Problem();
}

std::string ImportRegFile(std::span<const std::uint8_t> bytes,
                          std::string_view file_name) {
  if (std::string err = emulated::CheckRegFile(bytes, file_name);
      !err.empty()) {
    return err;
  }
  RegistryLock r;
  std::string err;
  const LONG status = emulated::Write(*r, [&] {
    err = emulated::ApplyRegFile(r->store, bytes, file_name);
    return err.empty() ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
  });
  // Keys the import made or removed may sit anywhere in the cache.
  r->view.Clear();
  if (!err.empty()) return err;
  if (status != ERROR_SUCCESS) {
    return r->store.Problem().empty()
               ? std::string(file_name) +
                     ": the registry could not be written (error " +
                     std::to_string(status) + ")"
               : r->store.Problem();
  }
  return {};
}

}  // namespace corvane::platform
