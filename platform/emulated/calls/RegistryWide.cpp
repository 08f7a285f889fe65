// The wide registry functions of the emulated backend, written once over the
// caller's unit (namespace core). With char16_t they are Windows' own
// (RegistryWide.h), what the ANSI functions convert over; with wchar_t they
// are the public W functions of Platform.h. Both are made from Platform.h's
// list at the end of this file. On Linux wchar_t holds UTF-32: a character
// above U+FFFF is one unit to the caller and a surrogate pair in the store, and
// a lone surrogate is the same one unit in both, so every text comes back as it
// went in. A unit beyond U+10FFFF, which UTF-16 can't hold, is stored as
// U+FFFD.
//
// Sizes are in the caller's units: a name's length counts its units, string
// data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) takes sizeof(unit) bytes a unit,
// and a 234 reports what the caller's units need. String data given in
// wchar_t is read in whole units; bytes left over after the last are not
// stored. Data of the other types is bytes, the same for every caller.
#include "platform/emulated/calls/RegistryWide.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "base/Unicode.h"
#include "base/ValueTypes.h"
#include "platform/Platform.h"
#include "platform/emulated/calls/CallerMemory.h"
#include "platform/emulated/calls/RegistryKeys.h"
#include "platform/emulated/calls/RegistryState.h"

namespace corvane::platform {
namespace emulated {
namespace {

using base::IsStringType;

DWORD Size(std::size_t n) { return static_cast<DWORD>(n); }

// The caller's unit is the store's own.
template <class Ch>
constexpr bool kStoredForm = sizeof(Ch) == sizeof(char16_t);

using base::IsHighSurrogate;
using base::IsLowSurrogate;

template <class Ch>
void AppendStored(Ch unit, std::u16string& out) {
  if constexpr (kStoredForm<Ch>) {
    out.push_back(static_cast<char16_t>(unit));
  } else {
    base::AppendUtf16(out, static_cast<char32_t>(unit));
  }
}

// A name or class as the store keeps it; nullptr is the empty name.
template <class Ch>
std::u16string NameIn(const Ch* text) {
  std::u16string out;
  if (text == nullptr) return out;
  const std::basic_string_view<Ch> units(text);
  if constexpr (kStoredForm<Ch>) {
    out.assign(units.begin(), units.end());
  } else {
    // Sized once: most names fit exactly (a unit beyond the BMP takes two).
    out.reserve(units.size());
    for (const Ch unit : units) AppendStored(unit, out);
  }
  return out;
}

// Stored text in the caller's units.
template <class Ch>
std::basic_string<Ch> FromStored(std::u16string_view text) {
  if constexpr (kStoredForm<Ch>) {
    return std::basic_string<Ch>(text.begin(), text.end());
  } else {
    std::basic_string<Ch> out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (IsHighSurrogate(text[i]) && i + 1 < text.size() &&
          IsLowSurrogate(text[i + 1])) {
        out.push_back(
            static_cast<Ch>(base::CombineSurrogates(text[i], text[i + 1])));
        ++i;
      } else {
        out.push_back(static_cast<Ch>(text[i]));
      }
    }
    return out;
  }
}

// Stored text in the caller's units: the stored text itself for UTF-16
// callers, else converted into `scratch`.
template <class Ch>
std::basic_string_view<Ch> UnitsOut(std::u16string_view text,
                                    std::basic_string<Ch>& scratch) {
  if constexpr (std::is_same_v<Ch, char16_t>) {
    return text;
  } else {
    scratch = FromStored<Ch>(text);
    return scratch;
  }
}

// How many of the caller's units a stored text takes.
template <class Ch>
std::size_t UnitCount(std::u16string_view text) {
  std::size_t units = text.size();
  if constexpr (!kStoredForm<Ch>) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
      if (IsHighSurrogate(text[i]) && IsLowSurrogate(text[i + 1])) --units, ++i;
    }
  }
  return units;
}

// The whole UTF-16 units of stored string data.
std::u16string StoredUnits(std::span<const BYTE> data) {
  std::u16string units(data.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  return units;
}

// Value data as the store keeps it, read from the caller's `given`
// (ERROR_NOACCESS when it can't be). UTF-16 callers hand over the stored
// form itself, an odd last byte included, as Windows keeps it.
template <class Ch>
LONG DataIn(DWORD type, const BYTE* given, DWORD size,
            std::vector<BYTE>& bytes) {
  bytes.assign(given != nullptr ? size : 0, 0);
  if (!ReadCaller(bytes.data(), given, bytes.size())) return ERROR_NOACCESS;
  if (kStoredForm<Ch> || !IsStringType(type)) return ERROR_SUCCESS;
  const BYTE* data = bytes.data();
  std::u16string stored;
  stored.reserve(size / sizeof(Ch));
  for (std::size_t i = 0; i + sizeof(Ch) <= size; i += sizeof(Ch)) {
    Ch unit;
    std::memcpy(&unit, data + i, sizeof unit);
    AppendStored(unit, stored);
  }
  std::vector<BYTE> units(stored.size() * 2);
  for (std::size_t i = 0; i < stored.size(); ++i) {
    units[2 * i] = static_cast<BYTE>(stored[i] & 0xFF);
    units[2 * i + 1] = static_cast<BYTE>(stored[i] >> 8);
  }
  bytes = std::move(units);
  return ERROR_SUCCESS;
}

// Value data in the caller's units; `scratch` holds it when it had to be
// converted.
template <class Ch>
std::span<const BYTE> DataOut(const CachedValue& value,
                              std::vector<BYTE>& scratch) {
  if (kStoredForm<Ch> || !IsStringType(value.type)) return value.data;
  const std::basic_string<Ch> units = FromStored<Ch>(StoredUnits(value.data));
  scratch.resize(units.size() * sizeof(Ch));
  // An empty vector's data() may be null, which memcpy may not be given.
  if (!scratch.empty()) {
    std::memcpy(scratch.data(), units.data(), scratch.size());
  }
  return scratch;
}

template <class Ch>
std::size_t DataOutSize(const CachedValue& value) {
  if (kStoredForm<Ch> || !IsStringType(value.type)) return value.data.size();
  return UnitCount<Ch>(StoredUnits(value.data)) * sizeof(Ch);
}

// Copies data out as the W functions do: string data that doesn't end in a
// NUL gets one after it when there is room, outside the size reported.
// ERROR_NOACCESS when the caller's buffer can't be written.
template <class Ch>
LONG CopyOut(BYTE* out, DWORD capacity, std::span<const BYTE> data,
             bool isString) {
  if (!WriteCaller(out, data.data(), data.size())) return ERROR_NOACCESS;
  if (!isString || data.size() < sizeof(Ch) || data.size() % sizeof(Ch) != 0 ||
      data.size() + sizeof(Ch) > capacity) {
    return ERROR_SUCCESS;
  }
  Ch last;
  std::memcpy(&last, data.data() + data.size() - sizeof(Ch), sizeof last);
  const Ch nul = 0;
  if (last != 0 && !WriteCaller(out + data.size(), &nul, sizeof nul)) {
    return ERROR_NOACCESS;
  }
  return ERROR_SUCCESS;
}

// Writes a name and its NUL; ERROR_NOACCESS when the buffer can't take it.
template <class Ch>
LONG PutName(std::basic_string_view<Ch> name, Ch* out) {
  if (SeenWritable(out, (name.size() + 1) * sizeof(Ch))) {
    std::copy(name.begin(), name.end(), out);
    out[name.size()] = 0;
    return ERROR_SUCCESS;
  }
  const Ch nul = 0;
  if (!WriteCaller(out, name.data(), name.size() * sizeof(Ch)) ||
      !WriteCaller(out + name.size(), &nul, sizeof nul)) {
    return ERROR_NOACCESS;
  }
  return ERROR_SUCCESS;
}

// The longest subkey name, subkey class, value name and value data a
// handle shows, in the caller's units.
struct Maxima {
  std::size_t subkeyName = 0, subkeyClass = 0, valueName = 0, valueData = 0;
};

template <class Ch>
LONG FindMaxima(Registry& registry, CachedKey& key, const Subkeys& subkeys,
                const Values& values, Maxima& m) {
  if (const LONG status = registry.view.LoadMaxima(key)) return status;
  if constexpr (kStoredForm<Ch>) {
    m = {key.maxChildName, key.maxChildClass, key.maxValueName,
         key.maxValueData};
    if (subkeys.merged != nullptr) {
      m.subkeyName = subkeys.merged->maxName;
      m.subkeyClass = subkeys.merged->maxClass;
    }
    if (values.merged != nullptr) {
      m.valueName = m.valueData = 0;
      values.ForEach([&m](const CachedValue& v) {
        m.valueName = std::max(m.valueName, v.name.size());
        m.valueData = std::max(m.valueData, v.data.size());
      });
    }
  } else {
    // The view keeps these in UTF-16 units; in UTF-32 a surrogate pair is
    // one unit and string data takes twice the bytes, so count again.
    m = {};
    for (std::size_t i = 0; i < subkeys.Size(); ++i) {
      CachedKey* child = nullptr;
      if (const LONG status = registry.view.Key(subkeys.Id(i), child)) {
        return status;
      }
      m.subkeyName = std::max(m.subkeyName, UnitCount<Ch>(child->name));
      m.subkeyClass =
          std::max(m.subkeyClass, UnitCount<Ch>(child->ClassName()));
    }
    values.ForEach([&m](const CachedValue& v) {
      m.valueName = std::max(m.valueName, UnitCount<Ch>(v.name));
      m.valueData = std::max(m.valueData, DataOutSize<Ch>(v));
    });
  }
  return ERROR_SUCCESS;
}

// The key's class into the caller's buffer, in the caller's characters;
// its length goes to lpcchClass whether or not it fit. A buffer without
// room for a character asks for the length only; one too small for the
// class and its NUL gets nothing and 122 (ERROR_INSUFFICIENT_BUFFER), as
// Windows' W form answers.
template <class Ch>
LONG PutClass(std::u16string_view stored, Ch* lpClass, DWORD* lpcchClass) {
  if (lpcchClass == nullptr) return ERROR_SUCCESS;
  std::basic_string<Ch> scratch;
  const std::basic_string_view<Ch> className = UnitsOut<Ch>(stored, scratch);
  LONG status = ERROR_SUCCESS;
  if (lpClass != nullptr && *lpcchClass != 0) {
    if (className.size() + 1 > *lpcchClass) {
      status = ERROR_INSUFFICIENT_BUFFER;
    } else {
      status = PutName(className, lpClass);
    }
  }
  *lpcchClass = Size(className.size());
  return status;
}

}  // namespace

// The wide functions over the caller's unit, each named after its W form
// and taking its arguments.
namespace core {

template <class Ch>
LONG RegOpenKeyExW(HKEY hKey, const Ch* lpSubKey, DWORD /*ulOptions*/,
                   REGSAM samDesired, HKEY* phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  const std::u16string path = NameIn(lpSubKey);
  RegistryLock registry;
  return OpenKeyAt(*registry, hKey, path, samDesired, phkResult);
}

template <class Ch>
LONG RegCreateKeyExW(HKEY hKey, const Ch* lpSubKey, DWORD Reserved, Ch* lpClass,
                     DWORD dwOptions, REGSAM samDesired,
                     const SECURITY_ATTRIBUTES* /*lpSecurityAttributes*/,
                     HKEY* phkResult, DWORD* lpdwDisposition) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = 0;
  if (Reserved != 0) return ERROR_INVALID_PARAMETER;
  const std::u16string path = NameIn(lpSubKey);
  const std::u16string className = NameIn(lpClass);
  RegistryLock registry;
  // Unlike RegOpenKeyEx, an empty subkey on a predefined key gives a new
  // handle to its key, as any other key would.
  bool created = false;
  const LONG status = CreateKey(
      *registry, hKey, path, lpClass != nullptr ? &className : nullptr,
      (dwOptions & REG_OPTION_VOLATILE) != 0, samDesired, phkResult, created);
  if (status == ERROR_SUCCESS && lpdwDisposition != nullptr) {
    *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  }
  return status;
}

template <class Ch>
LONG RegQueryValueExW(HKEY hKey, const Ch* lpValueName, DWORD* lpReserved,
                      DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  if ((lpData != nullptr && lpcbData == nullptr) || lpReserved != nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  const std::u16string name = NameIn(lpValueName);
  const DWORD capacity = lpcbData != nullptr ? *lpcbData : 0;
  RegistryLock registry;
  return Read(*registry, [&] {
    CachedKey* key = nullptr;
    if (const LONG status = Resolve(*registry, hKey, KEY_QUERY_VALUE, key)) {
      return status;
    }
    if (const LONG status = registry->view.LoadValues(*key)) return status;
    if (lpData == nullptr && lpcbData != nullptr) *lpcbData = 0;
    const CachedValue* value = registry->view.FindValue(*key, name);
    if (value == nullptr) return ERROR_FILE_NOT_FOUND;

    std::vector<BYTE> scratch;
    const std::span<const BYTE> data = DataOut<Ch>(*value, scratch);
    LONG status = ERROR_SUCCESS;
    if (lpData != nullptr) {
      if (data.size() > capacity) {
        status = ERROR_MORE_DATA;
      } else {
        status = CopyOut<Ch>(lpData, capacity, data, IsStringType(value->type));
      }
    }
    if (lpType != nullptr) *lpType = value->type;
    if (lpcbData != nullptr) *lpcbData = Size(data.size());
    return status;
  });
}

template <class Ch>
LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, Ch* lpValueName,
                   DWORD* lpcchValueName, DWORD* lpReserved, DWORD* lpType,
                   BYTE* lpData, DWORD* lpcbData) {
  if ((lpData != nullptr && lpcbData == nullptr) || lpReserved != nullptr ||
      lpValueName == nullptr || lpcchValueName == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  RegistryLock registry;
  return Read(*registry, [&] {
    Target target;
    if (const LONG status = Resolve(*registry, hKey, KEY_QUERY_VALUE, target)) {
      return status;
    }
    Values values;
    if (const LONG status = ListValues(*registry, target, values)) {
      return status;
    }
    if (dwIndex >= values.Size()) return ERROR_NO_MORE_ITEMS;
    const CachedValue& value = values.At(dwIndex);

    std::vector<BYTE> scratch;
    const std::span<const BYTE> data = DataOut<Ch>(value, scratch);
    std::basic_string<Ch> scratchName;
    const std::basic_string_view<Ch> name =
        UnitsOut<Ch>(value.name, scratchName);
    // The name first, then the data, as Windows' W form: a name too long
    // stops there, leaving the data untouched; data too long stops after
    // the name and its length were written. The type and the size of the
    // data are reported either way.
    LONG status = ERROR_SUCCESS;
    if (name.size() >= *lpcchValueName) {
      status = ERROR_MORE_DATA;
    } else if (const LONG failed = PutName(name, lpValueName)) {
      return failed;
    } else {
      *lpcchValueName = Size(name.size());
      if (lpData != nullptr) {
        status = data.size() > *lpcbData
                     ? ERROR_MORE_DATA
                     : CopyOut<Ch>(lpData, *lpcbData, data,
                                   IsStringType(value.type));
      }
    }
    if (lpType != nullptr) *lpType = value.type;
    if (lpcbData != nullptr) *lpcbData = Size(data.size());
    return status;
  });
}

template <class Ch>
LONG RegSetValueExW(HKEY hKey, const Ch* lpValueName, DWORD Reserved,
                    DWORD dwType, const BYTE* lpData, DWORD cbData) {
  if (Reserved != 0) return ERROR_INVALID_PARAMETER;
  if (lpData == nullptr && cbData != 0) return ERROR_NOACCESS;
  const std::u16string name = NameIn(lpValueName);
  if (name.size() > kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
  // Only the cbData bytes given are read: a string without its terminator
  // is kept without one.
  std::vector<BYTE> data;
  if (const LONG status = DataIn<Ch>(dwType, lpData, cbData, data)) {
    return status;
  }
  RegistryLock registry;
  return Write(*registry, [&] {
    CachedKey* key = nullptr;
    if (const LONG status = Resolve(*registry, hKey, KEY_SET_VALUE, key)) {
      return status;
    }
    return registry->view.SetValue(*key, name, dwType, std::move(data));
  });
}

template <class Ch>
LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, Ch* lpName, DWORD* lpcchName,
                   DWORD* lpReserved, Ch* lpClass, DWORD* lpcchClass,
                   FILETIME* lpftLastWriteTime) {
  if (lpReserved != nullptr || lpName == nullptr || lpcchName == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  RegistryLock registry;
  const std::uint64_t stamp = registry->view.Stamp();
  return Read(*registry, [&] {
    Target target;
    if (const LONG status =
            Resolve(*registry, hKey, KEY_ENUMERATE_SUB_KEYS, target)) {
      return status;
    }
    Subkeys subkeys;
    if (const LONG status = ListSubkeys(*registry, target, stamp, subkeys)) {
      return status;
    }
    if (dwIndex >= subkeys.Size()) return ERROR_NO_MORE_ITEMS;
    if (subkeys.own != nullptr) target.key->listed = dwIndex;
    CachedKey* child = subkeys.Cached(dwIndex);
    if (child == nullptr) {
      if (const LONG status = registry->view.Key(subkeys.Id(dwIndex), child)) {
        return status;
      }
    }
    std::basic_string<Ch> scratchName, scratchClass;
    const std::basic_string_view<Ch> name =
        UnitsOut<Ch>(child->name, scratchName);
    const std::basic_string_view<Ch> className =
        UnitsOut<Ch>(child->ClassName(), scratchClass);
    SetTime(lpftLastWriteTime, child->lastWrite);
    if (name.size() >= *lpcchName ||
        (lpClass != nullptr && lpcchClass != nullptr &&
         className.size() >= *lpcchClass)) {
      return ERROR_MORE_DATA;
    }
    if (const LONG status = PutName(name, lpName)) return status;
    *lpcchName = Size(name.size());
    if (lpcchClass != nullptr) {
      if (lpClass != nullptr) {
        if (const LONG status = PutName(className, lpClass)) return status;
      }
      *lpcchClass = Size(className.size());
    }
    return ERROR_SUCCESS;
  });
}

template <class Ch>
LONG RegQueryInfoKeyW(HKEY hKey, Ch* lpClass, DWORD* lpcchClass,
                      DWORD* lpReserved, DWORD* lpcSubKeys,
                      DWORD* lpcbMaxSubKeyLen, DWORD* lpcbMaxClassLen,
                      DWORD* lpcValues, DWORD* lpcbMaxValueNameLen,
                      DWORD* lpcbMaxValueLen, DWORD* lpcbSecurityDescriptor,
                      FILETIME* lpftLastWriteTime) {
  if ((lpClass != nullptr && lpcchClass == nullptr) || lpReserved != nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  RegistryLock registry;
  const std::uint64_t stamp = registry->view.Stamp();
  return Read(*registry, [&] {
    Target target;
    if (const LONG status = Resolve(*registry, hKey, KEY_QUERY_VALUE, target)) {
      return status;
    }
    CachedKey* key = target.key;
    Subkeys subkeys;
    if (const LONG status = ListSubkeys(*registry, target, stamp, subkeys)) {
      return status;
    }
    Values values;
    if (const LONG status = ListValues(*registry, target, values)) {
      return status;
    }
    Maxima maxima;
    if (const LONG status =
            FindMaxima<Ch>(*registry, *key, subkeys, values, maxima)) {
      return status;
    }
    const LONG status = PutClass(key->ClassName(), lpClass, lpcchClass);
    if (lpcSubKeys != nullptr) *lpcSubKeys = Size(subkeys.Size());
    if (lpcbMaxSubKeyLen != nullptr) {
      *lpcbMaxSubKeyLen = Size(maxima.subkeyName);
    }
    if (lpcbMaxClassLen != nullptr) *lpcbMaxClassLen = Size(maxima.subkeyClass);
    if (lpcValues != nullptr) *lpcValues = Size(values.Size());
    if (lpcbMaxValueNameLen != nullptr) {
      *lpcbMaxValueNameLen = Size(maxima.valueName);
    }
    if (lpcbMaxValueLen != nullptr) *lpcbMaxValueLen = Size(maxima.valueData);
    // The emulation keeps no security descriptors.
    if (lpcbSecurityDescriptor != nullptr) *lpcbSecurityDescriptor = 0;
    SetTime(lpftLastWriteTime, key->lastWrite);
    return status;
  });
}

template <class Ch>
LONG RegDeleteKeyW(HKEY hKey, const Ch* lpSubKey) {
  if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  // Bit 31 marks the 95 family, whose delete takes the subtree with it.
  const bool wholeSubtree = (GetVersion() & 0x80000000u) != 0;
  const std::u16string path = NameIn(lpSubKey);
  RegistryLock registry;
  return DeleteKey(*registry, hKey, path, wholeSubtree);
}

template <class Ch>
LONG RegDeleteValueW(HKEY hKey, const Ch* lpValueName) {
  const std::u16string name = NameIn(lpValueName);
  RegistryLock registry;
  return Write(*registry, [&] {
    CachedKey* key = nullptr;
    if (const LONG status = Resolve(*registry, hKey, KEY_SET_VALUE, key)) {
      return status;
    }
    bool found = false;
    if (const LONG status = registry->view.DeleteValue(*key, name, found)) {
      return status;
    }
    return found ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
}

// An empty subkey names no subkey, as NULL does: the key itself stays.
template <class Ch>
LONG RegDeleteTreeW(HKEY hKey, const Ch* lpSubKey) {
  const std::u16string path = NameIn(lpSubKey);
  RegistryLock registry;
  return DeleteTree(*registry, hKey, path.empty() ? nullptr : &path);
}

}  // namespace core

// Each wide function of Platform.h's list in both units: over char16_t for
// the ANSI functions (RegistryWide.h), over wchar_t as the public W form.
#define CORVANE_OVER_UNITS(name, parameters, arguments) \
  LONG name parameters { return emulated::core::name arguments; }

namespace utf16 {
CORVANE_REGISTRY_FUNCTIONS(CORVANE_REGISTRY_SKIPPED, CORVANE_OVER_UNITS)
}  // namespace utf16
}  // namespace emulated

CORVANE_REGISTRY_FUNCTIONS(CORVANE_REGISTRY_SKIPPED, CORVANE_OVER_UNITS)
#undef CORVANE_OVER_UNITS

}  // namespace corvane::platform
