// The registry's two views: redirected and shared keys (Wow64Paths.h).
#include "platform/emulated/store/Wow64Paths.h"

#include <algorithm>
#include <initializer_list>

#include "base/RegistryNames.h"
#include "platform/emulated/store/Seed.h"

namespace corvane::platform::emulated::wow64 {
namespace {

bool Same(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && base::CompareNames(a, b) == 0;
}

// The keys below HKEY_LOCAL_MACHINE\SOFTWARE that both views share, with
// everything below them. SOFTWARE\Classes is shared too, but has keys of
// its own that move (kRedirectedClasses).
constexpr std::u16string_view kShared[] = {
    u"Clients",
    u"Microsoft\\COM3",
    u"Microsoft\\Cryptography\\Calais\\Current",
    u"Microsoft\\Cryptography\\Calais\\Readers",
    u"Microsoft\\Cryptography\\Services",
    u"Microsoft\\CTF\\SystemShared",
    u"Microsoft\\CTF\\TIP",
    u"Microsoft\\DFS",
    u"Microsoft\\Driver Signing",
    u"Microsoft\\EnterpriseCertificates",
    u"Microsoft\\EventSystem",
    u"Microsoft\\MSMQ",
    u"Microsoft\\Non-Driver Signing",
    u"Microsoft\\Notepad\\DefaultFonts",
    u"Microsoft\\OLE",
    u"Microsoft\\RAS",
    u"Microsoft\\RPC",
    u"Microsoft\\Shared Tools\\MSInfo",
    u"Microsoft\\SystemCertificates",
    u"Microsoft\\TermServLicensing",
    u"Microsoft\\Transaction Server",
    u"Microsoft\\Windows\\CurrentVersion\\App Paths",
    u"Microsoft\\Windows\\CurrentVersion\\Control Panel\\Cursors\\Schemes",
    u"Microsoft\\Windows\\CurrentVersion\\Explorer\\AutoplayHandlers",
    u"Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons",
    u"Microsoft\\Windows\\CurrentVersion\\Explorer\\KindMap",
    u"Microsoft\\Windows\\CurrentVersion\\Group Policy",
    u"Microsoft\\Windows\\CurrentVersion\\Policies",
    u"Microsoft\\Windows\\CurrentVersion\\PreviewHandlers",
    u"Microsoft\\Windows\\CurrentVersion\\Setup",
    u"Microsoft\\Windows\\CurrentVersion\\Telephony",
    u"Microsoft\\Windows NT\\CurrentVersion\\Console",
    u"Microsoft\\Windows NT\\CurrentVersion\\FontDpi",
    u"Microsoft\\Windows NT\\CurrentVersion\\FontLink",
    u"Microsoft\\Windows NT\\CurrentVersion\\FontMapper",
    u"Microsoft\\Windows NT\\CurrentVersion\\Fonts",
    u"Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes",
    u"Microsoft\\Windows NT\\CurrentVersion\\Gre_Initialize",
    u"Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options",
    u"Microsoft\\Windows NT\\CurrentVersion\\LanguagePack",
    u"Microsoft\\Windows NT\\CurrentVersion\\NetworkCards",
    u"Microsoft\\Windows NT\\CurrentVersion\\Perflib",
    u"Microsoft\\Windows NT\\CurrentVersion\\Ports",
    u"Microsoft\\Windows NT\\CurrentVersion\\Print",
    u"Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
    u"Microsoft\\Windows NT\\CurrentVersion\\Time Zones",
    u"Policies",
    u"RegisteredApplications",
};

// The subkeys of the Classes keys that the 32-bit view finds in
// Classes\Wow6432Node; every other class (AppID, file types...) is shared.
constexpr std::u16string_view kRedirectedClasses[] = {
    u"CLSID", u"DirectShow", u"Interface", u"Media Type", u"MediaFoundation"};

// Whether `names` from `from` on starts with the backslashed path `prefix`.
bool StartsWith(const std::vector<std::u16string>& names, std::size_t from,
                std::u16string_view prefix) {
  std::size_t at = from;
  while (!prefix.empty()) {
    const std::size_t cut = std::min(prefix.find(u'\\'), prefix.size());
    if (at >= names.size() || !Same(names[at], prefix.substr(0, cut))) {
      return false;
    }
    ++at;
    prefix.remove_prefix(std::min(cut + 1, prefix.size()));
  }
  return true;
}

// Below a Classes key: `names` from `from` on.
void ClassesFrom(std::vector<std::u16string>& names, std::size_t from,
                 bool view32) {
  if (!view32 || names.size() <= from) return;
  // Classes\Wow6432Node\X is the 32-bit copy of X, or a class of its own.
  if (names.size() > from + 1 && IsNode(names[from])) {
    names.erase(names.begin() + static_cast<std::ptrdiff_t>(from));
  }
  const bool moves = std::any_of(
      std::begin(kRedirectedClasses), std::end(kRedirectedClasses),
      [&](std::u16string_view name) { return Same(names[from], name); });
  if (moves) {
    names.insert(names.begin() + static_cast<std::ptrdiff_t>(from), kNode);
  }
}

// Below HKEY_LOCAL_MACHINE\SOFTWARE: `names` from 1 on.
void MachineSoftware(std::vector<std::u16string>& names, bool view32) {
  if (names.size() > 1 && IsNode(names[1])) {
    if (names.size() > 2 && Same(names[2], u"Classes")) {
      names[1] = u"Classes";
      names[2] = kNode;
      return;
    }
    if (!view32) return;
    names.erase(names.begin() + 1);
  }
  if (names.size() > 1 && Same(names[1], u"Classes")) {
    ClassesFrom(names, 2, view32);
    return;
  }
  if (!view32) return;
  const bool shared = std::any_of(
      std::begin(kShared), std::end(kShared),
      [&](std::u16string_view path) { return StartsWith(names, 1, path); });
  if (!shared) names.insert(names.begin() + 1, kNode);
}

}  // namespace

bool IsNode(std::u16string_view name) { return Same(name, kNode); }

void Redirect(std::int64_t root, std::vector<std::u16string>& names,
              bool view32) {
  if (root == seed::kLocalMachine) {
    if (!names.empty() && Same(names[0], u"SOFTWARE")) {
      MachineSoftware(names, view32);
    }
    return;
  }
  // A user's classes: HKEY_CURRENT_USER's, or one of HKEY_USERS.
  const std::size_t user = root == seed::kUsers ? 1 : 0;
  if ((root == seed::kCurrentUser || root == seed::kUsers) &&
      names.size() > user + 1 && Same(names[user], u"Software") &&
      Same(names[user + 1], u"Classes")) {
    ClassesFrom(names, user + 2, view32);
  }
}

void RedirectClasses(std::vector<std::u16string>& names, bool view32) {
  ClassesFrom(names, 0, view32);
}

std::vector<std::u16string_view> SharedBelow(
    const std::vector<std::u16string>& below) {
  std::vector<std::u16string_view> names;
  for (std::u16string_view path : kShared) {
    std::size_t level = 0;
    bool matches = true;
    while (matches && level < below.size()) {
      const std::size_t cut = path.find(u'\\');
      matches = cut != std::u16string_view::npos &&
                Same(path.substr(0, cut), below[level]);
      path.remove_prefix(matches ? cut + 1 : 0);
      ++level;
    }
    if (matches && path.find(u'\\') == std::u16string_view::npos) {
      names.push_back(path);
    }
  }
  return names;
}

bool MayLink(std::u16string_view keyName,
             const std::vector<std::u16string>& names) {
  return (IsNode(keyName) && !names.empty()) ||
         std::any_of(names.begin(), names.end(),
                     [](const std::u16string& name) { return IsNode(name); });
}

}  // namespace corvane::platform::emulated::wow64
