// ImportRegFile against whichever registry the build links: a file applied
// line by line (keys, values of every kind, [-key] with its subtree,
// "name"=-), names outside the ANSI code page kept apart, a file with a
// mistake anywhere applying nothing, and a refused call named with its key.
// Results are inspected through the ANSI functions, which see a name outside
// the code page as "?".
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "support/ScratchKey.h"

namespace corvane::platform {
namespace {

using testing::ScratchKey;

// A Version 5.00 file in UTF-16LE with its byte-order mark, as regedit
// writes one, so that it can carry any name.
std::vector<std::uint8_t> RegFile(const std::u16string& body) {
  const std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n\r\n" + body;
  std::vector<std::uint8_t> bytes = {0xFF, 0xFE};
  for (const char16_t c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return bytes;
}

std::u16string U16(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

struct Counts {
  DWORD subKeys = 0, values = 0;
  bool operator==(const Counts&) const = default;
};

Counts CountsOf(HKEY parent, const std::string& path) {
  Counts counts;
  HKEY key = 0;
  if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &key) != 0) {
    return {~DWORD{0}, ~DWORD{0}};
  }
  RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &counts.subKeys, nullptr,
                   nullptr, &counts.values, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(key);
  return counts;
}

std::vector<BYTE> Data(HKEY parent, const std::string& path, const char* name,
                       DWORD expectedType) {
  HKEY key = 0;
  if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &key) != 0) return {};
  DWORD type = 0, size = 0;
  RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
  std::vector<BYTE> data(size);
  const LONG status =
      RegQueryValueExA(key, name, nullptr, &type, data.data(), &size);
  RegCloseKey(key);
  EXPECT_EQ(type, expectedType) << name;
  return status == ERROR_SUCCESS ? data : std::vector<BYTE>{};
}

class ImportRegFileTest : public ::testing::Test {
 protected:
  // The scratch key's path as a file names it.
  std::u16string Root() const {
    return u"HKEY_CURRENT_USER\\" + U16(scratch_.Path());
  }
  // Imports `body` with each '$' standing for Root().
  std::string Import(std::u16string body) const {
    for (std::size_t at; (at = body.find(u'$')) != std::u16string::npos;) {
      body.replace(at, 1, Root());
    }
    return ImportRegFile(RegFile(body), "test.reg");
  }

  ScratchKey scratch_;
};

TEST_F(ImportRegFileTest, AppliesKeysValuesAndDeletions) {
  scratch_.Make("Tree\\Deep\\Deeper");
  const HKEY keep = scratch_.CreateKey("Keep");
  const DWORD one = 1;
  for (const char* name : {"drop", "stay"}) {
    RegSetValueExA(keep, name, 0, REG_DWORD,
                   reinterpret_cast<const BYTE*>(&one), sizeof one);
  }
  RegCloseKey(keep);

  ASSERT_EQ(Import(u"[$\\Values]\r\n"
                   u"@=\"default\"\r\n"
                   u"\"n\u4E2D\"=dword:00000008\r\n"
                   u"\"n?\"=dword:00000007\r\n"
                   u"\"bin\"=hex:01,02,ff\r\n"
                   u"\"multi\"=hex(7):61,00,00,00,00,00\r\n"
                   u"\r\n[$\\caf\u00E9 \u4E2D]\r\n"
                   u"[hkcu\\" +
                   U16(scratch_.Path()) +
                   u"\\caf\u00E9 ?]\r\n"
                   u"[-$\\Tree]\r\n"
                   u"[-$\\Never]\r\n"
                   u"[$\\Keep]\r\n"
                   u"\"drop\"=-\r\n"
                   u"\"absent\"=-\r\n"),
            "");

  EXPECT_EQ(CountsOf(scratch_.Handle(), ""), (Counts{4, 0}));
  EXPECT_FALSE(scratch_.Has("Tree"));
  EXPECT_FALSE(scratch_.Has("Never"));
  EXPECT_EQ(CountsOf(scratch_.Handle(), "Keep"), (Counts{0, 1}));
  EXPECT_EQ(Data(scratch_.Handle(), "Keep", "stay", REG_DWORD),
            (std::vector<BYTE>{1, 0, 0, 0}));

  // Two value names that differ only outside the code page stay two.
  EXPECT_EQ(CountsOf(scratch_.Handle(), "Values"), (Counts{0, 5}));
  EXPECT_EQ(Data(scratch_.Handle(), "Values", "n?", REG_DWORD),
            (std::vector<BYTE>{7, 0, 0, 0}));
  EXPECT_EQ(Data(scratch_.Handle(), "Values", "", REG_SZ),
            (std::vector<BYTE>{'d', 'e', 'f', 'a', 'u', 'l', 't', 0}));
  EXPECT_EQ(Data(scratch_.Handle(), "Values", "bin", REG_BINARY),
            (std::vector<BYTE>{1, 2, 0xFF}));
  EXPECT_EQ(Data(scratch_.Handle(), "Values", "multi", REG_MULTI_SZ),
            (std::vector<BYTE>{'a', 0, 0}));

  // So do two key names; deleting one by its own name leaves the other.
  ASSERT_EQ(Import(u"[-$\\caf\u00E9 \u4E2D]\r\n"), "");
  EXPECT_EQ(CountsOf(scratch_.Handle(), ""), (Counts{3, 0}));
  EXPECT_TRUE(scratch_.Has("caf\xE9 ?"));
}

// A file may name a key again, right after itself or after others: the key
// keeps what it was given and takes the later values, a name given again
// keeping its place.
TEST_F(ImportRegFileTest, AKeyNamedAgainKeepsWhatItWasGiven) {
  std::u16string many;
  for (int i = 0; i < 20; ++i) {
    many += u"\"v" + U16(std::to_string(i)) + u"\"=\"" +
            U16(std::to_string(i)) + u"\"\r\n";
  }
  many += u"\"V3\"=\"again\"\r\n";
  ASSERT_EQ(Import(u"[$\\Many]\r\n" + many +
                   u"[$\\Again]\r\n\"top\"=\"1\"\r\n"
                   u"[$\\Again\\B]\r\n\"x\"=\"1\"\r\n"
                   u"[$\\Again\\A]\r\n\"x\"=\"1\"\r\n"
                   u"[$\\Again\\A]\r\n\"y\"=\"2\"\r\n\"x\"=\"3\"\r\n"
                   u"[$\\Again\\C]\r\n"
                   u"[$\\Again\\b]\r\n\"z\"=\"5\"\r\n\"X\"=\"4\"\r\n"
                   u"[$\\Again]\r\n\"end\"=\"6\"\r\n\"top\"=\"7\"\r\n"),
            "");
  EXPECT_EQ(CountsOf(scratch_.Handle(), "Many"), (Counts{0, 20}));
  EXPECT_EQ(Data(scratch_.Handle(), "Many", "v3", REG_SZ),
            (std::vector<BYTE>{'a', 'g', 'a', 'i', 'n', 0}));
  EXPECT_EQ(CountsOf(scratch_.Handle(), "Again"), (Counts{3, 2}));
  for (const auto& [path, count] :
       {std::pair{"Again\\A", 2u}, {"Again\\B", 2u}, {"Again\\C", 0u}}) {
    EXPECT_EQ(CountsOf(scratch_.Handle(), path), (Counts{0, count})) << path;
  }
  EXPECT_EQ(Data(scratch_.Handle(), "Again\\A", "x", REG_SZ),
            (std::vector<BYTE>{'3', 0}));
  EXPECT_EQ(Data(scratch_.Handle(), "Again\\B", "x", REG_SZ),
            (std::vector<BYTE>{'4', 0}));
  EXPECT_EQ(Data(scratch_.Handle(), "Again", "top", REG_SZ),
            (std::vector<BYTE>{'7', 0}));
  HKEY key = 0;
  ASSERT_EQ(RegOpenKeyExA(scratch_.Handle(), "Again\\B", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  char name[8];
  DWORD length = sizeof name;
  EXPECT_EQ(
      RegEnumValueA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
      ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_STREQ(name, "x");
}

TEST_F(ImportRegFileTest, AFileWithAMistakeAnywhereAppliesNothing) {
  const std::u16string first = u"[$\\First]\r\n\"v\"=dword:1\r\n";
  const struct {
    const char* mistake;
    std::u16string lines;
  } cases[] = {
      {"unknown root", u"[HKEY_NOWHERE\\x]\r\n"},
      {"unreadable value", u"\"w\"=dword:xyz\r\n"},
      {"root deletion", u"[-HKEY_CURRENT_USER]\r\n"},
      {"value below a deleted key", u"[-$\\Gone]\r\n\"w\"=-\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mistake);
    const std::string result = Import(first + c.lines);
    EXPECT_EQ(result.rfind("test.reg:", 0), 0u) << result;
    EXPECT_FALSE(scratch_.Has("First"));
  }
  // Nor does a value before any key.
  EXPECT_EQ(Import(u"\"v\"=dword:1\r\n" + first).rfind("test.reg:", 0), 0u);
  EXPECT_FALSE(scratch_.Has("First"));
}

// The platform import reads what the .reg reader reads: a Windows 3.1 file,
// a REGEDIT-something header, string data gaining its NUL; and a value that
// Windows would cut short stops the whole file.
TEST_F(ImportRegFileTest, ReadsTheSyntaxWindowsReads) {
  const auto import8 = [](const std::string& text) {
    return ImportRegFile(std::vector<std::uint8_t>(text.begin(), text.end()),
                         "test.reg");
  };
  // A Windows 3.1 key ends at the first blank.
  std::string classes = "CorvaneImport-" +
                        scratch_.Path().substr(scratch_.Path().rfind('\\') + 1);
  std::replace(classes.begin(), classes.end(), ' ', '-');
  const std::string result =
      import8("REGEDIT\r\nHKEY_CLASSES_ROOT\\" + classes + "\\a = text\r\n");
  const std::vector<BYTE> text =
      Data(HKEY_CLASSES_ROOT, classes + "\\a", "", REG_SZ);
  testing::DeleteTreeForTest(HKEY_CLASSES_ROOT, classes);
  ASSERT_EQ(result, "");
  EXPECT_EQ(text, (std::vector<BYTE>{'t', 'e', 'x', 't', 0}));

  const std::string top = "[HKEY_CURRENT_USER\\" + scratch_.Path() + "\\K]\r\n";
  ASSERT_EQ(import8("REGEDIT 4\r\n" + top + "\"s\"=hex(2):41,42 ,\\\r\n" +
                    ";comment\r\n  43\r\n"),
            "");
  EXPECT_EQ(Data(scratch_.Handle(), "K", "s", REG_EXPAND_SZ),
            (std::vector<BYTE>{'A', 'B', 'C', 0}));

  const std::string cut =
      import8("REGEDIT4\r\n[HKEY_CURRENT_USER\\" + scratch_.Path() +
              "\\Cut]\r\n\"b\"=hex:01,\\\r\n\r\n  02\r\n");
  EXPECT_EQ(cut.rfind("test.reg:4: ", 0), 0u) << cut;
  EXPECT_FALSE(scratch_.Has("Cut"));
}

TEST_F(ImportRegFileTest, ARefusedCallNamesItsKeyAndTheSystemsReason) {
  HKEY key = 0;
  ASSERT_EQ(RegCreateKeyExA(scratch_.Handle(), "Volatile", 0, nullptr,
                            REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  char text[256] = {};
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      ERROR_CHILD_MUST_BE_VOLATILE, 0, text, sizeof text, nullptr);
  std::string reason(text, length);
  reason.erase(reason.find_last_not_of("\r\n ") + 1);

  const std::string result =
      Import(u"[$\\Volatile\\Stable]\r\n\"v\"=dword:1\r\n");
  // The file's name and line may come first.
  EXPECT_TRUE(result.ends_with("HKEY_CURRENT_USER\\" + scratch_.Path() +
                               "\\Volatile\\Stable: " + reason))
      << result;
  EXPECT_FALSE(scratch_.Has("Volatile\\Stable"));
}

}  // namespace
}  // namespace corvane::platform
