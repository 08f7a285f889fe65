// The ANSI registry functions of the emulated backend: conversions over the
// wide ones (RegistryWide.h), as Windows' own are. Names and string data
// (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) cross in the emulated ANSI code
// page, Windows-1252, one byte for each UTF-16 unit, as Windows converts for
// a single-byte code page: a character the code page lacks is "?", and so is
// each half of a surrogate pair. Name lengths and data sizes are those of
// the ANSI text; the largest lengths and sizes RegQueryInfoKeyA reports are
// the wide ones, as on Windows, and so bound the ANSI ones.
//
// Buffers hand the wide functions the caller's room in units: a unit is one
// byte here, so a name fits the wide buffer exactly when its ANSI form fits
// the caller's.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/ValueTypes.h"
#include "base/Windows1252.h"
#include "platform/Platform.h"
#include "platform/emulated/calls/CallHooks.h"
#include "platform/emulated/calls/CallerMemory.h"
#include "platform/emulated/calls/RegistryState.h"
#include "platform/emulated/calls/RegistryWide.h"

namespace corvane::platform {
namespace emulated {
namespace {

// More class text than any caller keeps; a larger room is taken as this.
constexpr DWORD kMaxClassRoom = 1u << 16;

using base::IsStringType;

DWORD Size(std::size_t n) { return static_cast<DWORD>(n); }

// ANSI text into `out`, which has room for a unit per byte.
void AnsiInto(std::string_view text, char16_t* out) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    out[i] = base::Windows1252ToUnicode(static_cast<std::uint8_t>(text[i]));
  }
}

std::u16string FromAnsi(std::string_view text) {
  std::u16string units(text.size(), u'\0');
  AnsiInto(text, units.data());
  return units;
}

// UTF-16 units into `out`, a byte per unit ('?' for one the code page
// lacks).
void UnitsInto(std::u16string_view text, char* out) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const int byte = base::UnicodeToWindows1252(text[i]);
    out[i] = byte >= 0 ? static_cast<char>(byte) : '?';
  }
}

std::string ToAnsi(std::u16string_view text) {
  std::string ansi(text.size(), '\0');
  UnitsInto(text, ansi.data());
  return ansi;
}

// Room for what a wide call hands back: inline for the small names and
// values most are, on the heap for the rest.
template <class T, std::size_t N>
class Room {
 public:
  T* data() { return heap_.empty() ? inline_.data() : heap_.data(); }
  DWORD size() const { return Size(heap_.empty() ? N : heap_.size()); }
  void Grow(DWORD size) { heap_.resize(std::max<std::size_t>(size, N)); }

 private:
  std::array<T, N> inline_;
  std::vector<T> heap_;
};

// An ANSI name or path in UTF-16, keeping NULL apart from "": inline for
// the short ones most are (a call per key of a walk passes one).
class WideText {
 public:
  explicit WideText(const char* text) {
    if (text == nullptr) return;
    const std::size_t length = std::strlen(text);
    if (length >= room_.size()) room_.Grow(Size(length + 1));
    text_ = room_.data();
    AnsiInto({text, length}, text_);
    text_[length] = u'\0';
  }
  WideText(const WideText&) = delete;
  WideText& operator=(const WideText&) = delete;
  char16_t* get() { return text_; }

 private:
  char16_t* text_ = nullptr;
  Room<char16_t, 128> room_;
};

// UTF-16LE string data in the code page; a last odd byte is no unit.
std::string DataToAnsi(std::span<const BYTE> data) {
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

// A value's data as the caller sees it: string data in the code page, the
// rest as stored.
class AnsiData {
 public:
  AnsiData(DWORD type, std::span<const BYTE> raw)
      : isString_(IsStringType(type)),
        text_(isString_ ? DataToAnsi(raw) : std::string()),
        raw_(raw) {}
  DWORD Size() const {
    return emulated::Size(isString_ ? text_.size() : raw_.size());
  }

  // Copies the data out the way the "A" functions do: when there is room
  // and string data has no terminator of its own, one is added after it.
  // ERROR_NOACCESS when the caller's buffer can't be written.
  LONG CopyTo(BYTE* out, DWORD capacity) const {
    if (!isString_) {
      return WriteCaller(out, raw_.data(), raw_.size()) ? ERROR_SUCCESS
                                                        : ERROR_NOACCESS;
    }
    if (!WriteCaller(out, text_.data(), text_.size())) return ERROR_NOACCESS;
    const char nul = '\0';
    if (!text_.empty() && text_.size() < capacity && text_.back() != '\0' &&
        !WriteCaller(out + text_.size(), &nul, 1)) {
      return ERROR_NOACCESS;
    }
    return ERROR_SUCCESS;
  }

 private:
  bool isString_;
  std::string text_;
  std::span<const BYTE> raw_;
};

// Writes an ANSI name and its NUL; ERROR_NOACCESS when the buffer can't
// take it.
LONG PutName(std::u16string_view name, char* out) {
  if (SeenWritable(out, name.size() + 1)) {
    UnitsInto(name, out);
    out[name.size()] = '\0';
    return ERROR_SUCCESS;
  }
  Room<char, kMaxKeyNameLength + 1> ansi;
  if (name.size() + 1 > ansi.size()) ansi.Grow(Size(name.size() + 1));
  UnitsInto(name, ansi.data());
  ansi.data()[name.size()] = '\0';
  return WriteCaller(out, ansi.data(), name.size() + 1) ? ERROR_SUCCESS
                                                        : ERROR_NOACCESS;
}

}  // namespace
}  // namespace emulated

using namespace emulated;

LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions,
                   REGSAM samDesired, HKEY* phkResult) {
  WideText path(lpSubKey);
  return utf16::RegOpenKeyExW(hKey, path.get(), ulOptions, samDesired,
                              phkResult);
}

LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved,
                     char* lpClass, DWORD dwOptions, REGSAM samDesired,
                     const SECURITY_ATTRIBUTES* lpSecurityAttributes,
                     HKEY* phkResult, DWORD* lpdwDisposition) {
  WideText path(lpSubKey);
  WideText className(lpClass);
  return utf16::RegCreateKeyExW(hKey, path.get(), Reserved, className.get(),
                                dwOptions, samDesired, lpSecurityAttributes,
                                phkResult, lpdwDisposition);
}

LONG RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved,
                      DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  // A size query goes through the test seam: a test acts between it and
  // the read that follows.
  if (lpData == nullptr) {
    return Hooks().sizeQuery(hKey, lpValueName, lpReserved, lpType, lpData,
                             lpcbData);
  }
  return QueryValueA(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
}

namespace emulated {

LONG QueryValueA(HKEY hKey, const char* lpValueName, DWORD* lpReserved,
                 DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  if ((lpData != nullptr && lpcbData == nullptr) || lpReserved != nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  WideText name(lpValueName);
  // String data must be read for its ANSI size to be known.
  const bool read = lpcbData != nullptr;
  Room<BYTE, 256> data;
  DWORD type = REG_NONE, size = 0;
  LONG status;
  for (;;) {
    size = data.size();
    status = utf16::RegQueryValueExW(hKey, name.get(), nullptr, &type,
                                     read ? data.data() : nullptr,
                                     read ? &size : nullptr);
    if (status != ERROR_MORE_DATA) break;
    data.Grow(size);
  }
  if (status == ERROR_SUCCESS) {
    const AnsiData ansi(type, {data.data(), read ? size : 0});
    if (lpData != nullptr) {
      if (ansi.Size() > *lpcbData) {
        status = ERROR_MORE_DATA;
      } else {
        status = ansi.CopyTo(lpData, *lpcbData);
      }
    }
    if (lpType != nullptr) *lpType = type;
    if (lpcbData != nullptr) *lpcbData = ansi.Size();
  } else if (status == ERROR_FILE_NOT_FOUND && lpData == nullptr &&
             lpcbData != nullptr) {
    *lpcbData = 0;
  }
  return status;
}

}  // namespace emulated

LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName,
                   DWORD* lpcchValueName, DWORD* lpReserved, DWORD* lpType,
                   BYTE* lpData, DWORD* lpcbData) {
  if ((lpData != nullptr && lpcbData == nullptr) || lpReserved != nullptr ||
      lpValueName == nullptr || lpcchValueName == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  // The whole name and data are read, whatever the caller's room: the wide
  // call answers 234 for a name too long for this buffer (its length left
  // as it was) and for data too long, both worth a retry with more room.
  Room<char16_t, 256> name;
  const bool read = lpcbData != nullptr;
  Room<BYTE, 256> data;
  DWORD nameLength = 0, type = REG_NONE, size = 0;
  LONG status;
  for (;;) {
    nameLength = name.size();
    size = data.size();
    status = utf16::RegEnumValueW(hKey, dwIndex, name.data(), &nameLength,
                                  nullptr, &type, read ? data.data() : nullptr,
                                  read ? &size : nullptr);
    if (status != ERROR_MORE_DATA) break;
    if (nameLength == name.size()) {
      name.Grow(Size(kMaxValueNameLength + 1));
    } else {
      data.Grow(size);
    }
  }
  if (status != ERROR_SUCCESS) return status;
  const AnsiData ansi(type, {data.data(), read ? size : 0});
  // Data that fits is written even when the name doesn't; the name only
  // when the data fits too. The sizes asked for are reported either way.
  const bool nameFits = nameLength < *lpcchValueName;
  const bool dataFits = lpData == nullptr || ansi.Size() <= *lpcbData;
  if (nameFits && dataFits) {
    if (const LONG failed = PutName({name.data(), nameLength}, lpValueName)) {
      return failed;
    }
    *lpcchValueName = nameLength;
  }
  if (lpData != nullptr && dataFits) {
    if (const LONG failed = ansi.CopyTo(lpData, *lpcbData)) return failed;
  }
  if (lpType != nullptr) *lpType = type;
  if (lpcbData != nullptr) *lpcbData = ansi.Size();
  return nameFits && dataFits ? ERROR_SUCCESS : ERROR_MORE_DATA;
}

LONG RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved,
                    DWORD dwType, const BYTE* lpData, DWORD cbData) {
  WideText name(lpValueName);
  if (!IsStringType(dwType) || lpData == nullptr) {
    return utf16::RegSetValueExW(hKey, name.get(), Reserved, dwType, lpData,
                                 cbData);
  }
  std::vector<BYTE> given(cbData);
  if (!ReadCaller(given.data(), lpData, cbData)) return ERROR_NOACCESS;
  const std::vector<BYTE> data = DataFromAnsi(given.data(), cbData);
  return utf16::RegSetValueExW(hKey, name.get(), Reserved, dwType, data.data(),
                               Size(data.size()));
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName,
                   DWORD* lpReserved, char* lpClass, DWORD* lpcchClass,
                   FILETIME* lpftLastWriteTime) {
  if (lpReserved != nullptr || lpName == nullptr || lpcchName == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  // Key names are at most 255 units: this room holds every one.
  std::array<char16_t, kMaxKeyNameLength + 1> name;
  DWORD nameLength = std::min<DWORD>(*lpcchName, Size(name.size()));
  const bool wantsClass = lpClass != nullptr && lpcchClass != nullptr;
  DWORD classLength =
      lpcchClass != nullptr ? std::min(*lpcchClass, kMaxClassRoom) : 0;
  std::u16string className(wantsClass ? classLength : 0, u'\0');
  const LONG status = utf16::RegEnumKeyExW(
      hKey, dwIndex, name.data(), &nameLength, nullptr,
      wantsClass ? className.data() : nullptr,
      lpcchClass != nullptr ? &classLength : nullptr, lpftLastWriteTime);
  if (status != ERROR_SUCCESS) return status;
  if (const LONG failed = PutName({name.data(), nameLength}, lpName)) {
    return failed;
  }
  *lpcchName = nameLength;
  if (lpcchClass != nullptr) {
    if (lpClass != nullptr) {
      if (const LONG failed =
              PutName({className.data(), classLength}, lpClass)) {
        return failed;
      }
    }
    *lpcchClass = classLength;
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
  // The whole class is read, whatever the caller's room, and cut to it here.
  std::u16string className(lpcchClass != nullptr ? 64 : 0, u'\0');
  DWORD classLength = 0;
  LONG status;
  for (;;) {
    classLength = Size(className.size());
    status = utf16::RegQueryInfoKeyW(
        hKey, lpcchClass != nullptr ? className.data() : nullptr,
        lpcchClass != nullptr ? &classLength : nullptr, nullptr, lpcSubKeys,
        lpcbMaxSubKeyLen, lpcbMaxClassLen, lpcValues, lpcbMaxValueNameLen,
        lpcbMaxValueLen, lpcbSecurityDescriptor, lpftLastWriteTime);
    if (status != ERROR_INSUFFICIENT_BUFFER) break;
    className.resize(classLength + 1);
  }
  if (status != ERROR_SUCCESS || lpcchClass == nullptr) return status;
  const std::string ansi = ToAnsi({className.data(), classLength});
  std::size_t length = ansi.size();
  if (lpClass != nullptr) {
    // A buffer without room for a single character asks for nothing. One
    // too small gets what fits, cut off by a NUL, and the length of that.
    const std::size_t room = *lpcchClass;
    if (room == 0) {
      length = 0;
    } else {
      if (length + 1 > room) {
        length = room - 1;
        status = ERROR_MORE_DATA;
      }
      const char nul = '\0';
      if (!WriteCaller(lpClass, ansi.data(), length) ||
          !WriteCaller(lpClass + length, &nul, 1)) {
        return ERROR_NOACCESS;
      }
    }
  }
  *lpcchClass = Size(length);
  return status;
}

LONG RegDeleteKeyA(HKEY hKey, const char* lpSubKey) {
  WideText path(lpSubKey);
  return utf16::RegDeleteKeyW(hKey, path.get());
}

LONG RegDeleteValueA(HKEY hKey, const char* lpValueName) {
  WideText name(lpValueName);
  return utf16::RegDeleteValueW(hKey, name.get());
}

LONG RegDeleteTreeA(HKEY hKey, const char* lpSubKey) {
  WideText path(lpSubKey);
  return utf16::RegDeleteTreeW(hKey, path.get());
}

}  // namespace corvane::platform
