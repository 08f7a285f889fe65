// The emulated registry functions that work on a key's tree or on many
// values at once, each as one call on the store: RegCopyTree (one write
// transaction: a copy that fails leaves nothing behind), RegRenameKey,
// RegDeleteKeyEx, and RegQueryMultipleValues (every value from one state of
// the store). Their
// ANSI and wide forms differ only in how text crosses (Ansi and Wide below).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/Unicode.h"
#include "base/ValueTypes.h"
#include "base/Windows1252.h"
#include "platform/Platform.h"
#include "platform/emulated/calls/CallerMemory.h"
#include "platform/emulated/calls/RegistryAccess.h"
#include "platform/emulated/calls/RegistryKeys.h"
#include "platform/emulated/calls/RegistryState.h"

namespace corvane::platform {
namespace emulated {
namespace {

DWORD Size(std::size_t n) { return static_cast<DWORD>(n); }

// The stored UTF-16 units of string data; a last odd byte is no unit.
std::u16string StoredUnits(std::span<const BYTE> data) {
  std::u16string units(data.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  return units;
}

// Text of the ANSI functions: Windows-1252, a byte a character.
struct Ansi {
  using Char = char;
  using Entry = VALENTA;
  static std::u16string In(const char* text) {
    std::u16string out;
    for (; text != nullptr && *text != '\0'; ++text) {
      out.push_back(
          base::Windows1252ToUnicode(static_cast<std::uint8_t>(*text)));
    }
    return out;
  }
  static std::vector<BYTE> Text(std::u16string_view units) {
    std::vector<BYTE> out(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
      const int byte = base::UnicodeToWindows1252(units[i]);
      out[i] = static_cast<BYTE>(byte >= 0 ? byte : '?');
    }
    return out;
  }
};

// Text of the wide functions: wchar_t units.
struct Wide {
  using Char = wchar_t;
  using Entry = VALENTW;
  static std::u16string In(const wchar_t* text) {
    return text != nullptr ? base::WideToUtf16(text) : std::u16string();
  }
  static std::vector<BYTE> Text(std::u16string_view units) {
    const std::wstring text = base::Utf16ToWide(units);
    std::vector<BYTE> out(text.size() * sizeof(wchar_t));
    if (!out.empty()) std::memcpy(out.data(), text.data(), out.size());
    return out;
  }
};

// Value data as a caller of that form sees it: string data in its text,
// the rest as stored.
template <class Form>
std::vector<BYTE> DataOut(const CachedValue& value) {
  if (!base::IsStringType(value.type)) return value.data;
  return Form::Text(StoredUnits(value.data));
}

// A key that stands for a predefined key can't be renamed.
bool IsProtected(const CachedKey* key) {
  return key->parent == 0 ||
         std::find(std::begin(kProtectedIds), std::end(kProtectedIds),
                   key->id) != std::end(kProtectedIds);
}

// ---- RegCopyTree ----------------------------------------------------------

// A key of the source's tree, read whole before anything is written: where
// its copy goes (the entry of its parent's copy; none for the top, whose
// copy is the destination), its name, values and depth below the top.
struct CopiedKey {
  std::size_t parent = 0;
  std::int64_t id = 0;
  std::u16string name;
  std::vector<CachedValue> values;
  std::size_t depth = 0;
};

// The tree below `top`, parents before their subkeys. Every key below the
// top is read as a handle opened with KEY_READ would read it.
LONG ReadTree(Registry& registry, CachedKey* top,
              std::vector<CopiedKey>& tree) {
  tree.assign(1, CopiedKey{0, top->id, {}, {}, 0});
  for (std::size_t i = 0; i < tree.size(); ++i) {
    CachedKey* key = nullptr;
    if (const LONG status = registry.view.Key(tree[i].id, key)) return status;
    if (i > 0) {
      REGSAM granted = 0;
      if (const LONG status = Grant(registry, key, KEY_READ, granted)) {
        return status;
      }
    }
    if (const LONG status = registry.view.LoadValues(*key)) return status;
    key->values.ForEach(
        [&](const CachedValue& value) { tree[i].values.push_back(value); });
    if (const LONG status = registry.view.LoadChildren(*key)) return status;
    for (std::size_t c = 0; c < key->children.Size(); ++c) {
      const CachedKey::Child& child = key->children.At(c);
      tree.push_back({i, child.id, child.key->name, {}, tree[i].depth + 1});
    }
  }
  return ERROR_SUCCESS;
}

// How deep `key` lies, and whether `ancestor` is it or one of its parents.
LONG Lineage(Registry& registry, CachedKey* key, std::int64_t ancestor,
             std::size_t& depth, bool& within) {
  depth = 0;
  within = key->id == ancestor;
  while (key->parent != 0) {
    ++depth;
    if (const LONG status = registry.view.Key(key->parent, key)) return status;
    within = within || key->id == ancestor;
  }
  return ERROR_SUCCESS;
}

// The copy of `copied` below `parent`: the subkey of that name, made when
// missing (with no class, not volatile), then written as a handle opened
// with KEY_WRITE would write it.
LONG CopyOf(Registry& registry, CachedKey* parent, const CopiedKey& copied,
            CachedKey*& key) {
  if (const LONG status = registry.view.Child(*parent, copied.name, key)) {
    return status;
  }
  if (key == nullptr) {
    REGSAM refused = 0;
    if (const LONG status = Refused(registry, parent, refused)) return status;
    if (refused & KEY_CREATE_SUB_KEY) return ERROR_ACCESS_DENIED;
    if (parent->isVolatile) return ERROR_CHILD_MUST_BE_VOLATILE;
    if (const LONG status = registry.view.CreateChild(*parent, copied.name,
                                                      nullptr, false, key)) {
      return status;
    }
  }
  REGSAM granted = 0;
  return Grant(registry, key, KEY_WRITE, granted);
}

// Writes the tree's copy, its top onto `destination`.
LONG WriteTree(Registry& registry, std::int64_t destination,
               const std::vector<CopiedKey>& tree) {
  std::vector<std::int64_t> copies(tree.size(), destination);
  for (std::size_t i = 0; i < tree.size(); ++i) {
    CachedKey* key = nullptr;
    if (const LONG status = registry.view.Key(copies[tree[i].parent], key)) {
      return status;
    }
    if (i > 0) {
      if (const LONG status = CopyOf(registry, key, tree[i], key)) {
        return status;
      }
    }
    copies[i] = key->id;
    for (const CachedValue& value : tree[i].values) {
      if (const LONG status = registry.view.SetValue(*key, value.name,
                                                     value.type, value.data)) {
        return status;
      }
    }
  }
  return ERROR_SUCCESS;
}

// The key to copy: `path` below hSrc opened for reading, or (no path) the
// handle's own key, which must have been opened for reading.
LONG CopySource(Registry& registry, HKEY hSrc, const std::u16string* path,
                CachedKey*& key) {
  constexpr REGSAM kReads = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS;
  if (path == nullptr) return Resolve(registry, hSrc, kReads, key);
  if (const LONG status = FindKey(registry, hSrc, *path, key)) return status;
  REGSAM granted = 0;
  return Grant(registry, key, KEY_READ, granted);
}

LONG CopyTree(HKEY hSrc, const std::u16string* path, HKEY hDest) {
  RegistryLock registry;
  return Write(*registry, [&] {
    CachedKey* source = nullptr;
    if (const LONG status = CopySource(*registry, hSrc, path, source)) {
      return status;
    }
    const std::int64_t sourceId = source->id;
    Target destination;
    if (const LONG status = Resolve(*registry, hDest, destination)) {
      return status;
    }
    std::size_t depth = 0;
    bool within = false;
    if (const LONG status =
            Lineage(*registry, destination.key, sourceId, depth, within)) {
      return status;
    }
    std::vector<CopiedKey> tree;
    if (const LONG status = ReadTree(*registry, source, tree)) return status;
    if (!tree[0].values.empty() && (destination.granted & KEY_SET_VALUE) == 0) {
      return ERROR_ACCESS_DENIED;
    }
    // Onto itself a copy changes nothing. Into its own tree it would copy
    // its copies again without end: refused.
    if (destination.key->id == sourceId) return ERROR_SUCCESS;
    if (within) return ERROR_INVALID_PARAMETER;
    if (depth + tree.back().depth > kMaxTreeDepth) {
      return ERROR_INVALID_PARAMETER;
    }
    return WriteTree(*registry, destination.key->id, tree);
  });
}

template <class Form>
LONG CopyTreeIn(HKEY hKeySrc, const typename Form::Char* lpSubKey,
                HKEY hKeyDest) {
  if (lpSubKey == nullptr) return CopyTree(hKeySrc, nullptr, hKeyDest);
  const std::u16string path = Form::In(lpSubKey);
  return CopyTree(hKeySrc, &path, hKeyDest);
}

// ---- RegRenameKey ---------------------------------------------------------

// A key's name: one level, not empty, no longer than a key name can be.
bool IsKeyName(std::u16string_view name) {
  return !name.empty() && name.size() <= kMaxKeyNameLength &&
         name.find(u'\\') == std::u16string_view::npos;
}

// The key to rename: `path` below hKey opened for writing, or (no path) the
// handle's own key, which must have been opened for writing.
LONG RenameTarget(Registry& registry, HKEY hKey, const std::u16string* path,
                  CachedKey*& key) {
  if (path == nullptr) return Resolve(registry, hKey, KEY_WRITE, key);
  if (const LONG status = FindKey(registry, hKey, *path, key)) return status;
  REGSAM granted = 0;
  return Grant(registry, key, KEY_WRITE, granted);
}

LONG RenameKey(HKEY hKey, const std::u16string* path,
               const std::u16string& name) {
  RegistryLock registry;
  return Write(*registry, [&] {
    CachedKey* key = nullptr;
    if (const LONG status = RenameTarget(*registry, hKey, path, key)) {
      return status;
    }
    if (IsProtected(key)) return ERROR_ACCESS_DENIED;
    CachedKey* parent = nullptr;
    if (const LONG status = registry->view.Key(key->parent, parent)) {
      return status;
    }
    // A name the parent lists already, in any case and the key's own too:
    // access denied, as Windows answers.
    CachedKey* sibling = nullptr;
    if (const LONG status = registry->view.Child(*parent, name, sibling)) {
      return status;
    }
    if (sibling != nullptr) return ERROR_ACCESS_DENIED;
    return registry->view.RenameKey(*key, name);
  });
}

// ---- RegDeleteKeyEx -------------------------------------------------------

// The view flags of samDesired say which view of the registry the key is
// in. Any other right asked for is of no use to a delete and is passed
// over. Unlike RegDeleteKey on the 95 family, never the whole subtree.
template <class Form>
LONG DeleteKeyEx(HKEY hKey, const typename Form::Char* lpSubKey,
                 REGSAM samDesired, DWORD Reserved) {
  if (lpSubKey == nullptr || Reserved != 0) return ERROR_INVALID_PARAMETER;
  const std::u16string path = Form::In(lpSubKey);
  RegistryLock registry;
  return DeleteKey(*registry, hKey, path, false, samDesired);
}

// ---- RegQueryMultipleValues -----------------------------------------------

// The values asked for, in the caller's form, read from one state of the
// store; ERROR_FILE_NOT_FOUND when one is missing.
template <class Form>
LONG ReadValues(HKEY hKey, const std::vector<std::u16string>& names,
                std::vector<DWORD>& types,
                std::vector<std::vector<BYTE>>& data) {
  RegistryLock registry;
  return Read(*registry, [&] {
    types.clear();
    data.clear();
    CachedKey* key = nullptr;
    if (const LONG status = Resolve(*registry, hKey, KEY_QUERY_VALUE, key)) {
      return status;
    }
    if (const LONG status = registry->view.LoadValues(*key)) return status;
    for (const std::u16string& name : names) {
      const CachedValue* value = registry->view.FindValue(*key, name);
      if (value == nullptr) return ERROR_FILE_NOT_FOUND;
      types.push_back(value->type);
      data.push_back(DataOut<Form>(*value));
    }
    return ERROR_SUCCESS;
  });
}

// Windows' limit on the list and the data of one RegQueryMultipleValues.
constexpr std::size_t kMaxTransfer = 1u << 20;

template <class Form>
LONG QueryMultipleValues(HKEY hKey, typename Form::Entry* val_list,
                         DWORD num_vals, typename Form::Char* lpValueBuf,
                         DWORD* ldwTotsize) {
  using Entry = typename Form::Entry;
  if (ldwTotsize == nullptr || (val_list == nullptr && num_vals != 0)) {
    return ERROR_INVALID_PARAMETER;
  }
  const std::size_t listSize = std::size_t{num_vals} * sizeof(Entry);
  if (listSize > kMaxTransfer) return ERROR_TRANSFER_TOO_LONG;
  std::vector<Entry> entries(num_vals);
  if (!ReadCaller(entries.data(), val_list, listSize)) {
    return ERROR_NOACCESS;
  }
  std::vector<std::u16string> names;
  for (const Entry& entry : entries) {
    names.push_back(Form::In(entry.ve_valuename));
  }
  std::vector<DWORD> types;
  std::vector<std::vector<BYTE>> data;
  if (const LONG status = ReadValues<Form>(hKey, names, types, data)) {
    return status;
  }
  std::size_t needed = 0;
  for (const std::vector<BYTE>& bytes : data) needed += bytes.size();
  if (listSize + needed > kMaxTransfer) return ERROR_TRANSFER_TOO_LONG;
  const bool fits = lpValueBuf != nullptr && needed <= *ldwTotsize;
  // The data one after another, each entry pointing at its own.
  auto* out = reinterpret_cast<BYTE*>(lpValueBuf);
  for (std::size_t i = 0, at = 0; i < entries.size();
       at += data[i].size(), ++i) {
    entries[i].ve_valuelen = Size(data[i].size());
    entries[i].ve_type = types[i];
    if (!fits) continue;
    if (!WriteCaller(out + at, data[i].data(), data[i].size())) {
      return ERROR_NOACCESS;
    }
    entries[i].ve_valueptr = reinterpret_cast<std::uintptr_t>(out + at);
  }
  if (!WriteCaller(val_list, entries.data(), entries.size() * sizeof(Entry))) {
    return ERROR_NOACCESS;
  }
  *ldwTotsize = Size(needed);
  return fits ? ERROR_SUCCESS : ERROR_MORE_DATA;
}

}  // namespace
}  // namespace emulated

using emulated::Ansi;
using emulated::Wide;

LONG RegCopyTreeA(HKEY hKeySrc, LPCSTR lpSubKey, HKEY hKeyDest) {
  return emulated::CopyTreeIn<Ansi>(hKeySrc, lpSubKey, hKeyDest);
}

LONG RegCopyTreeW(HKEY hKeySrc, LPCWSTR lpSubKey, HKEY hKeyDest) {
  return emulated::CopyTreeIn<Wide>(hKeySrc, lpSubKey, hKeyDest);
}

LONG RegDeleteKeyExA(HKEY hKey, LPCSTR lpSubKey, REGSAM samDesired,
                     DWORD Reserved) {
  return emulated::DeleteKeyEx<Ansi>(hKey, lpSubKey, samDesired, Reserved);
}

LONG RegDeleteKeyExW(HKEY hKey, LPCWSTR lpSubKey, REGSAM samDesired,
                     DWORD Reserved) {
  return emulated::DeleteKeyEx<Wide>(hKey, lpSubKey, samDesired, Reserved);
}

LONG RegRenameKey(HKEY hKey, LPCWSTR lpSubKeyName, LPCWSTR lpNewKeyName) {
  if (lpNewKeyName == nullptr) return ERROR_INVALID_PARAMETER;
  const std::u16string name = Wide::In(lpNewKeyName);
  if (!emulated::IsKeyName(name)) return ERROR_INVALID_PARAMETER;
  if (lpSubKeyName == nullptr) return emulated::RenameKey(hKey, nullptr, name);
  const std::u16string path = Wide::In(lpSubKeyName);
  return emulated::RenameKey(hKey, &path, name);
}

LONG RegQueryMultipleValuesA(HKEY hKey, PVALENTA val_list, DWORD num_vals,
                             LPSTR lpValueBuf, LPDWORD ldwTotsize) {
  return emulated::QueryMultipleValues<Ansi>(hKey, val_list, num_vals,
                                             lpValueBuf, ldwTotsize);
}

LONG RegQueryMultipleValuesW(HKEY hKey, PVALENTW val_list, DWORD num_vals,
                             LPWSTR lpValueBuf, LPDWORD ldwTotsize) {
  return emulated::QueryMultipleValues<Wide>(hKey, val_list, num_vals,
                                             lpValueBuf, ldwTotsize);
}

}  // namespace corvane::platform
