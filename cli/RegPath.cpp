// Parsing the root and path of a key argument.
#include "cli/RegPath.h"

#include <array>

#include "cli/TextCodec.h"

namespace corvane::cli {

namespace {

struct RootName {
  const wchar_t* shortName;
  const wchar_t* longName;
  platform::HKEY handle;
};

constexpr std::array<RootName, 5> kRoots = {{
    {L"HKLM", L"HKEY_LOCAL_MACHINE", platform::HKEY_LOCAL_MACHINE},
    {L"HKCU", L"HKEY_CURRENT_USER", platform::HKEY_CURRENT_USER},
    {L"HKCR", L"HKEY_CLASSES_ROOT", platform::HKEY_CLASSES_ROOT},
    {L"HKU", L"HKEY_USERS", platform::HKEY_USERS},
    {L"HKCC", L"HKEY_CURRENT_CONFIG", platform::HKEY_CURRENT_CONFIG},
}};

}  // namespace

std::wstring KeyPath::Display() const {
  return subKey.empty() ? rootName : rootName + L"\\" + subKey;
}

std::optional<KeyPath> ParseKeyPath(std::wstring_view text) {
  const std::size_t slash = text.find(L'\\');
  const std::wstring root = AsciiUpper(text.substr(0, slash));
  for (const RootName& candidate : kRoots) {
    if (root != candidate.shortName && root != candidate.longName) continue;
    KeyPath path;
    path.root = candidate.handle;
    path.rootName = candidate.longName;
    if (slash != std::wstring_view::npos) {
      std::wstring_view rest = text.substr(slash + 1);
      while (!rest.empty() && rest.back() == L'\\') rest.remove_suffix(1);
      path.subKey = rest;
    }
    return path;
  }
  return std::nullopt;
}

}  // namespace corvane::cli
