// The table of the registry's two views (store/Wow64Paths.h): where paths
// lead in each view, the shared keys at every depth of Microsoft's list,
// and what a listing of the 32-bit view adds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Unicode.h"
#include "platform/emulated/store/Seed.h"
#include "platform/emulated/store/Wow64Paths.h"

namespace corvane::platform::emulated::wow64 {
namespace {

// `path` (backslashed) below `root`, as `view32` leads it, backslashed.
std::string Lead(std::int64_t root, const std::u16string& path, bool view32) {
  std::vector<std::u16string> names;
  for (std::size_t start = 0; start <= path.size();) {
    const std::size_t cut = std::min(path.find(u'\\', start), path.size());
    if (cut > start) names.push_back(path.substr(start, cut - start));
    start = cut + 1;
  }
  Redirect(root, names, view32);
  std::u16string joined;
  for (const std::u16string& name : names) {
    joined += (joined.empty() ? u"" : u"\\") + name;
  }
  return base::Utf16ToUtf8(joined);
}

TEST(Wow64Paths, EachViewLeadsMachineSoftwareWhereWindowsKeepsIt) {
  struct Case {
    const char16_t* path;
    const char* in32;
    const char* in64;
  };
  const Case cases[] = {
      {u"SOFTWARE", "SOFTWARE\\Wow6432Node", "SOFTWARE"},
      {u"software\\Vendor\\App", "software\\Wow6432Node\\Vendor\\App",
       "software\\Vendor\\App"},
      // Shared, with everything below; a sibling of a shared key is not.
      {u"SOFTWARE\\Clients\\Mail", "SOFTWARE\\Clients\\Mail",
       "SOFTWARE\\Clients\\Mail"},
      {u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\FONTS\\x",
       "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\FONTS\\x",
       "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\FONTS\\x"},
      {u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
       "SOFTWARE\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion",
       "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"},
      {u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
       "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run",
       "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"},
      {u"SOFTWARE\\ClientsX", "SOFTWARE\\Wow6432Node\\ClientsX",
       "SOFTWARE\\ClientsX"},
      // A path through the copy is the 32-bit view's already.
      {u"SOFTWARE\\Wow6432Node\\Vendor", "SOFTWARE\\Wow6432Node\\Vendor",
       "SOFTWARE\\Wow6432Node\\Vendor"},
      {u"SOFTWARE\\Wow6432Node\\Clients", "SOFTWARE\\Clients",
       "SOFTWARE\\Wow6432Node\\Clients"},
      // The link, in both views.
      {u"SOFTWARE\\Wow6432Node\\Classes\\CLSID\\x",
       "SOFTWARE\\Classes\\Wow6432Node\\CLSID\\x",
       "SOFTWARE\\Classes\\Wow6432Node\\CLSID\\x"},
      // The machine's classes: five keys move, the rest is shared.
      {u"SOFTWARE\\Classes", "SOFTWARE\\Classes", "SOFTWARE\\Classes"},
      {u"SOFTWARE\\Classes\\Media Type\\x",
       "SOFTWARE\\Classes\\Wow6432Node\\Media Type\\x",
       "SOFTWARE\\Classes\\Media Type\\x"},
      {u"SOFTWARE\\Classes\\AppID\\x", "SOFTWARE\\Classes\\AppID\\x",
       "SOFTWARE\\Classes\\AppID\\x"},
      {u"SOFTWARE\\Classes\\.txt", "SOFTWARE\\Classes\\.txt",
       "SOFTWARE\\Classes\\.txt"},
      {u"SYSTEM\\CurrentControlSet", "SYSTEM\\CurrentControlSet",
       "SYSTEM\\CurrentControlSet"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Lead(seed::kLocalMachine, c.path, true), c.in32)
        << base::Utf16ToUtf8(c.path);
    EXPECT_EQ(Lead(seed::kLocalMachine, c.path, false), c.in64)
        << base::Utf16ToUtf8(c.path);
  }
}

TEST(Wow64Paths, AUsersClassesMoveTheirFiveKeysOnly) {
  EXPECT_EQ(Lead(seed::kCurrentUser, u"Software\\Classes\\Interface\\x", true),
            "Software\\Classes\\Wow6432Node\\Interface\\x");
  EXPECT_EQ(Lead(seed::kCurrentUser, u"Software\\Vendor", true),
            "Software\\Vendor");
  EXPECT_EQ(Lead(seed::kUsers, u"S-1-5-21\\Software\\Classes\\CLSID", true),
            "S-1-5-21\\Software\\Classes\\Wow6432Node\\CLSID");
  EXPECT_EQ(Lead(seed::kCurrentUser, u"Software\\Classes\\CLSID", false),
            "Software\\Classes\\CLSID");
  std::vector<std::u16string> merged{u"Wow6432Node", u"DirectShow"};
  RedirectClasses(merged, true);
  EXPECT_EQ(merged,
            (std::vector<std::u16string>{u"Wow6432Node", u"DirectShow"}));
}

TEST(Wow64Paths, SharedBelowListsTheSharedKeysOfOnePlace) {
  const auto names = [](std::vector<std::u16string> below) {
    std::string joined;
    for (const std::u16string_view name : SharedBelow(below)) {
      joined += base::Utf16ToUtf8(std::u16string(name)) + ";";
    }
    return joined;
  };
  EXPECT_EQ(names({}), "Clients;Policies;RegisteredApplications;");
  EXPECT_EQ(names({u"microsoft", u"Cryptography"}), "Services;");
  EXPECT_EQ(names({u"Microsoft", u"Cryptography", u"Calais"}),
            "Current;Readers;");
  EXPECT_EQ(names({u"Clients"}), "");
  EXPECT_EQ(names({u"Vendor"}), "");
}

}  // namespace
}  // namespace corvane::platform::emulated::wow64
