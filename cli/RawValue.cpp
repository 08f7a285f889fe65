// Direct registry calls for what a Variant can't carry: a value's type and
// exact bytes. Everything else corvane-reg does goes through the model.
#include "cli/RawValue.h"

#include <algorithm>

namespace corvane::cli {

using namespace platform;

LONG ReadRawValue(HKEY hKey, const std::wstring& name, RawValue& value) {
  const std::string ansiName = WideToAnsi(name);
  DWORD type = 0;
  DWORD size = 0;
  LONG status =
      RegQueryValueExA(hKey, ansiName.c_str(), nullptr, &type, nullptr, &size);
  Bytes data;
  // The value may grow between the size query and the data query.
  while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
    data.resize(size);
    DWORD filled = size;
    status = RegQueryValueExA(hKey, ansiName.c_str(), nullptr, &type,
                              data.empty() ? nullptr : data.data(), &filled);
    if (status == ERROR_SUCCESS) {
      data.resize(std::min(filled, size));
      value.type = type;
      value.data = std::move(data);
      return status;
    }
    size = filled;
  }
  return status;
}

LONG RawValueNameAt(HKEY hKey, DWORD position, std::wstring& name) {
  // Value names can be 16,383 characters long; ANSI doubles that at most.
  std::string buffer(32768, '\0');
  DWORD length = static_cast<DWORD>(buffer.size());
  const LONG status = RegEnumValueA(hKey, position, buffer.data(), &length,
                                    nullptr, nullptr, nullptr, nullptr);
  if (status == ERROR_SUCCESS) {
    buffer.resize(length);
    name = AnsiToWide(buffer);
  }
  return status;
}

LONG WriteRawValue(HKEY hKey, const std::wstring& name, const RawValue& value) {
  const std::string ansiName = WideToAnsi(name);
  return RegSetValueExA(hKey, ansiName.c_str(), 0, value.type,
                        value.data.data(),
                        static_cast<DWORD>(value.data.size()));
}

}  // namespace corvane::cli
