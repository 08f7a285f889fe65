// Parsing the root and path of a key argument.
#include "cli/RegPath.h"

#include "base/RootKeys.h"

namespace corvane::cli {

std::wstring KeyPath::Display() const {
  return subKey.empty() ? rootName : rootName + L"\\" + subKey;
}

std::optional<KeyPath> ParseKeyPath(std::wstring_view text) {
  const std::size_t slash = text.find(L'\\');
  const base::RootKey* root = base::FindRootKey(text.substr(0, slash));
  // reg knows only the roots that have an abbreviation.
  if (root == nullptr || root->abbreviation.empty()) return std::nullopt;
  KeyPath path;
  path.root = root->value;
  path.rootName.assign(root->name.begin(), root->name.end());
  if (slash != std::wstring_view::npos) {
    // reg takes one backslash after the last name, and none after the root
    // alone: "HKCU\\" and "key\\\\" name no key.
    std::wstring_view rest = text.substr(slash + 1);
    if (rest.empty()) return std::nullopt;
    if (rest.back() == L'\\') rest.remove_suffix(1);
    if (rest.empty() || rest.back() == L'\\') return std::nullopt;
    path.subKey = rest;
  }
  return path;
}

}  // namespace corvane::cli
