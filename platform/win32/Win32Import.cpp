// Importing a regedit .reg file into Windows' registry. The .reg reader
// checks the whole file first (syntax, root names, values outside a key), so
// that a file with a mistake anywhere changes nothing; then a second reading
// applies it call by call through the wide registry functions, which take
// names and data exactly as the file holds them, whatever the ANSI code page.
// Windows has no transaction to offer here: a call the registry refuses ends
// the import with what came before it applied.
//
// This header must come before <windows.h>: see its note on macros.
#include "base/RootKeys.h"
#include "base/Unicode.h"
#include "platform/Platform.h"
#include "regfile/RegFile.h"
// clang-format off
#include <windows.h>
// clang-format on

#include <string>
#include <string_view>
#include <vector>

namespace corvane::platform {
namespace {

using base::Utf16ToUtf8;
using regfile::RegSink;

// Inside this namespace the HKEY_* macros cast to our 32-bit HKEY; ToSystem
// makes the system's handle of it, as the other forwarding functions do.
::HKEY ToSystem(HKEY key) {
  return reinterpret_cast<::HKEY>(
      static_cast<INT_PTR>(static_cast<std::int32_t>(key)));
}

std::wstring Wide(std::u16string_view text) {
  return std::wstring(text.begin(), text.end());
}

// The system's text for `status`, without its closing line break.
std::string SystemMessage(LONG status) {
  wchar_t buffer[512] = {};
  const ::DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<::DWORD>(status), 0, buffer, 512, nullptr);
  std::u16string text(buffer, buffer + length);
  while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' ||
                           text.back() == u' ')) {
    text.pop_back();
  }
  if (text.empty()) return "error " + std::to_string(status);
  return Utf16ToUtf8(text);
}

// A key line's path: its root and the rest, without empty components (the
// registry would take a leading backslash in the rest as a bad path).
struct KeyPath {
  const base::RootKey* root = nullptr;
  std::wstring subKey;
};

KeyPath Split(std::u16string_view path) {
  KeyPath result;
  std::vector<std::u16string_view> parts;
  for (std::size_t pos = 0; pos < path.size();) {
    std::size_t end = path.find(u'\\', pos);
    if (end == std::u16string_view::npos) end = path.size();
    if (end > pos) parts.push_back(path.substr(pos, end - pos));
    pos = end + 1;
  }
  if (parts.empty()) return result;
  result.root = base::FindRootKey(parts.front());
  for (std::size_t i = 1; i < parts.size(); ++i) {
    if (i > 1) result.subKey += L'\\';
    result.subKey += Wide(parts[i]);
  }
  return result;
}

// The second reading: each line becomes its registry call. A refusal is
// reported as "<key path>: <system message>" and ends the reading.
class ApplySink : public RegSink {
 public:
  // `view`: the registry view the keys are written in, 0 for the program's.
  explicit ApplySink(::REGSAM view) : view_(view) {}
  ApplySink(const ApplySink&) = delete;
  ApplySink& operator=(const ApplySink&) = delete;
  ~ApplySink() override { Release(); }

  std::string OnKey(std::u16string_view path) override {
    Release();
    path_ = Utf16ToUtf8(path);
    const KeyPath key = Split(path);
    if (key.subKey.empty()) {
      current_ = ToSystem(key.root->value);
      return {};
    }
    ::HKEY opened = nullptr;
    const LONG status =
        ::RegCreateKeyExW(ToSystem(key.root->value), key.subKey.c_str(), 0,
                          nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_SET_VALUE | view_, nullptr, &opened, nullptr);
    if (status != ERROR_SUCCESS) return Refused(status);
    current_ = opened;
    owned_ = true;
    return {};
  }

  std::string OnDeleteKey(std::u16string_view path) override {
    Release();
    path_ = Utf16ToUtf8(path);
    const KeyPath key = Split(path);
    // The tree call empties the key (and, on some systems, removes it); the
    // key call makes sure it is gone. A key that isn't there is what the line
    // asks for already.
    const ::HKEY root = ToSystem(key.root->value);
    LONG status = ERROR_SUCCESS;
    if (view_ == 0) {
      status = ::RegDeleteTreeW(root, key.subKey.c_str());
    } else {
      // RegDeleteTree has no view flag: it empties a handle of the view.
      ::HKEY doomed = nullptr;
      status = ::RegOpenKeyExW(root, key.subKey.c_str(), 0,
                               KEY_ALL_ACCESS | view_, &doomed);
      if (status == ERROR_SUCCESS) {
        status = ::RegDeleteTreeW(doomed, nullptr);
        ::RegCloseKey(doomed);
      }
    }
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
      status = ::RegDeleteKeyExW(root, key.subKey.c_str(), view_, 0);
    }
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND
               ? std::string()
               : Refused(status);
  }

  std::string OnValue(std::u16string_view name, std::uint32_t type,
                      std::span<const std::uint8_t> data) override {
    const std::wstring valueName = Wide(name);
    const LONG status = ::RegSetValueExW(current_, valueName.c_str(), 0, type,
                                         data.empty() ? nullptr : data.data(),
                                         static_cast<::DWORD>(data.size()));
    return status == ERROR_SUCCESS ? std::string() : Refused(status);
  }

  std::string OnDeleteValue(std::u16string_view name) override {
    const std::wstring valueName = Wide(name);
    const LONG status = ::RegDeleteValueW(current_, valueName.c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND
               ? std::string()
               : Refused(status);
  }

  // Why the import stopped, when the registry refused a call; the reader's
  // own message (with file name and line) is for the file's mistakes.
  const std::string& Refusal() const { return refusal_; }

 private:
  std::string Refused(LONG status) {
    refusal_ = path_ + ": " + SystemMessage(status);
    return refusal_;
  }

  void Release() {
    if (owned_) ::RegCloseKey(current_);
    current_ = nullptr;
    owned_ = false;
  }

  ::REGSAM view_ = 0;
  ::HKEY current_ = nullptr;
  bool owned_ = false;
  std::string path_;
  std::string refusal_;
};

}  // namespace

std::string ImportRegFile(std::span<const std::uint8_t> bytes,
                          std::string_view fileName, REGSAM view) {
  if (std::string problem = regfile::CheckRegFile(bytes, fileName);
      !problem.empty()) {
    return problem;
  }
  ApplySink apply(static_cast<::REGSAM>(view));
  const std::string problem = regfile::ReadRegFile(bytes, fileName, apply);
  if (!apply.Refusal().empty()) return apply.Refusal();
  return problem;
}

}  // namespace corvane::platform
