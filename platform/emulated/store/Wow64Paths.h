// The registry's two views on 64-bit Windows: which keys the 32-bit view
// finds under a Wow6432Node key instead (redirected) and which both views
// share, as Microsoft's "Registry Keys Affected by WOW64" lists them for
// Windows 7 and later, and the link SOFTWARE\Wow6432Node\Classes. Paths
// here are names below a root key, matched case-insensitively.
#pragma once

#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::platform::emulated::wow64 {

// The key a redirected key's 32-bit copy lives under.
inline constexpr char16_t kNode[] = u"Wow6432Node";

// Whether `name` is kNode.
bool IsNode(std::u16string_view name);

// Where the path `names` below the root key `root` (a seed id) leads in the
// 32-bit view (`view32`) or the 64-bit one: a redirected key of the 32-bit
// view moves below its Wow6432Node, and SOFTWARE\Wow6432Node\Classes leads
// to SOFTWARE\Classes\Wow6432Node in both. A path that already names a
// Wow6432Node copy is taken for the key it copies first, so that a handle
// of the 32-bit view opens relative paths in the same view. A path neither
// view changes comes back as it was.
void Redirect(std::int64_t root, std::vector<std::u16string>& names,
              bool view32);

// The same for a path below the Classes keys (HKEY_CLASSES_ROOT's merged
// view): only CLSID, DirectShow, Interface, Media Type and MediaFoundation
// move, to Classes\Wow6432Node.
void RedirectClasses(std::vector<std::u16string>& names, bool view32);

// The names of the shared keys directly below the key `below` names below
// HKEY_LOCAL_MACHINE\SOFTWARE (empty: SOFTWARE itself): what a listing of
// that key in the 32-bit view shows beside the Wow6432Node copy's subkeys.
std::vector<std::u16string_view> SharedBelow(
    const std::vector<std::u16string>& below);

// Whether the text of `path` may name a Wow6432Node key: a quick test,
// allocating nothing, before a path is split into names to be redirected.
inline bool MayNameNode(std::u16string_view path) {
  return path.size() >= std::size(kNode) - 1 &&
         path.find(u"6432") != std::u16string_view::npos;
}

// Whether the 64-bit view may change a path whose relative part is `names`
// below a key named `keyName`: only through the link, so only where a
// Wow6432Node key is on the way.
bool MayLink(std::u16string_view keyName,
             const std::vector<std::u16string>& names);

// The keys a store holds for the views from its creation on, parents
// first: each as its parent's path below HKEY_LOCAL_MACHINE and its name.
struct ViewKey {
  std::u16string_view parent[3];
  std::u16string_view name;
};
inline constexpr ViewKey kViewKeys[] = {
    {{u"SOFTWARE"}, kNode},
    {{u"SOFTWARE", u"Classes"}, kNode},
    // Windows' link to SOFTWARE\Classes\Wow6432Node: Redirect follows it,
    // the key itself is there to be listed.
    {{u"SOFTWARE", kNode}, u"Classes"},
};

}  // namespace corvane::platform::emulated::wow64
