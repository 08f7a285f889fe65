// An open registry key as corvane-reg sees it, reached through the wide
// registry functions only: names and data come and go exactly as the
// registry holds them, whatever the code page. The object model's walks go
// through the ANSI functions and would turn every character outside the code
// page into "?", so corvane-reg keeps this small layer of its own.
#pragma once

#include <string>
#include <vector>

#include "cli/RegData.h"
#include "platform/Platform.h"

namespace corvane::cli {

// A value as the registry stores it: string types in UTF-16LE with whatever
// terminators they have (unpaired surrogates too), other types as their
// bytes. Where wchar_t is 32 bits the wide functions exchange strings in
// 32-bit units; WideKey converts at the call, so nothing above it sees them.
struct RawValue {
  platform::DWORD type = platform::REG_NONE;
  Bytes data;
};

struct NamedValue {
  std::wstring name;
  RawValue value;
};

// Owns its handle and closes it; a predefined root is never closed. Every
// operation answers the registry's status.
class WideKey {
 public:
  WideKey() = default;
  ~WideKey();
  WideKey(WideKey&& other) noexcept;
  WideKey& operator=(WideKey&& other) noexcept;
  WideKey(const WideKey&) = delete;
  WideKey& operator=(const WideKey&) = delete;

  // `subKey` below `parent`; "" gives `parent` itself.
  [[nodiscard]] static platform::LONG Open(platform::HKEY parent,
                                           const std::wstring& subKey,
                                           platform::REGSAM access,
                                           WideKey& key);
  // The same, creating every missing level.
  [[nodiscard]] static platform::LONG Create(platform::HKEY parent,
                                             const std::wstring& subKey,
                                             platform::REGSAM access,
                                             WideKey& key);

  platform::HKEY Handle() const { return hKey_; }

  // The names of the subkeys, in the registry's order.
  [[nodiscard]] platform::LONG SubKeyNames(
      std::vector<std::wstring>& names) const;
  // Every value with its data, in the registry's order.
  [[nodiscard]] platform::LONG Values(std::vector<NamedValue>& values) const;
  // The value `name` ("" for the default value); 2 when there is none.
  [[nodiscard]] platform::LONG Read(const std::wstring& name,
                                    RawValue& value) const;
  [[nodiscard]] platform::LONG Write(const std::wstring& name,
                                     const RawValue& value) const;
  [[nodiscard]] platform::LONG DeleteValue(const std::wstring& name) const;

 private:
  void Close();

  platform::HKEY hKey_ = 0;
};

}  // namespace corvane::cli
