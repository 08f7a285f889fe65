// Keys by handle and by path (RegistryKeys.h), and RegCloseKey.
#include "platform/emulated/calls/RegistryKeys.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <string_view>
#include <utility>

#include "base/RegistryNames.h"
#include "platform/emulated/calls/MergedClasses.h"
#include "platform/emulated/calls/Notify.h"
#include "platform/emulated/calls/RegistryAccess.h"
#include "platform/emulated/calls/RegistryHives.h"
#include "platform/emulated/import/RootKeyIds.h"
#include "platform/emulated/store/Wow64Paths.h"
#include "regfile/KeyPathChain.h"

namespace corvane::platform::emulated {
namespace {

// A subkey path as the registry takes it: HKEY_CLASSES_ROOT alone accepts
// a leading backslash (for old callers; it is dropped from `path`), and no
// name may be longer than a key name can be. Doubled and trailing
// backslashes name nothing.
LONG CheckPath(HKEY hKey, std::u16string_view& path) {
  if (!path.empty() && path.front() == u'\\') {
    if (hKey != HKEY_CLASSES_ROOT) return ERROR_BAD_PATHNAME;
    path.remove_prefix(1);
  }
  for (std::size_t pos = 0, end = 0; regfile::NextName(path, pos, end);
       pos = end) {
    if (end - pos > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
  }
  return ERROR_SUCCESS;
}

// The path's names, checked.
LONG ParsePath(HKEY hKey, const std::u16string& path,
               std::vector<std::u16string>& parts) {
  std::u16string_view rest = path;
  if (const LONG status = CheckPath(hKey, rest)) return status;
  for (std::size_t pos = 0, end = 0; regfile::NextName(rest, pos, end);
       pos = end) {
    parts.emplace_back(rest.substr(pos, end - pos));
  }
  return ERROR_SUCCESS;
}

// The part of `parts` that exists below `key`: on return `key` is the
// deepest existing key and `existing` how many parts it took.
LONG Existing(Registry& registry, CachedKey*& key,
              const std::vector<std::u16string>& parts, std::size_t& existing) {
  existing = 0;
  while (existing < parts.size()) {
    CachedKey* child = nullptr;
    if (const LONG status = registry.view.Child(*key, parts[existing], child)) {
      return status;
    }
    if (child == nullptr) break;
    key = child;
    ++existing;
  }
  return ERROR_SUCCESS;
}

// The names from the root key down to `key`, and the root key's id.
LONG KeyNames(Registry& registry, CachedKey* key, std::int64_t& root,
              std::vector<std::u16string>& names) {
  names.clear();
  while (key->parent != 0) {
    names.push_back(key->name);
    if (const LONG status = registry.view.Key(key->parent, key)) return status;
  }
  root = key->id;
  std::reverse(names.begin(), names.end());
  return ERROR_SUCCESS;
}

// Whether a path below `key` is found by its full path with the views'
// redirections applied (Wow64Paths.h): always in the 32-bit view, in the
// 64-bit one only where it may pass the link.
bool Redirects(REGSAM view, const CachedKey* key,
               const std::vector<std::u16string>& parts) {
  return view == KEY_WOW64_32KEY || wow64::MayLink(key->name, parts);
}

// `parts` below `key` made the full path it leads to in `view`; `key`
// becomes its root key.
LONG Redirected(Registry& registry, REGSAM view, CachedKey*& key,
                std::vector<std::u16string>& parts) {
  std::int64_t root = 0;
  std::vector<std::u16string> full;
  if (const LONG status = KeyNames(registry, key, root, full)) return status;
  full.insert(full.end(), parts.begin(), parts.end());
  wow64::Redirect(root, full, view == KEY_WOW64_32KEY);
  parts = std::move(full);
  return registry.view.Key(root, key);
}

// Where a create lands. On return `key` is the key `parts` names when it
// exists (`existing` == `walk.size()`), else its deepest existing ancestor
// on `walk`, the path the missing rest is made along. Through
// HKEY_CLASSES_ROOT an existing key is the merged view's, the user's copy
// before the machine's, and a missing one is made below the machine's
// Classes key with the ancestors the machine lacks.
// `view` comes in as the call's flags and goes out as the view used.
LONG Locate(Registry& registry, HKEY hKey,
            const std::vector<std::u16string>& parts, REGSAM& view,
            CachedKey*& key, std::vector<std::u16string>& walk,
            std::size_t& existing, bool& merged) {
  Target target;
  if (const LONG status = Resolve(registry, hKey, target)) return status;
  key = target.key;
  merged = target.Merged();
  view = CallView(registry, view, target.open);
  walk.clear();
  if (merged && !parts.empty()) {
    if (const LONG status = ClassPath(registry, key, walk)) return status;
    walk.insert(walk.end(), parts.begin(), parts.end());
    wow64::RedirectClasses(walk, view == KEY_WOW64_32KEY);
    CachedKey* found = nullptr;
    if (const LONG status = MergedKey(registry, walk, found)) return status;
    if (found != nullptr) {
      key = found;
      existing = walk.size();
      return ERROR_SUCCESS;
    }
    if (const LONG status = registry.view.Key(seed::kMachineClasses, key)) {
      return status;
    }
  } else {
    walk = parts;
    if (!merged && Redirects(view, key, walk)) {
      if (const LONG status = Redirected(registry, view, key, walk)) {
        return status;
      }
    }
  }
  return Existing(registry, key, walk, existing);
}

// A root key, the keys that stand for predefined ones, and the key of a
// loaded hive can only be emptied.
bool IsProtected(Registry& registry, const CachedKey* key) {
  return key->parent == 0 ||
         std::find(std::begin(kProtectedIds), std::end(kProtectedIds),
                   key->id) != std::end(kProtectedIds) ||
         IsLoadedHive(registry, *key);
}

// Whether the keys below `key`, and `key` itself, let themselves be deleted:
// a delete of a subtree is all or nothing.
LONG SubtreeDeletable(Registry& registry, CachedKey* key) {
  std::vector<CachedKey*> pending{key};
  while (!pending.empty()) {
    CachedKey* below = pending.back();
    pending.pop_back();
    REGSAM refused = 0;
    if (const LONG status = Refused(registry, below, refused)) return status;
    if (refused & DELETE) return ERROR_ACCESS_DENIED;
    if (const LONG status = registry.view.LoadChildren(*below)) return status;
    for (std::size_t i = 0; i < below->children.Size(); ++i) {
      CachedKey* child = nullptr;
      if (const LONG status =
              registry.view.Key(below->children.At(i).id, child)) {
        return status;
      }
      pending.push_back(child);
    }
  }
  return ERROR_SUCCESS;
}

// Empties the key of a handle: its subkeys with their trees, then its
// values. Deleting a tree may empty the view's cache, so keys are looked up
// again by id after each.
LONG EmptyKey(Registry& registry, HKEY hKey) {
  // What Microsoft documents RegDeleteTree as needing on the handle.
  Target target;
  if (const LONG status =
          Resolve(registry, hKey,
                  DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, target)) {
    return status;
  }
  const std::int64_t id = target.key->id;
  if (const LONG status = registry.view.LoadChildren(*target.key)) {
    return status;
  }
  std::vector<std::int64_t> children;
  for (std::size_t i = 0; i < target.key->children.Size(); ++i) {
    children.push_back(target.key->children.At(i).id);
  }
  for (const std::int64_t childId : children) {
    CachedKey* child = nullptr;
    if (const LONG status = registry.view.Key(childId, child)) return status;
    if (IsProtected(registry, child)) return ERROR_ACCESS_DENIED;
    if (const LONG status = SubtreeDeletable(registry, child)) return status;
  }
  for (const std::int64_t childId : children) {
    CachedKey* child = nullptr;
    if (const LONG status = registry.view.Key(childId, child)) return status;
    if (const LONG status = registry.view.DeleteTree(*child)) return status;
  }
  CachedKey* key = nullptr;
  if (const LONG status = registry.view.Key(id, key)) return status;
  if (const LONG status = registry.view.LoadValues(*key)) return status;
  std::vector<std::u16string> names;
  key->values.ForEach(
      [&names](const CachedValue& v) { names.push_back(v.name); });
  for (const std::u16string& name : names) {
    bool found = false;
    if (const LONG status = registry.view.DeleteValue(*key, name, found)) {
      return status;
    }
  }
  return ERROR_SUCCESS;
}

// The key a predefined key stands for. The performance texts read as
// HKEY_PERFORMANCE_DATA does.
LONG PredefinedKey(Registry& registry, HKEY hKey, CachedKey*& key) {
  if (hKey == HKEY_CURRENT_USER_LOCAL_SETTINGS) {
    CachedKey* classes = nullptr;
    if (const LONG status = registry.view.Key(seed::kUserClasses, classes)) {
      return status;
    }
    if (const LONG status =
            registry.view.Child(*classes, kLocalSettings, key)) {
      return status;
    }
    return key != nullptr ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  }
  if (hKey == HKEY_PERFORMANCE_TEXT || hKey == HKEY_PERFORMANCE_NLSTEXT) {
    hKey = HKEY_PERFORMANCE_DATA;
  }
  return registry.view.Key(RootKeyId(hKey), key);
}

}  // namespace

LONG Resolve(Registry& registry, HKEY hKey, Target& target) {
  if (IsRoot(hKey)) {
    const auto overridden = registry.overrides.find(hKey);
    if (overridden != registry.overrides.end()) hKey = overridden->second;
  }
  if (IsRoot(hKey)) {
    const bool classes = hKey == HKEY_CLASSES_ROOT;
    if (const LONG status = PredefinedKey(registry, hKey, target.key)) {
      return status;
    }
    target.open = classes ? &registry.classesRoot : nullptr;
    REGSAM refused = 0;
    if (const LONG status = Refused(registry, target.key, refused)) {
      return status;
    }
    target.granted = KEY_ALL_ACCESS & ~refused;
    return ERROR_SUCCESS;
  }
  const auto it = registry.handles.find(hKey & ~kTagBits);
  if (it == registry.handles.end()) return ERROR_INVALID_HANDLE;
  HandleEntry& open = it->second;
  target.open = &open;
  target.granted = open.granted;
  if (open.merged) return ResolveMerged(registry, open, target.key);
  if (open.key != nullptr && open.seen == registry.view.Generation()) {
    target.key = open.key;
    return ERROR_SUCCESS;
  }
  if (const LONG status = registry.view.Key(open.id, target.key)) {
    return status;
  }
  open.key = target.key;
  open.seen = registry.view.Generation();
  return ERROR_SUCCESS;
}

LONG Resolve(Registry& registry, HKEY hKey, REGSAM needed, Target& target) {
  if (const LONG status = Resolve(registry, hKey, target)) return status;
  return (target.granted & needed) == needed ? ERROR_SUCCESS
                                             : ERROR_ACCESS_DENIED;
}

LONG Resolve(Registry& registry, HKEY hKey, REGSAM needed, CachedKey*& key) {
  Target target;
  const LONG status = Resolve(registry, hKey, needed, target);
  key = target.key;
  return status;
}

LONG NewHandle(Registry& registry, CachedKey* key, REGSAM granted, bool merged,
               HKEY& opened, REGSAM view) {
  std::unique_ptr<MergedState> state;
  if (merged) {
    state = std::make_unique<MergedState>();
    if (const LONG status = ClassPath(registry, key, state->path)) {
      return status;
    }
    state->at = registry.view.Stamp();
  }
  HKEY handle = registry.nextHandle;
  // Past the last value the count starts again, skipping handles in use.
  while (registry.handles.count(handle) != 0 || handle > kLastHandle) {
    handle = handle > kLastHandle ? kFirstHandle : handle + 4;
  }
  registry.nextHandle = handle + 4;
  HandleEntry& entry = registry.handles.try_emplace(handle).first->second;
  entry.id = key->id;
  entry.granted = granted;
  entry.view = view & kViewBits;
  entry.merged = std::move(state);
  entry.key = key;
  entry.seen = registry.view.Generation();
  opened = merged ? handle | kClassesTag : handle;
  return ERROR_SUCCESS;
}

namespace {

// A handle of the 32-bit view to a key below HKLM\SOFTWARE\Wow6432Node lists
// the shared keys of that place (Wow64Paths.h) beside its key's subkeys, as
// it opens them by name: a shared name stands for the shared key only.
LONG WithSharedKeys(Registry& registry, Target& target, std::uint64_t stamp,
                    Subkeys& subkeys) {
  HandleEntry& open = *target.open;
  if (open.noShared) return ERROR_SUCCESS;
  if (open.shared && open.shared->at == stamp && (stamp & 1) == 0) {
    subkeys.own = nullptr;
    subkeys.merged = open.shared.get();
    return ERROR_SUCCESS;
  }
  std::int64_t root = 0;
  std::vector<std::u16string> names;
  if (const LONG status = KeyNames(registry, target.key, root, names)) {
    return status;
  }
  if (root != seed::kLocalMachine || names.size() < 2 ||
      base::CompareNames(names[0], u"SOFTWARE") != 0 ||
      !wow64::IsNode(names[1])) {
    open.noShared = true;
    return ERROR_SUCCESS;
  }
  names.erase(names.begin(), names.begin() + 2);
  const std::vector<std::u16string_view> shared = wow64::SharedBelow(names);
  if (shared.empty()) {
    open.noShared = true;
    return ERROR_SUCCESS;
  }
  // The key the copy copies, whose subkeys the shared keys are.
  CachedKey* original = nullptr;
  if (const LONG status = registry.view.Key(seed::kMachineSoftware, original)) {
    return status;
  }
  for (const std::u16string& name : names) {
    if (original == nullptr) break;
    if (const LONG status = registry.view.Child(*original, name, original)) {
      return status;
    }
  }
  const auto isShared = [&shared](std::u16string_view name) {
    return std::any_of(shared.begin(), shared.end(),
                       [name](std::u16string_view s) {
                         return base::CompareNames(s, name) == 0;
                       });
  };
  std::vector<CachedKey*> listed;
  for (std::size_t i = 0; i < target.key->children.Size(); ++i) {
    CachedKey* child = target.key->children.At(i).key;
    if (!isShared(child->name)) listed.push_back(child);
  }
  for (const std::u16string_view name : shared) {
    CachedKey* child = nullptr;
    if (original != nullptr) {
      if (const LONG status = registry.view.Child(*original, name, child)) {
        return status;
      }
    }
    if (child != nullptr) listed.push_back(child);
  }
  std::sort(listed.begin(), listed.end(),
            [](const CachedKey* a, const CachedKey* b) {
              return base::CompareNames(a->name, b->name) < 0;
            });
  auto list = std::make_unique<MergedList>();
  for (const CachedKey* child : listed) {
    list->ids.push_back(child->id);
    list->maxName = std::max(list->maxName, child->name.size());
    list->maxClass = std::max(list->maxClass, child->ClassName().size());
  }
  list->at = stamp;
  open.shared = std::move(list);
  subkeys.own = nullptr;
  subkeys.merged = open.shared.get();
  return ERROR_SUCCESS;
}

}  // namespace

LONG ListSubkeys(Registry& registry, Target& target, std::uint64_t stamp,
                 Subkeys& subkeys) {
  if (target.Merged()) {
    subkeys.own = nullptr;
    return MergedChildren(registry, target.key, *target.open, stamp,
                          subkeys.merged);
  }
  if (const LONG status = registry.view.LoadChildren(*target.key)) {
    return status;
  }
  subkeys.own = &target.key->children;
  subkeys.merged = nullptr;
  if (target.open != nullptr &&
      CallView(registry, 0, target.open) == KEY_WOW64_32KEY) {
    return WithSharedKeys(registry, target, stamp, subkeys);
  }
  return ERROR_SUCCESS;
}

LONG ListValues(Registry& registry, Target& target, Values& values) {
  if (target.Merged()) {
    values.own = nullptr;
    return MergedValueList(registry, target.key, *target.open, values.merged);
  }
  if (const LONG status = registry.view.LoadValues(*target.key)) {
    return status;
  }
  values.own = &target.key->values;
  values.merged = nullptr;
  return ERROR_SUCCESS;
}

LONG FindKey(Registry& registry, HKEY hKey, const std::u16string& path,
             REGSAM& view, CachedKey*& key, bool& merged) {
  Target target;
  if (const LONG status = Resolve(registry, hKey, target)) return status;
  key = target.key;
  merged = target.Merged();
  view = CallView(registry, view, target.open);
  if (merged) {
    std::vector<std::u16string> parts;
    if (const LONG status = ParsePath(hKey, path, parts)) return status;
    if (parts.empty()) return ERROR_SUCCESS;
    std::vector<std::u16string> full;
    if (const LONG status = ClassPath(registry, key, full)) return status;
    full.insert(full.end(), parts.begin(), parts.end());
    wow64::RedirectClasses(full, view == KEY_WOW64_32KEY);
    if (const LONG status = MergedKey(registry, full, key)) return status;
    return key != nullptr ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  }
  std::u16string_view rest = path;
  if (const LONG status = CheckPath(hKey, rest)) return status;
  // Only the 32-bit view, or a path past a Wow6432Node key, can be
  // redirected: every other path is walked as it is, allocating nothing.
  if (view == KEY_WOW64_32KEY || wow64::IsNode(key->name) ||
      wow64::MayNameNode(rest)) {
    std::vector<std::u16string> parts;
    if (const LONG status = ParsePath(hKey, path, parts)) return status;
    if (Redirects(view, key, parts)) {
      if (const LONG status = Redirected(registry, view, key, parts)) {
        return status;
      }
      for (const std::u16string& name : parts) {
        if (const LONG status = registry.view.Child(*key, name, key)) {
          return status;
        }
        if (key == nullptr) return ERROR_FILE_NOT_FOUND;
      }
      return ERROR_SUCCESS;
    }
  }
  // Name by name along the path, with nothing to allocate: every open asks.
  for (std::size_t pos = 0, end = 0; regfile::NextName(rest, pos, end);
       pos = end) {
    const std::u16string_view name = rest.substr(pos, end - pos);
    if (const LONG status = registry.view.Child(*key, name, key)) {
      return status;
    }
    if (key == nullptr) return ERROR_FILE_NOT_FOUND;
  }
  return ERROR_SUCCESS;
}
LONG FindKey(Registry& registry, HKEY hKey, const std::u16string& path,
             CachedKey*& key, REGSAM view) {
  bool merged = false;
  return FindKey(registry, hKey, path, view, key, merged);
}

LONG OpenKeyAt(Registry& registry, HKEY hKey, const std::u16string& path,
               REGSAM samDesired, HKEY* phkResult) {
  LONG status;
  if (IsRoot(hKey) && path.empty()) {
    // Still a call on the registry: an unusable store says so.
    status = Read(registry, [] { return ERROR_SUCCESS; });
    if (status == ERROR_SUCCESS) *phkResult = hKey;
  } else {
    status = Read(registry, [&] {
      CachedKey* key = nullptr;
      bool merged = false;
      REGSAM view = samDesired;
      if (const LONG failed =
              FindKey(registry, hKey, path, view, key, merged)) {
        return failed;
      }
      REGSAM granted = 0;
      if (const LONG failed = Grant(registry, key, samDesired, granted)) {
        return failed;
      }
      return NewHandle(registry, key, granted, merged, *phkResult, view);
    });
  }
  // Windows turns a bad handle away before it touches the result; any later
  // failure leaves the null handle there.
  if (status != ERROR_SUCCESS && status != ERROR_INVALID_HANDLE) {
    *phkResult = 0;
  }
  return status;
}

namespace {

// A handle to `key` with the rights asked for, when the key allows them.
LONG OpenHandle(Registry& registry, CachedKey* key, REGSAM samDesired,
                bool merged, REGSAM view, HKEY* phkResult) {
  REGSAM granted = 0;
  if (const LONG status = Grant(registry, key, samDesired, granted)) {
    return status;
  }
  return NewHandle(registry, key, granted, merged, *phkResult, view);
}

// How many levels below its root key `key` is.
LONG Depth(Registry& registry, CachedKey* key, std::size_t& depth) {
  depth = 0;
  while (key->parent != 0) {
    ++depth;
    if (const LONG status = registry.view.Key(key->parent, key)) return status;
  }
  return ERROR_SUCCESS;
}

// Creates walk[existing..] below `key`, the last with `className`; `key` is
// the last one made.
LONG CreateMissing(Registry& registry, CachedKey*& key,
                   const std::vector<std::u16string>& walk,
                   std::size_t existing, const std::u16string* className,
                   bool isVolatile) {
  const std::size_t levels = walk.size() - existing;
  if (levels > kMaxLevelsCreated) return ERROR_INVALID_PARAMETER;
  std::size_t depth = 0;
  if (const LONG status = Depth(registry, key, depth)) return status;
  if (depth + levels > kMaxTreeDepth) return ERROR_INVALID_PARAMETER;
  REGSAM refused = 0;
  if (const LONG status = Refused(registry, key, refused)) return status;
  if (refused & KEY_CREATE_SUB_KEY) return ERROR_ACCESS_DENIED;
  // A volatile key vanishes with the boot, so a lasting key below it could
  // not be kept.
  if (key->isVolatile && !isVolatile) return ERROR_CHILD_MUST_BE_VOLATILE;
  for (std::size_t i = existing; i < walk.size(); ++i) {
    const bool last = i + 1 == walk.size();
    if (const LONG status = registry.view.CreateChild(
            *key, walk[i], last ? className : nullptr, isVolatile, key)) {
      return status;
    }
  }
  return ERROR_SUCCESS;
}

}  // namespace

LONG CreateKey(Registry& registry, HKEY hKey, const std::u16string& path,
               const std::u16string* className, bool isVolatile,
               REGSAM samDesired, HKEY* phkResult, bool& created) {
  std::vector<std::u16string> parts;
  if (const LONG status = ParsePath(hKey, path, parts)) return status;
  if (hKey == HKEY_CURRENT_USER_LOCAL_SETTINGS) {
    parts.insert(parts.begin(), {u"Software", u"Classes", kLocalSettings});
    hKey = HKEY_CURRENT_USER;
  }
  std::vector<std::u16string> walk;
  // An existing key is opened without taking the store's write lock.
  bool missing = false;
  const LONG opened = Read(registry, [&] {
    CachedKey* key = nullptr;
    std::size_t existing = 0;
    bool merged = false;
    REGSAM view = samDesired;
    if (const LONG status =
            Locate(registry, hKey, parts, view, key, walk, existing, merged)) {
      return status;
    }
    missing = existing < walk.size();
    if (missing) return ERROR_SUCCESS;
    return OpenHandle(registry, key, samDesired, merged, view, phkResult);
  });
  created = false;
  if (opened != ERROR_SUCCESS || !missing) return opened;
  return Write(registry, [&] {
    CachedKey* key = nullptr;
    std::size_t existing = 0;
    bool merged = false;
    REGSAM view = samDesired;
    if (const LONG status =
            Locate(registry, hKey, parts, view, key, walk, existing, merged)) {
      return status;
    }
    created = existing < walk.size();
    if (created) {
      if (const LONG status = CreateMissing(registry, key, walk, existing,
                                            className, isVolatile)) {
        return status;
      }
    }
    return OpenHandle(registry, key, samDesired, merged, view, phkResult);
  });
}

LONG DeleteKey(Registry& registry, HKEY hKey, const std::u16string& path,
               bool wholeSubtree, REGSAM view) {
  if (!wholeSubtree) {
    // A key that can't be found, or has subkeys, is refused whatever else
    // holds: that answer needs no write lock, and a tree's removal asks it
    // of every key that still has subkeys.
    bool any = false;
    const LONG found = Read(registry, [&] {
      CachedKey* key = nullptr;
      if (const LONG status = FindKey(registry, hKey, path, key, view)) {
        return status;
      }
      return registry.view.HasChildren(*key, any);
    });
    if (found != ERROR_SUCCESS) return found;
    if (any) return ERROR_ACCESS_DENIED;
  }
  return Write(registry, [&] {
    CachedKey* key = nullptr;
    if (const LONG status = FindKey(registry, hKey, path, key, view)) {
      return status;
    }
    if (IsProtected(registry, key)) return ERROR_ACCESS_DENIED;
    REGSAM refused = 0;
    if (const LONG status = Refused(registry, key, refused)) return status;
    if (refused & DELETE) return ERROR_ACCESS_DENIED;
    bool any = false;
    if (const LONG status = registry.view.HasChildren(*key, any)) return status;
    if (any) {
      if (!wholeSubtree) return ERROR_ACCESS_DENIED;
      if (const LONG status = SubtreeDeletable(registry, key)) return status;
    }
    return registry.view.DeleteTree(*key);
  });
}

LONG DeleteTree(Registry& registry, HKEY hKey, const std::u16string* path) {
  return Write(registry, [&] {
    if (path == nullptr) return EmptyKey(registry, hKey);
    CachedKey* key = nullptr;
    if (const LONG status = FindKey(registry, hKey, *path, key)) return status;
    if (IsProtected(registry, key)) return ERROR_ACCESS_DENIED;
    if (const LONG status = SubtreeDeletable(registry, key)) return status;
    return registry.view.DeleteTree(*key);
  });
}

void SetTime(FILETIME* out, std::uint64_t time) {
  if (out == nullptr) return;
  out->dwLowDateTime = static_cast<DWORD>(time);
  out->dwHighDateTime = static_cast<DWORD>(time >> 32);
}

}  // namespace corvane::platform::emulated

namespace corvane::platform {

using emulated::RegistryLock;

LONG RegCloseKey(HKEY hKey) {
  RegistryLock registry;
  if (const LONG status =
          emulated::Read(*registry, [] { return ERROR_SUCCESS; })) {
    return status;
  }
  if (emulated::IsRoot(hKey)) return ERROR_SUCCESS;
  const HKEY handle = hKey & ~emulated::kTagBits;
  if (registry->handles.erase(handle) == 0) return ERROR_INVALID_HANDLE;
  // As on Windows, closing the handle signals its registration.
  emulated::NotifyClosed(*registry, handle);
  return ERROR_SUCCESS;
}

}  // namespace corvane::platform
