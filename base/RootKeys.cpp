// Looking root keys up by name and by value.
#include "base/RootKeys.h"

namespace corvane::base {
namespace {

// Root names are ASCII, so nothing beyond ASCII can match one: comparing
// with full registry folding would give the same answers.
template <typename C>
bool SameName(std::basic_string_view<C> text, std::string_view name) {
  if (text.size() != name.size() || name.empty()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    auto c = static_cast<std::uint32_t>(text[i]);
    if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
    if (c != static_cast<std::uint32_t>(name[i])) return false;
  }
  return true;
}

template <typename C>
const RootKey* Find(std::basic_string_view<C> text) {
  for (const RootKey& root : kRootKeys) {
    if (SameName(text, root.name) || SameName(text, root.abbreviation)) {
      return &root;
    }
  }
  return nullptr;
}

}  // namespace

const RootKey* FindRootKey(std::u16string_view name) { return Find(name); }
const RootKey* FindRootKey(std::wstring_view name) { return Find(name); }

const RootKey* RootKeyOf(std::uint32_t value) {
  const std::uint32_t first = kRootKeys[0].value;
  if (value < first || value - first >= std::size(kRootKeys)) return nullptr;
  return &kRootKeys[value - first];
}

}  // namespace corvane::base
