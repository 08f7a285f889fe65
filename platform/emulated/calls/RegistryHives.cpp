// Hive files in the emulated registry (RegistryHives.h). Each function
// checks its arguments, then the privilege Windows asks for (backup to
// save, restore for the rest), which a process of the emulation's
// non-administrator mode (CORVANE_REGISTRY_READONLY=1) lacks: 1314. A hive
// file is read and checked whole before the store is touched, so one that
// can't be used changes nothing.
//
// The A and W forms convert names and file names and meet in the functions
// of namespace hives, which take names as the store keeps them (UTF-16) and
// file names as the file system does (UTF-8).
#include "platform/emulated/calls/RegistryHives.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "base/Unicode.h"
#include "base/Windows1252.h"
#include "platform/Platform.h"
#include "platform/emulated/calls/RegistryKeys.h"
#include "platform/emulated/store/HiveFile.h"
#include "platform/emulated/store/Seed.h"

namespace corvane::platform {
namespace emulated {
namespace {

using Text = std::optional<std::u16string>;
using Path = std::optional<std::string>;

Text NameOf(const wchar_t* text) {
  if (text == nullptr) return std::nullopt;
  std::u16string out;
  for (; *text != L'\0'; ++text) {
    base::AppendUtf16(out, static_cast<char32_t>(*text));
  }
  return out;
}

Text NameOf(const char* text) {
  if (text == nullptr) return std::nullopt;
  std::u16string out;
  for (; *text != '\0'; ++text) {
    out.push_back(base::Windows1252ToUnicode(static_cast<std::uint8_t>(*text)));
  }
  return out;
}

// A file name as the file system takes it, made absolute: a mount keeps it
// for processes whose folder differs. An empty name names no file.
std::string Absolute(const std::string& name) {
  if (name.empty()) return name;
  std::error_code ec;
  const std::filesystem::path path = std::filesystem::absolute(name, ec);
  return ec ? name : path.lexically_normal().string();
}

Path FileOf(const wchar_t* text) {
  if (text == nullptr) return std::nullopt;
  return Absolute(base::WideToUtf8(text));
}

Path FileOf(const char* text) {
  const Text name = NameOf(text);
  if (!name) return std::nullopt;
  return Absolute(base::Utf16ToUtf8(*name));
}

// The same file, however it was named.
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  const bool same = std::filesystem::equivalent(a, b, ec);
  return ec ? a == b : same;
}

// A process without backup and restore privileges.
bool Unprivileged(Registry& registry) { return registry.readOnly; }

// 1314 for such a process, for a call that has more to do before it takes
// the registry's lock.
LONG CheckPrivileges() {
  RegistryLock registry;
  return Unprivileged(*registry) ? ERROR_PRIVILEGE_NOT_HELD : ERROR_SUCCESS;
}

bool IsHiveRoot(HKEY hKey) {
  return hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_USERS;
}

// Whether the key `id` is `top` or lies below it.
LONG Within(Registry& registry, std::int64_t id, std::int64_t top,
            bool& inside) {
  inside = false;
  while (id != 0) {
    if (id == top) {
      inside = true;
      return ERROR_SUCCESS;
    }
    CachedKey* key = nullptr;
    const LONG status = registry.view.Key(id, key);
    if (status == ERROR_KEY_DELETED) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    id = key->parent;
  }
  return ERROR_SUCCESS;
}

// Whether this process holds a handle to a key below `top` (or to `top`
// itself, unless `ownToo` is false).
LONG HandlesInside(Registry& registry, std::int64_t top, bool ownToo,
                   bool& any) {
  any = false;
  for (const auto& [handle, entry] : registry.handles) {
    if (!ownToo && entry.id == top) continue;
    bool inside = false;
    if (const LONG status = Within(registry, entry.id, top, inside)) {
      return status;
    }
    if (inside) {
      any = true;
      return ERROR_SUCCESS;
    }
  }
  return ERROR_SUCCESS;
}

// The mount whose key is `id`, if any.
LONG MountAt(Registry& registry, std::int64_t id, std::optional<Mount>& found) {
  found.reset();
  std::vector<Mount> mounts;
  if (const LONG status = registry.store.mounts().List(mounts)) return status;
  for (Mount& mount : mounts) {
    if (mount.key == id) found = std::move(mount);
  }
  return ERROR_SUCCESS;
}

// Reads the store's rows in this call's transaction.
LONG Collect(Registry& registry, std::int64_t top, Hive& hive) {
  if (!registry.store.InWrite()) {
    if (const LONG status = registry.store.BeginRead()) return status;
  }
  return CollectHive(registry.store.subtree(), top, hive);
}

}  // namespace

LONG WriteBackHiveOf(Registry& registry, std::int64_t id) {
  std::vector<Mount> mounts;
  if (const LONG status = registry.store.mounts().List(mounts)) return status;
  for (const Mount& mount : mounts) {
    bool inside = false;
    if (const LONG status = Within(registry, id, mount.key, inside)) {
      return status;
    }
    if (!inside) continue;
    Hive hive;
    if (const LONG status = Collect(registry, mount.key, hive)) return status;
    return WriteHive(mount.file, hive, true);
  }
  return ERROR_SUCCESS;
}

bool IsLoadedHive(Registry& registry, const CachedKey& key) {
  // Hives are loaded directly below these two only.
  if (key.parent != seed::kLocalMachine && key.parent != seed::kUsers) {
    return false;
  }
  std::optional<Mount> mount;
  return MountAt(registry, key.id, mount) == ERROR_SUCCESS && mount;
}

namespace hives {

LONG SaveKey(HKEY hKey, const Path& file, DWORD flags) {
  if (!file || file->empty()) return ERROR_INVALID_PARAMETER;
  if (flags != REG_STANDARD_FORMAT && flags != REG_LATEST_FORMAT &&
      flags != REG_NO_COMPRESSION) {
    return ERROR_INVALID_PARAMETER;
  }
  Hive hive;
  {
    RegistryLock registry;
    if (Unprivileged(*registry)) return ERROR_PRIVILEGE_NOT_HELD;
    if (const LONG status = Read(*registry, [&] {
          Target target;
          if (const LONG status = Resolve(*registry, hKey, target)) {
            return status;
          }
          return Collect(*registry, target.key->id, hive);
        })) {
      return status;
    }
  }
  return WriteHive(*file, hive, false);
}

LONG LoadKey(HKEY hKey, const Text& subKey, const Path& file) {
  if (!IsHiveRoot(hKey) || !subKey || subKey->empty() ||
      subKey->size() > kMaxKeyNameLength ||
      subKey->find(u'\\') != std::u16string::npos || !file || file->empty()) {
    return ERROR_INVALID_PARAMETER;
  }
  if (const LONG status = CheckPrivileges()) return status;
  // Read whole before the store is touched: a file that can't be used
  // changes nothing.
  Hive hive;
  if (const LONG status = ReadHive(*file, hive)) return status;
  RegistryLock registry;
  const std::int64_t rootId =
      hKey == HKEY_USERS ? seed::kUsers : seed::kLocalMachine;
  const LONG status = Write(*registry, [&] {
    CachedKey* root = nullptr;
    if (const LONG status = registry->view.Key(rootId, root)) return status;
    CachedKey* existing = nullptr;
    if (const LONG status = registry->view.Child(*root, *subKey, existing)) {
      return status;
    }
    if (existing != nullptr) return ERROR_ALREADY_EXISTS;
    std::vector<Mount> mounts;
    if (const LONG status = registry->store.mounts().List(mounts)) {
      return status;
    }
    for (const Mount& mount : mounts) {
      // Windows keeps a loaded hive's file open for itself alone.
      if (SameFile(mount.file, *file)) return ERROR_SHARING_VIOLATION;
    }
    LONG planted = ERROR_SUCCESS;
    registry->view.Bulk([&](Rows& rows) {
      std::int64_t top = 0;
      planted = PlantHive(rows, hive, rootId, *subKey, top);
      if (planted == ERROR_SUCCESS) {
        planted = registry->store.mounts().Add(top, *file);
      }
      return std::string();
    });
    return planted;
  });
  registry->view.Clear();
  return status;
}

LONG UnLoadKey(HKEY hKey, const Text& subKey) {
  if (!IsHiveRoot(hKey)) return ERROR_INVALID_PARAMETER;
  // The root itself is never a hive of the caller's.
  if (!subKey || subKey->empty()) return ERROR_ACCESS_DENIED;
  RegistryLock registry;
  if (Unprivileged(*registry)) return ERROR_PRIVILEGE_NOT_HELD;
  bool unloaded = false;
  const LONG status = Write(*registry, [&] {
    CachedKey* key = nullptr;
    if (const LONG status = FindKey(*registry, hKey, *subKey, key)) {
      return status;
    }
    const std::int64_t top = key->id;
    std::optional<Mount> mount;
    if (const LONG status = MountAt(*registry, top, mount)) return status;
    if (!mount) return ERROR_INVALID_PARAMETER;
    // This process's handles inside it would lose their key, as Windows
    // refuses while any are open.
    bool open = false;
    if (const LONG status = HandlesInside(*registry, top, true, open)) {
      return status;
    }
    if (open) return ERROR_ACCESS_DENIED;
    Hive hive;
    if (const LONG status = Collect(*registry, top, hive)) return status;
    // The file first: a hive whose file can't be written stays loaded.
    if (const LONG status = WriteHive(mount->file, hive, true)) return status;
    registry->store.Changes().Everything();
    if (const LONG status = registry->store.rows().DeleteTree(top)) {
      return status;
    }
    unloaded = true;
    return registry->store.mounts().Remove(top);
  });
  if (unloaded) registry->view.Clear();
  return status;
}

LONG RestoreKey(HKEY hKey, const Path& file, DWORD flags) {
  if (!file || file->empty()) return ERROR_INVALID_PARAMETER;
  if ((flags & ~(REG_WHOLE_HIVE_VOLATILE | REG_REFRESH_HIVE |
                 REG_NO_LAZY_FLUSH | REG_FORCE_RESTORE)) != 0) {
    return ERROR_INVALID_PARAMETER;
  }
  // A volatile hive of its own, or a hive brought back to its file's
  // state: not emulated.
  if (flags & (REG_WHOLE_HIVE_VOLATILE | REG_REFRESH_HIVE)) {
    return ERROR_CALL_NOT_IMPLEMENTED;
  }
  if (const LONG status = CheckPrivileges()) return status;
  Hive hive;
  if (const LONG status = ReadHive(*file, hive)) return status;
  RegistryLock registry;
  const LONG status = Write(*registry, [&] {
    Target target;
    if (const LONG status = Resolve(*registry, hKey, target)) return status;
    CachedKey* key = target.key;
    const std::int64_t top = key->id;
    // A root, or a key above one that stands for a predefined key, would
    // lose what the registry can't be without.
    if (key->parent == 0) return ERROR_ACCESS_DENIED;
    for (const std::int64_t guarded : kProtectedIds) {
      bool inside = false;
      if (guarded == top) continue;
      if (const LONG status = Within(*registry, guarded, top, inside)) {
        return status;
      }
      if (inside) return ERROR_ACCESS_DENIED;
    }
    if ((flags & REG_FORCE_RESTORE) == 0) {
      bool open = false;
      if (const LONG status = HandlesInside(*registry, top, false, open)) {
        return status;
      }
      if (open) return ERROR_ACCESS_DENIED;
    }
    if (const LONG status = registry->view.LoadChildren(*key)) return status;
    if (const LONG status = registry->view.LoadValues(*key)) return status;
    std::vector<std::int64_t> children;
    key->children.ForEach(
        [&](const CachedKey::Child& child) { children.push_back(child.id); });
    std::vector<std::u16string> names;
    key->values.ForEach(
        [&](const CachedValue& value) { names.push_back(value.name); });
    LONG planted = ERROR_SUCCESS;
    registry->view.Bulk([&](Rows& rows) {
      for (const std::int64_t child : children) {
        if ((planted = rows.DeleteTree(child))) return std::string();
      }
      for (const std::u16string& name : names) {
        if ((planted = rows.DeleteValue(top, name))) return std::string();
      }
      std::int64_t into = top;
      planted = PlantHive(rows, hive, 0, {}, into);
      if (planted == ERROR_SUCCESS) planted = rows.Touch(top, FileTimeNow());
      return std::string();
    });
    return planted;
  });
  registry->view.Clear();
  return status;
}

// Windows puts the new file in the hive's place at the next start and keeps
// the hive in use in the old file until then. A loaded hive has no next
// start of its own, so its next load stands for it: the new file's contents
// take the hive file's name at once, and the loaded hive goes on in
// `oldFile`, which receives what it holds now and what is written to it
// from then on.
LONG ReplaceKey(HKEY hKey, const Text& subKey, const Path& newFile,
                const Path& oldFile) {
  if (!newFile || newFile->empty() || !oldFile || oldFile->empty()) {
    return ERROR_INVALID_PARAMETER;
  }
  if (const LONG status = CheckPrivileges()) return status;
  Hive replacement;
  if (const LONG status = ReadHive(*newFile, replacement)) return status;
  RegistryLock registry;
  return Write(*registry, [&] {
    CachedKey* key = nullptr;
    if (const LONG status =
            FindKey(*registry, hKey, subKey.value_or(u""), key)) {
      return status;
    }
    std::optional<Mount> mount;
    if (const LONG status = MountAt(*registry, key->id, mount)) return status;
    if (!mount) return ERROR_INVALID_PARAMETER;
    Hive current;
    if (const LONG status = Collect(*registry, key->id, current)) {
      return status;
    }
    if (const LONG status = WriteHive(*oldFile, current, false)) return status;
    if (const LONG status = WriteHive(mount->file, replacement, true)) {
      return status;
    }
    return registry->store.mounts().Retarget(key->id, *oldFile);
  });
}

}  // namespace hives
}  // namespace emulated

using namespace emulated::hives;
using emulated::FileOf;
using emulated::NameOf;

LONG RegSaveKeyA(HKEY hKey, LPCSTR lpFile, const SECURITY_ATTRIBUTES*) {
  return SaveKey(hKey, FileOf(lpFile), REG_STANDARD_FORMAT);
}

LONG RegSaveKeyW(HKEY hKey, LPCWSTR lpFile, const SECURITY_ATTRIBUTES*) {
  return SaveKey(hKey, FileOf(lpFile), REG_STANDARD_FORMAT);
}

LONG RegSaveKeyExA(HKEY hKey, LPCSTR lpFile, const SECURITY_ATTRIBUTES*,
                   DWORD Flags) {
  return SaveKey(hKey, FileOf(lpFile), Flags);
}

LONG RegSaveKeyExW(HKEY hKey, LPCWSTR lpFile, const SECURITY_ATTRIBUTES*,
                   DWORD Flags) {
  return SaveKey(hKey, FileOf(lpFile), Flags);
}

LONG RegLoadKeyA(HKEY hKey, LPCSTR lpSubKey, LPCSTR lpFile) {
  return LoadKey(hKey, NameOf(lpSubKey), FileOf(lpFile));
}

LONG RegLoadKeyW(HKEY hKey, LPCWSTR lpSubKey, LPCWSTR lpFile) {
  return LoadKey(hKey, NameOf(lpSubKey), FileOf(lpFile));
}

LONG RegUnLoadKeyA(HKEY hKey, LPCSTR lpSubKey) {
  return UnLoadKey(hKey, NameOf(lpSubKey));
}

LONG RegUnLoadKeyW(HKEY hKey, LPCWSTR lpSubKey) {
  return UnLoadKey(hKey, NameOf(lpSubKey));
}

LONG RegRestoreKeyA(HKEY hKey, LPCSTR lpFile, DWORD dwFlags) {
  return RestoreKey(hKey, FileOf(lpFile), dwFlags);
}

LONG RegRestoreKeyW(HKEY hKey, LPCWSTR lpFile, DWORD dwFlags) {
  return RestoreKey(hKey, FileOf(lpFile), dwFlags);
}

LONG RegReplaceKeyA(HKEY hKey, LPCSTR lpSubKey, LPCSTR lpNewFile,
                    LPCSTR lpOldFile) {
  return ReplaceKey(hKey, NameOf(lpSubKey), FileOf(lpNewFile),
                    FileOf(lpOldFile));
}

LONG RegReplaceKeyW(HKEY hKey, LPCWSTR lpSubKey, LPCWSTR lpNewFile,
                    LPCWSTR lpOldFile) {
  return ReplaceKey(hKey, NameOf(lpSubKey), FileOf(lpNewFile),
                    FileOf(lpOldFile));
}

}  // namespace corvane::platform
