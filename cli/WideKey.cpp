// corvane-reg's registry access through the wide functions, and the one
// place where string data changes form between the registry's UTF-16 and the
// wide functions' wchar_t units.
#include "cli/WideKey.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "base/Unicode.h"

namespace corvane::cli {

using namespace platform;

namespace {

// Value names are at most 16,383 characters, key names 255: buffers of that
// size (and the terminator) never come back too small, whatever the
// registry's own size hints say.
constexpr DWORD kValueNameCapacity = 16384;
constexpr DWORD kKeyNameCapacity = 256;
// Past this a value that keeps answering "more data" is given up on.
constexpr std::size_t kLargestData = std::size_t{1} << 31;

bool IsPredefined(HKEY hKey) {
  return hKey >= HKEY_CLASSES_ROOT && hKey <= HKEY_DYN_DATA;
}

// Where wchar_t is UTF-16 the wide functions take and give the stored bytes
// as they are, an odd last byte included. Where it is 32 bits, each UTF-16
// pair becomes one unit and an unpaired surrogate stays a unit of its own,
// so the way back gives the same UTF-16.
Bytes ToCallForm(DWORD type, const Bytes& data) {
  if (sizeof(wchar_t) == 2 || !IsStringType(type)) return data;
  std::u16string units(data.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  const std::wstring wide = base::Utf16ToWide(units);
  Bytes out(wide.size() * sizeof(wchar_t));
  // An empty vector may have no storage at all: nothing to copy then.
  if (!out.empty()) std::memcpy(out.data(), wide.data(), out.size());
  return out;
}

Bytes FromCallForm(DWORD type, Bytes data) {
  if (sizeof(wchar_t) == 2 || !IsStringType(type)) return data;
  std::wstring wide(data.size() / sizeof(wchar_t), L'\0');
  if (!wide.empty()) {
    std::memcpy(wide.data(), data.data(), wide.size() * sizeof(wchar_t));
  }
  Bytes out;
  out.reserve(wide.size() * 2);
  for (char16_t unit : base::WideToUtf16(wide)) {
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return out;
}

}  // namespace

WideKey::~WideKey() { Close(); }

WideKey::WideKey(WideKey&& other) noexcept
    : hKey_(std::exchange(other.hKey_, 0)) {}

WideKey& WideKey::operator=(WideKey&& other) noexcept {
  if (this != &other) {
    Close();
    hKey_ = std::exchange(other.hKey_, 0);
  }
  return *this;
}

void WideKey::Close() {
  // A failed close has nobody to tell.
  if (hKey_ != 0 && !IsPredefined(hKey_)) RegCloseKey(hKey_);
  hKey_ = 0;
}

LONG WideKey::Open(HKEY parent, const std::wstring& subKey, REGSAM access,
                   WideKey& key) {
  HKEY opened = 0;
  const LONG status = RegOpenKeyExW(parent, subKey.c_str(), 0, access, &opened);
  if (status == ERROR_SUCCESS) {
    key.Close();
    key.hKey_ = opened;
  }
  return status;
}

LONG WideKey::Create(HKEY parent, const std::wstring& subKey, REGSAM access,
                     WideKey& key) {
  HKEY opened = 0;
  const LONG status = RegCreateKeyExW(parent, subKey.c_str(), 0, nullptr,
                                      REG_OPTION_NON_VOLATILE, access, nullptr,
                                      &opened, nullptr);
  if (status == ERROR_SUCCESS) {
    key.Close();
    key.hKey_ = opened;
  }
  return status;
}

LONG WideKey::SubKeyNames(std::vector<std::wstring>& names) const {
  names.clear();
  std::vector<wchar_t> buffer(kKeyNameCapacity);
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(buffer.size());
    const LONG status = RegEnumKeyExW(hKey_, index, buffer.data(), &length,
                                      nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    names.emplace_back(buffer.data(),
                       std::min<std::size_t>(length, buffer.size()));
  }
}

LONG WideKey::Values(std::vector<NamedValue>& values) const {
  values.clear();
  DWORD maxData = 0;
  const LONG info =
      RegQueryInfoKeyW(hKey_, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, &maxData, nullptr, nullptr);
  if (info != ERROR_SUCCESS) return info;
  std::vector<wchar_t> name(kValueNameCapacity);
  // Never empty: without a buffer the call reports the size and no data.
  Bytes data(std::max<DWORD>(maxData, 1));
  for (DWORD index = 0;;) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD size = static_cast<DWORD>(data.size());
    DWORD type = REG_NONE;
    const LONG status = RegEnumValueW(hKey_, index, name.data(), &nameLength,
                                      nullptr, &type, data.data(), &size);
    if (status == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (status == ERROR_MORE_DATA && data.size() < kLargestData) {
      // The value grew since the key was asked about its largest one.
      data.resize(std::max<std::size_t>(size, data.size() * 2));
      continue;
    }
    if (status != ERROR_SUCCESS) return status;
    NamedValue value;
    value.name.assign(name.data(),
                      std::min<std::size_t>(nameLength, name.size()));
    value.value.type = type;
    value.value.data = FromCallForm(
        type, Bytes(data.begin(),
                    data.begin() + std::min<std::size_t>(size, data.size())));
    values.push_back(std::move(value));
    ++index;
  }
}

LONG WideKey::Read(const std::wstring& name, RawValue& value) const {
  DWORD type = REG_NONE;
  DWORD size = 0;
  LONG status =
      RegQueryValueExW(hKey_, name.c_str(), nullptr, &type, nullptr, &size);
  // The value may grow between the size query and the data query.
  while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
    Bytes data(std::max<DWORD>(size, 1));
    DWORD filled = static_cast<DWORD>(data.size());
    status = RegQueryValueExW(hKey_, name.c_str(), nullptr, &type, data.data(),
                              &filled);
    if (status == ERROR_SUCCESS) {
      data.resize(std::min<std::size_t>(filled, data.size()));
      value.type = type;
      value.data = FromCallForm(type, std::move(data));
      return status;
    }
    size = std::max<DWORD>(filled, static_cast<DWORD>(data.size()) * 2);
  }
  return status;
}

LONG WideKey::Write(const std::wstring& name, const RawValue& value) const {
  const Bytes data = ToCallForm(value.type, value.data);
  return RegSetValueExW(hKey_, name.c_str(), 0, value.type,
                        data.empty() ? nullptr : data.data(),
                        static_cast<DWORD>(data.size()));
}

LONG WideKey::DeleteValue(const std::wstring& name) const {
  return RegDeleteValueW(hKey_, name.c_str());
}

}  // namespace corvane::cli
