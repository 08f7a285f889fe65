// Keys by handle and by path: what a handle stands for, new handles, subkey
// paths below a handle (through HKEY_CLASSES_ROOT's merged view where the
// handle came from it), and the calls that open, create and delete keys
// (RegCloseKey, a public function, is defined beside them).
// Names here are UTF-16, as the store keeps them; the wide and ANSI
// functions convert to and from their callers' text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/emulated/calls/RegistryState.h"
#include "platform/emulated/view/View.h"

namespace corvane::platform::emulated {

// A predefined key's value: the seven of the first Windows, the current
// user's local settings and the two performance texts.
inline bool IsRoot(HKEY hKey) {
  return (hKey >= HKEY_CLASSES_ROOT &&
          hKey <= HKEY_CURRENT_USER_LOCAL_SETTINGS) ||
         hKey == HKEY_PERFORMANCE_TEXT || hKey == HKEY_PERFORMANCE_NLSTEXT;
}

// HKEY_CURRENT_USER_LOCAL_SETTINGS stands for this key of the user's
// classes (HKEY_CURRENT_USER\Software\Classes), made by the first create
// through it.
inline constexpr char16_t kLocalSettings[] = u"Local Settings";

// What a handle stands for: its key, the rights it carries, and its entry
// (the classes root's for HKEY_CLASSES_ROOT, none for other predefined keys).
struct Target {
  CachedKey* key = nullptr;
  REGSAM granted = 0;
  HandleEntry* open = nullptr;

  bool Merged() const { return open != nullptr && open->merged != nullptr; }
};

// A predefined key carries whatever its key allows, as Windows opens them
// with MAXIMUM_ALLOWED.
LONG Resolve(Registry& registry, HKEY hKey, Target& target);
// The same, ERROR_ACCESS_DENIED unless the handle carries `needed`.
LONG Resolve(Registry& registry, HKEY hKey, REGSAM needed, Target& target);
LONG Resolve(Registry& registry, HKEY hKey, REGSAM needed, CachedKey*& key);

// A new handle to `key`; `merged` when it was found through
// HKEY_CLASSES_ROOT, which tags the handle. `view`: the registry view it
// was opened in (0: the program's).
LONG NewHandle(Registry& registry, CachedKey* key, REGSAM granted, bool merged,
               HKEY& opened, REGSAM view = 0);

// The subkeys a handle shows, by id in the registry's order: its key's, or
// through HKEY_CLASSES_ROOT the merged list (made again when the store
// changed since `stamp`, the counter read before the call began). `ids`
// points into the view or the handle's entry, valid for this call.
struct Subkeys {
  const ChunkedVector<CachedKey::Child>* own = nullptr;
  const MergedList* merged = nullptr;

  std::size_t Size() const { return merged ? merged->ids.size() : own->Size(); }
  std::int64_t Id(std::size_t i) const {
    return merged ? merged->ids[i] : own->At(i).id;
  }
  // The subkey's entry when the list holds it, else nullptr (look it up).
  CachedKey* Cached(std::size_t i) const {
    return merged ? nullptr : own->At(i).key;
  }
};
LONG ListSubkeys(Registry& registry, Target& target, std::uint64_t stamp,
                 Subkeys& subkeys);

// The values a handle shows, in enumeration order: its key's, or through
// HKEY_CLASSES_ROOT the merged list (see MergedValueList). Valid for this
// call.
struct Values {
  const ChunkedVector<CachedValue>* own = nullptr;
  const std::vector<const CachedValue*>* merged = nullptr;

  std::size_t Size() const { return merged ? merged->size() : own->Size(); }
  const CachedValue& At(std::size_t i) const {
    return merged ? *(*merged)[i] : own->At(i);
  }
  template <class F>
  void ForEach(F&& visit) const {
    if (merged) {
      for (const CachedValue* value : *merged) visit(*value);
    } else {
      own->ForEach(visit);
    }
  }
};
LONG ListValues(Registry& registry, Target& target, Values& values);

// The existing key that `path` names below the key of `hKey`; `merged`
// tells whether it was found through HKEY_CLASSES_ROOT. An empty path names
// the handle's own key, whichever copy that is. `view` comes in as the
// call's view flags (KEY_WOW64_32KEY or KEY_WOW64_64KEY, or neither) and
// goes out as the view the path was found in (CallView).
LONG FindKey(Registry& registry, HKEY hKey, const std::u16string& path,
             REGSAM& view, CachedKey*& key, bool& merged);
LONG FindKey(Registry& registry, HKEY hKey, const std::u16string& path,
             CachedKey*& key, REGSAM view = 0);

// RegOpenKeyEx below a handle, the predefined keys' empty path included;
// the view flags of samDesired choose the view.
LONG OpenKeyAt(Registry& registry, HKEY hKey, const std::u16string& path,
               REGSAM samDesired, HKEY* phkResult);

// How deep a key tree may grow, and how many levels one RegCreateKeyEx may
// make (Microsoft's "Registry Element Size Limits"). Past either the create
// answers ERROR_INVALID_PARAMETER, as a name too long does.
inline constexpr std::size_t kMaxTreeDepth = 512;
inline constexpr std::size_t kMaxLevelsCreated = 32;

// RegCreateKeyEx: opens the key `path` names, creating every missing level;
// `created` tells which it did. The view flags of samDesired choose the
// view. `className` (may be null) is given to the
// last level when it is made.
LONG CreateKey(Registry& registry, HKEY hKey, const std::u16string& path,
               const std::u16string* className, bool isVolatile,
               REGSAM samDesired, HKEY* phkResult, bool& created);

// Deletes the key `path` names, in the view the flags of `view` choose; a
// key with subkeys only with `wholeSubtree`, all or nothing.
LONG DeleteKey(Registry& registry, HKEY hKey, const std::u16string& path,
               bool wholeSubtree, REGSAM view = 0);

// RegDeleteTree: with a path, that key and its whole subtree; without one
// (nullptr), the subkeys and values of the handle's key, which stays. All
// or nothing.
LONG DeleteTree(Registry& registry, HKEY hKey, const std::u16string* path);

void SetTime(FILETIME* out, std::uint64_t time);

}  // namespace corvane::platform::emulated
