// MRegTool: the value codec (registry data <-> Variant values) and the
// key-tree routines. Registry failures come back as statuses, and so does a
// name or text the code page can't carry (1113): the routine stops there
// rather than go on with an empty or partial name. The only errors raised
// here are the codec's own: 5 (a string value without even room for its
// NUL), 6 (a size outside 32 bits) and 9 (a byte array that doesn't start
// at index 0 or has more than one dimension), and a failed conversion in
// ExpandEnvStrings, which has no status to return.
#include "registry/MRegTool.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "errors/MErrors.h"
#include "errors/RuntimeError.h"
#include "registry/MBytes.h"
#include "registry/MUtility.h"

namespace corvane::MRegTool {

using platform::BYTE;
using platform::DWORD;
using platform::LONG;

// The 32-bit registry types are read by moving their bytes straight into an
// integer.
static_assert(std::endian::native == std::endian::little);

namespace {

// Sizes and capacities travel as 32-bit signed numbers; anything beyond that
// is an overflow rather than a silently wrapped size.
DWORD CheckedSize(std::int64_t n) {
  if (n < 0 || n > std::numeric_limits<std::int32_t>::max()) {
    RaiseRuntimeError(kOverflow);
  }
  return static_cast<DWORD>(n);
}

// The decoders below share one shape: `size` is the size the value was
// announced with, `query(data, &capacity)` the data query of the caller's
// registry function. Its status is the result, and `vValue` is set from the
// buffer whatever that status is.

// REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ: text through the code page, with
// the environment expanded for REG_EXPAND_SZ.
template <typename DataQuery>
LONG DecodeText(DWORD type, DWORD size, DataQuery query, Variant& vValue) {
  if (size == 0) RaiseRuntimeError(kInvalidProcedureCall);
  std::string buffer(size, '\0');
  DWORD filled = size;
  const LONG status = query(reinterpret_cast<BYTE*>(buffer.data()), &filled);
  // The size query may announce more than the data query delivers (the
  // value shrank in between, or the system sized the text before
  // converting it to ANSI): the undelivered tail is not part of the text.
  // Of what was delivered, only a final NUL is the terminator; a text
  // stored without one keeps its last character.
  std::size_t used =
      status == platform::ERROR_SUCCESS ? std::min(filled, size) : size;
  if (used > 0 && buffer[used - 1] == '\0') --used;
  std::wstring text;
  if (const LONG failed = platform::AnsiToWide(
          std::string_view(buffer).substr(0, used), text)) {
    return failed;
  }
  if (type == platform::REG_EXPAND_SZ) text = ExpandEnvStrings(text);
  vValue = Variant(std::move(text));
  return status;
}

// REG_DWORD and REG_DWORD_BIG_ENDIAN: a Long.
template <typename DataQuery>
LONG DecodeLong(DWORD type, DWORD size, DataQuery query, Variant& vValue) {
  // A 32-bit value stored with another size is read whole into a buffer
  // with room for it, so the registry never writes past the field; a
  // short one fills the low bytes, a long one gives its first four.
  std::vector<BYTE> buffer(std::max<DWORD>(size, 4), 0);
  DWORD capacity = size;
  const LONG status = query(buffer.data(), &capacity);
  std::int32_t field = 0;
  MBytes::MoveBytes(&field, buffer.data(), sizeof field);
  if (type == platform::REG_DWORD_BIG_ENDIAN) field = SwapLong(field);
  vValue = Variant(field);
  return status;
}

// Every other type: its bytes as a byte array.
template <typename DataQuery>
LONG DecodeBytes(DWORD size, DataQuery query, Variant& vValue) {
  std::vector<std::uint8_t> bytes(size, 0);
  DWORD filled = size;
  const LONG status = query(bytes.empty() ? nullptr : bytes.data(), &filled);
  if (status == platform::ERROR_SUCCESS && filled < size) bytes.resize(filled);
  vValue = Variant::ByteArray(std::move(bytes));
  return status;
}

// Decodes a value of registry type `type` into `vValue`.
template <typename DataQuery>
LONG Decode(DWORD type, DWORD size, DataQuery query, Variant& vValue) {
  CheckedSize(size);
  switch (type) {
    case platform::REG_SZ:
    case platform::REG_EXPAND_SZ:
    case platform::REG_MULTI_SZ:
      return DecodeText(type, size, query, vValue);
    case platform::REG_DWORD:
    case platform::REG_DWORD_BIG_ENDIAN:
      return DecodeLong(type, size, query, vValue);
    default:
      return DecodeBytes(size, query, vValue);
  }
}

// REG_EXPAND_SZ is chosen only when a "%" is followed, at least two
// positions on, by another: "%%" alone or a lone "%" are plain text.
bool NeedsExpansion(const std::wstring& text) {
  const std::size_t first = text.find(L'%');
  return first != std::wstring::npos &&
         text.find(L'%', first + 2) != std::wstring::npos;
}

}  // namespace

std::int32_t ReadValue(HKEY hKey, std::wstring& sName, Variant& vValue) {
  std::string name;
  if (const LONG failed = platform::WideToAnsi(sName, name)) return failed;
  DWORD type = 0;
  DWORD size = 0;
  const LONG status = platform::RegQueryValueExA(hKey, name.c_str(), nullptr,
                                                 &type, nullptr, &size);
  if (const LONG failed = platform::AnsiToWide(name, sName)) return failed;
  // A value that can't even be sized reads as "nothing there": a missing
  // default value is how callers learn a key has none.
  if (status != platform::ERROR_SUCCESS &&
      status != platform::ERROR_MORE_DATA) {
    return platform::ERROR_SUCCESS;
  }
  return Decode(
      type, size,
      [&](BYTE* data, DWORD* capacity) {
        DWORD dataType = 0;
        const LONG result = platform::RegQueryValueExA(
            hKey, name.c_str(), nullptr, &dataType, data, capacity);
        const LONG failed = platform::AnsiToWide(name, sName);
        return failed ? failed : result;
      },
      vValue);
}

std::int32_t ReadValueAt(HKEY hKey, const std::int32_t& iIndex,
                         std::wstring& sName, Variant& vValue) {
  vValue = Variant();
  const DWORD position = static_cast<DWORD>(iIndex);
  std::string buffer;
  DWORD capacity = 0;
  DWORD type = 0;
  DWORD size = 0;
  LONG status;
  do {
    // Each pass offers 256 characters more than the last call left in the
    // capacity; value names may be far longer than key names.
    capacity = CheckedSize(std::int64_t{capacity} + 256);
    buffer.assign(capacity, '\0');
    type = 0;
    size = 0;
    status = platform::RegEnumValueA(hKey, position, buffer.data(), &capacity,
                                     nullptr, &type, nullptr, &size);
    if (const LONG failed = platform::AnsiToWide(buffer, sName)) return failed;
  } while (status == platform::ERROR_MORE_DATA);
  if (status != platform::ERROR_SUCCESS) return status;

  // The length is counted in ANSI bytes, so the cut happens before the
  // conversion back.
  const DWORD length = std::min<DWORD>(capacity, buffer.size());
  buffer.resize(length);
  if (const LONG failed = platform::AnsiToWide(buffer, sName)) return failed;
  buffer.push_back('\0');
  return Decode(
      type, size,
      [&](BYTE* data, DWORD* dataCapacity) {
        DWORD nameCapacity = length + 1;
        DWORD dataType = 0;
        return platform::RegEnumValueA(hKey, position, buffer.data(),
                                       &nameCapacity, nullptr, &dataType, data,
                                       dataCapacity);
      },
      vValue);
}

std::int32_t WriteValue(const Variant& vValue, HKEY hKey, std::wstring& sName) {
  std::string name;
  if (const LONG failed = platform::WideToAnsi(sName, name)) return failed;
  LONG status;
  switch (vValue.Kind()) {
    case VT_I2:
    case VT_I4: {
      const std::int32_t field = vValue.ToLong();
      status = platform::RegSetValueExA(
          hKey, name.c_str(), 0, platform::REG_DWORD,
          reinterpret_cast<const BYTE*>(&field), sizeof field);
      break;
    }
    case VT_BSTR: {
      const std::wstring& text = vValue.AsString();
      std::string data;
      if (const LONG failed = platform::WideToAnsi(text, data)) return failed;
      const DWORD size = CheckedSize(std::int64_t{1} + data.size());
      status = platform::RegSetValueExA(
          hKey, name.c_str(), 0,
          NeedsExpansion(text) ? platform::REG_EXPAND_SZ : platform::REG_SZ,
          reinterpret_cast<const BYTE*>(data.c_str()), size);
      break;
    }
    case VT_ARRAY | VT_UI1: {
      if (vValue.Dimensions() != 1) RaiseRuntimeError(kSubscriptOutOfRange);
      const std::int32_t lower = vValue.LBound();
      const std::int32_t upper = vValue.UBound();
      if (lower > 0 || upper < 0) RaiseRuntimeError(kSubscriptOutOfRange);
      const DWORD size = CheckedSize(std::int64_t{upper} + 1);
      const BYTE* first = vValue.Bytes().data() - std::int64_t{lower};
      status = platform::RegSetValueExA(hKey, name.c_str(), 0,
                                        platform::REG_BINARY, first, size);
      break;
    }
    default:
      return platform::ERROR_INVALID_DATA;
  }
  const LONG failed = platform::AnsiToWide(name, sName);
  return failed ? failed : status;
}

std::int32_t SwapLong(std::int32_t n) {
  std::int32_t result = 0;
  const auto* from = reinterpret_cast<const unsigned char*>(&n);
  auto* to = reinterpret_cast<unsigned char*>(&result);
  for (int k = 0; k < 4; ++k) MBytes::MoveBytes(to + k, from + (3 - k), 1);
  return result;
}

std::wstring CutAtNul(const std::wstring& sText) {
  const int length = platform::lstrlenW(sText.c_str());
  MErrors::RecordLastError();
  return sText.substr(0, static_cast<std::size_t>(std::max(length, 0)));
}

std::wstring ExpandEnvStrings(std::wstring& sText) {
  std::string source;
  MErrors::ApiRaiseIf(platform::WideToAnsi(sText, source));
  char none[1] = {'\0'};
  DWORD needed = platform::ExpandEnvironmentStringsA(source.c_str(), none, 0);
  MErrors::RecordLastError();
  MErrors::ApiRaiseIf(platform::AnsiToWide(source, sText));
  std::string buffer;
  // The environment may grow between the sizing call and the expansion; a
  // result cut short would lose text, so the buffer follows what the call
  // says it needs.
  while (needed > buffer.size()) {
    buffer.assign(CheckedSize(needed), '\0');
    needed = platform::ExpandEnvironmentStringsA(
        source.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    MErrors::RecordLastError();
    MErrors::ApiRaiseIf(platform::AnsiToWide(source, sText));
  }
  std::wstring expanded;
  MErrors::ApiRaiseIf(platform::AnsiToWide(buffer, expanded));
  return CutAtNul(expanded);
}

std::int32_t detail::EnumKeyNameWith(EnumKeyFunction enumKey, HKEY hKey,
                                     const std::int32_t& iIndex,
                                     std::wstring& sName) {
  // Every real name fits the first room, which needs no allocation.
  char room[256] = {};
  std::string grown;
  char* buffer = room;
  DWORD bufferSize = sizeof room;
  LONG status;
  DWORD length;
  for (;;) {
    length = bufferSize;
    DWORD classLength = 0;
    platform::FILETIME written{};
    status = enumKey(hKey, static_cast<DWORD>(iIndex), buffer, &length, nullptr,
                     nullptr, &classLength, &written);
    if (status != platform::ERROR_MORE_DATA) break;
    bufferSize = CheckedSize(std::int64_t{length} + 256);
    grown.assign(bufferSize, '\0');
    buffer = grown.data();
  }
  // Only the name is converted, not the whole buffer: a walk or a tree
  // deletion enumerates once per key, and converting 256 characters of
  // padding each time was most of its cost. A failed call leaves the name
  // as the buffer it wrote nothing into.
  const std::string_view name =
      std::string_view(buffer, status == platform::ERROR_SUCCESS
                                   ? std::min<DWORD>(length, bufferSize)
                                   : bufferSize);
  const LONG failed = platform::AnsiToWide(name, sName);
  return failed ? failed : status;
}

std::int32_t EnumKeyName(HKEY hKey, const std::int32_t& iIndex,
                         std::wstring& sName) {
  return detail::EnumKeyNameWith(&platform::RegEnumKeyExA, hKey, iIndex, sName);
}

std::int32_t RemoveKey(HKEY hKey, const std::wstring& sName) {
  std::string name;
  if (const LONG failed = platform::WideToAnsi(sName, name)) return failed;
  if (!MUtility::IsWinNT()) {
    // The 95 family's delete takes the whole subtree, so the key must be
    // seen to be childless first; one that can't be looked into is left
    // alone rather than risked.
    HKEY key = 0;
    LONG status = platform::RegOpenKeyExA(hKey, name.c_str(), 0,
                                          platform::KEY_QUERY_VALUE, &key);
    if (status != platform::ERROR_SUCCESS) return status;
    DWORD subKeys = 0;
    status = platform::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr,
                                        &subKeys, nullptr, nullptr, nullptr,
                                        nullptr, nullptr, nullptr, nullptr);
    platform::RegCloseKey(key);
    if (status != platform::ERROR_SUCCESS) return status;
    if (subKeys != 0) return platform::ERROR_ACCESS_DENIED;
  }
  return platform::RegDeleteKeyA(hKey, name.c_str());
}

std::int32_t RemoveKeyTree(HKEY hKey, const std::wstring& sName) {
  std::string name;
  if (const LONG failed = platform::WideToAnsi(sName, name)) return failed;
  // On the 95 family, and for a childless key, this is all there is to do.
  if (platform::RegDeleteKeyA(hKey, name.c_str()) == platform::ERROR_SUCCESS) {
    return platform::ERROR_SUCCESS;
  }
  HKEY key = 0;
  LONG status = platform::RegOpenKeyExA(hKey, name.c_str(), 0,
                                        platform::KEY_ALL_ACCESS, &key);
  // Each child deleted makes the next one the first, so position 0 is
  // always the one to take.
  while (status == platform::ERROR_SUCCESS) {
    std::string child(260, '\0');
    DWORD length = 260;
    DWORD classLength = 0;
    platform::FILETIME written{};
    status = platform::RegEnumKeyExA(key, 0, child.data(), &length, nullptr,
                                     nullptr, &classLength, &written);
    // Converted up to the first NUL only, as CutAtNul would cut it anyway.
    std::wstring childName;
    if (status == platform::ERROR_SUCCESS) {
      status = platform::AnsiToWide(std::string_view(child.c_str()), childName);
    }
    if (status == platform::ERROR_SUCCESS) {
      status = RemoveKeyTree(key, CutAtNul(childName));
    }
  }
  if (key != 0) platform::RegCloseKey(key);
  // The status is that of the last delete: why the key is still there, if
  // it is.
  return platform::RegDeleteKeyA(hKey, name.c_str());
}

}  // namespace corvane::MRegTool
