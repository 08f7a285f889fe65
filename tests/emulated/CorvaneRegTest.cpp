// corvane-reg's commands run in-process on the emulated registry: the exact
// text of query in its forms, what add stores for each type and what it
// refuses, the deletions, export/import round trips, and text outside every
// code page (Cyrillic, CJK, surrogate pairs, unpaired surrogates) kept
// exactly.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/Unicode.h"
#include "cli/Console.h"
#include "platform/Platform.h"
#include "support/RegRun.h"
#include "support/ScratchFolder.h"
#include "support/ScratchKey.h"

namespace corvane {
namespace {

using namespace platform;

using testing::Reg;
using testing::RegAdd;
using Outcome = testing::RegOutcome;

class CorvaneRegTest : public ::testing::Test {
 protected:
  // HKEY_CURRENT_USER\<scratch> as the user types it, and as reg prints it.
  std::wstring Key(const std::wstring& sub = L"") const {
    return L"HKCU\\" + Scratch() + (sub.empty() ? L"" : L"\\" + sub);
  }
  std::wstring Shown(const std::wstring& sub = L"") const {
    return L"HKEY_CURRENT_USER\\" + Scratch() +
           (sub.empty() ? L"" : L"\\" + sub);
  }
  std::wstring Scratch() const { return AnsiToWide(scratch_.Path()); }

  // The tree most query tests look at:
  //   top:  (Default)="top", Num=42, Text="hello"
  //   top\Alpha:  no values, subkey Deep with Leaf=REG_MULTI_SZ a,b
  //   top\Beta:   Flag=1
  void BuildTree() {
    RegAdd(Key(), {L"/ve", L"/d", L"top"});
    RegAdd(Key(), {L"/v", L"Num", L"/t", L"REG_DWORD", L"/d", L"42"});
    RegAdd(Key(), {L"/v", L"Text", L"/d", L"hello"});
    RegAdd(Key(L"Alpha\\Deep"),
           {L"/v", L"Leaf", L"/t", L"REG_MULTI_SZ", L"/d", L"a\\0b"});
    RegAdd(Key(L"Beta"), {L"/v", L"Flag", L"/t", L"REG_DWORD", L"/d", L"1"});
  }

  testing::ScratchKey scratch_;
};

TEST_F(CorvaneRegTest, QueryPrintsReglayout) {
  BuildTree();
  const std::wstring top = Shown();
  const std::wstring values =
      L"    (Default)    REG_SZ    top\n"
      L"    Num    REG_DWORD    0x2a\n"
      L"    Text    REG_SZ    hello\n";
  struct Case {
    std::vector<std::wstring> options;
    std::wstring sub;
    std::wstring expected;
  };
  const Case cases[] = {
      // The key's values, then its subkeys' paths.
      {{},
       L"",
       L"\n" + top + L"\n" + values + L"\n" + top + L"\\Alpha\n" + top +
           L"\\Beta\n"},
      // A key without values shows no path line of its own.
      {{}, L"Alpha", L"\n" + top + L"\\Alpha\\Deep\n"},
      // /s: every key below the top shows, with or without values.
      {{L"/s"},
       L"",
       L"\n" + top + L"\n" + values + L"\n" + top + L"\\Alpha\n\n" + top +
           L"\\Alpha\\Deep\n    Leaf    REG_MULTI_SZ    a\\0b\n\n" + top +
           L"\\Beta\n    Flag    REG_DWORD    0x1\n\n"},
      {{L"/s"},
       L"Alpha",
       L"\n" + top + L"\\Alpha\\Deep\n    Leaf    REG_MULTI_SZ    a\\0b\n\n"},
      {{L"/v", L"num"},
       L"",
       L"\n" + top + L"\n    num    REG_DWORD    0x2a\n\n"},
      {{L"/ve"}, L"", L"\n" + top + L"\n    (Default)    REG_SZ    top\n\n"},
      // An unset default value is shown, not an error.
      {{L"/ve"},
       L"Beta",
       L"\n" + top + L"\\Beta\n    (Default)    REG_SZ    (value not set)\n"},
      {{L"/v", L"Flag", L"/s"},
       L"",
       L"\n" + top + L"\\Beta\n    Flag    REG_DWORD    0x1\n\n" +
           L"Search complete. Number of matches found: 1\n"},
      {{L"/v", L"Nothing", L"/s"},
       L"",
       L"\nSearch complete. Number of matches found: 0\n"},
      // /f: key names below the top, value names and data, in any case.
      {{L"/f", L"LEA", L"/s"},
       L"",
       L"\n" + top + L"\\Alpha\\Deep\n    Leaf    REG_MULTI_SZ    a\\0b\n\n" +
           L"End of search: 1 match(es) found.\n"},
      {{L"/f", L"e", L"/s"},
       L"Alpha",
       L"\n" + top + L"\\Alpha\\Deep\n    Leaf    REG_MULTI_SZ    a\\0b\n\n" +
           L"End of search: 2 match(es) found.\n"},
      // Without /s only the top's values and its subkeys' names are seen.
      {{L"/f", L"e"},
       L"",
       L"\n" + top + L"\n    Text    REG_SZ    hello\n\n" + top +
           L"\\Beta\n\nEnd of search: 2 match(es) found.\n"},
      {{L"/f", L"0x2A"},
       L"",
       L"\n" + top + L"\n    Num    REG_DWORD    0x2a\n\n" +
           L"End of search: 1 match(es) found.\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::wstring> args = {L"query", Key(c.sub)};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const Outcome run = Reg(args);
    const std::string label = base::WideToUtf8(
        args[1] + L" " + (c.options.empty() ? L"" : c.options[0]));
    EXPECT_EQ(run.status, 0) << label;
    EXPECT_EQ(run.out, c.expected) << label;
    EXPECT_EQ(run.err, L"") << label;
  }
}

TEST_F(CorvaneRegTest, QueryFailures) {
  BuildTree();
  const std::wstring notFound =
      L"ERROR: The system was unable to find the specified registry key or "
      L"value.\n";
  EXPECT_EQ(Reg({L"query", Key(L"Missing")}).err, notFound);
  const Outcome noValue = Reg({L"query", Key(), L"/v", L"Missing"});
  EXPECT_EQ(noValue.status, 1);
  EXPECT_EQ(noValue.err, notFound);
  // A search that finds nothing says so and fails, as reg does.
  const Outcome noMatch = Reg({L"query", Key(), L"/f", L"zzz", L"/s"});
  EXPECT_EQ(noMatch.status, 1);
  EXPECT_EQ(noMatch.out, L"\nEnd of search: 0 match(es) found.\n");
}

TEST_F(CorvaneRegTest, RootsInEveryForm) {
  RegAdd(Key(), {L"/v", L"x", L"/d", L"1"});
  for (const std::wstring root :
       {L"HKCU", L"hkcu", L"HKEY_CURRENT_USER", L"hkey_Current_User"}) {
    const Outcome run = Reg({L"query", root + L"\\" + Scratch() + L"\\"});
    EXPECT_EQ(run.status, 0) << base::WideToUtf8(root);
    EXPECT_EQ(run.out, L"\n" + Shown() + L"\n    x    REG_SZ    1\n\n");
  }
  // HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\SOFTWARE\Classes.
  RegAdd(L"HKLM\\SOFTWARE\\Classes\\CorvaneRegTest",
         {L"/v", L"y", L"/d", L"2"});
  const Outcome classes = Reg({L"query", L"HKCR\\CorvaneRegTest"});
  EXPECT_EQ(classes.out,
            L"\nHKEY_CLASSES_ROOT\\CorvaneRegTest\n    y    REG_SZ    2\n\n");
  EXPECT_EQ(Reg({L"delete", L"HKCR\\CorvaneRegTest", L"/f"}).status, 0);
  EXPECT_EQ(Reg({L"query", L"HKLM\\SOFTWARE\\Classes\\CorvaneRegTest"}).status,
            1);
}

TEST_F(CorvaneRegTest, AddStoresEachTypeAsRegShowsIt) {
  struct Case {
    std::vector<std::wstring> options;
    std::wstring shown;  // type and data as query prints them
  };
  const Case cases[] = {
      {{}, L"REG_SZ    "},
      {{L"/d", L"plain text"}, L"REG_SZ    plain text"},
      {{L"/t", L"reg_sz", L"/d", L"50%"}, L"REG_SZ    50%"},
      // Kept as typed: the unexpanded text is the value.
      {{L"/t", L"REG_EXPAND_SZ", L"/d", L"%HOME%\\bin"},
       L"REG_EXPAND_SZ    %HOME%\\bin"},
      {{L"/t", L"REG_EXPAND_SZ", L"/d", L"no reference"},
       L"REG_EXPAND_SZ    no reference"},
      {{L"/t", L"REG_DWORD", L"/d", L"0x10"}, L"REG_DWORD    0x10"},
      {{L"/t", L"REG_DWORD", L"/d", L"010"}, L"REG_DWORD    0xa"},
      {{L"/t", L"REG_DWORD", L"/d", L" 7"}, L"REG_DWORD    0x7"},
      {{L"/t", L"REG_DWORD", L"/d", L"4294967295"}, L"REG_DWORD    0xffffffff"},
      {{L"/t", L"REG_DWORD_BIG_ENDIAN", L"/d", L"0x01020304"},
       L"REG_DWORD_BIG_ENDIAN    0x1020304"},
      {{L"/t", L"REG_DWORD_LITTLE_ENDIAN", L"/d", L"5"}, L"REG_DWORD    0x5"},
      {{L"/t", L"REG_QWORD", L"/d", L"0x123456789"},
       L"REG_QWORD    0x123456789"},
      // reg's rules: no data is 0, a negative number is taken modulo 2^64.
      {{L"/t", L"REG_QWORD"}, L"REG_QWORD    0x0"},
      {{L"/t", L"REG_QWORD", L"/d", L"-1"}, L"REG_QWORD    0xffffffffffffffff"},
      {{L"/t", L"REG_QWORD", L"/d", L"-18446744073709551615"},
       L"REG_QWORD    0x1"},
      {{L"/t", L"REG_BINARY", L"/d", L"abc"}, L"REG_BINARY    0ABC"},
      {{L"/t", L"REG_BINARY"}, L"REG_BINARY    "},
      {{L"/t", L"REG_MULTI_SZ", L"/d", L"a\\0b\\0"}, L"REG_MULTI_SZ    a\\0b"},
      {{L"/t", L"REG_MULTI_SZ", L"/d", L"a#b", L"/s", L"#"},
       L"REG_MULTI_SZ    a\\0b"},
      {{L"/t", L"REG_MULTI_SZ"}, L"REG_MULTI_SZ    "},
      {{L"/t", L"REG_NONE", L"/d", L"01"}, L"REG_NONE    300031000000"},
  };
  for (const Case& c : cases) {
    std::vector<std::wstring> options = {L"/v", L"v"};
    options.insert(options.end(), c.options.begin(), c.options.end());
    RegAdd(Key(), options);
    const Outcome run = Reg({L"query", Key(), L"/v", L"v"});
    EXPECT_EQ(run.out, L"\n" + Shown() + L"\n    v    " + c.shown + L"\n\n")
        << base::WideToUtf8(c.shown);
  }
}

TEST_F(CorvaneRegTest, AddRefusesBadDataAndWritesNothing) {
  const std::vector<std::vector<std::wstring>> cases = {
      {L"/t", L"REG_DWORD", L"/d", L"abc"},
      {L"/t", L"REG_DWORD", L"/d", L"-1"},
      {L"/t", L"REG_DWORD", L"/d", L"4294967296"},
      {L"/t", L"REG_DWORD", L"/d", L"12abc"},
      {L"/t", L"REG_DWORD"},
      {L"/t", L"REG_QWORD", L"/d", L"18446744073709551616"},
      {L"/t", L"REG_QWORD", L"/d", L"-18446744073709551616"},
      {L"/t", L"REG_QWORD", L"/d", L"-0x2"},
      {L"/t", L"REG_DWORD", L"/d"},
      {L"/t", L"REG_BINARY", L"/d", L"zz"},
      {L"/t", L"REG_MULTI_SZ", L"/d", L"a\\0\\0b"},
      {L"/t", L"REG_FOO", L"/d", L"1"},
      {L"/t", L"REG_LINK", L"/d", L"1"},
      {L"/t", L"REG_MULTI_SZ", L"/d", L"a", L"/s", L"##"},
      {L"/v", L"a", L"/ve"},
  };
  for (const auto& options : cases) {
    std::vector<std::wstring> args = {L"add", Key(L"New"), L"/v", L"v"};
    if (options[0] == L"/v") args.resize(2);
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(L"/f");
    const Outcome run = Reg(args);
    const std::string label = base::WideToUtf8(options.back());
    EXPECT_EQ(run.status, 1) << label;
    EXPECT_EQ(run.err.rfind(L"ERROR: ", 0), 0u) << label;
    EXPECT_EQ(Reg({L"query", Key(L"New")}).status, 1) << label;
  }
}

TEST_F(CorvaneRegTest, AddAsksBeforeOverwriting) {
  RegAdd(Key(L"A\\B\\C"), {L"/v", L"v", L"/d", L"old"});
  const Outcome declined =
      Reg({L"add", Key(L"A\\B\\C"), L"/v", L"v", L"/d", L"new"}, {false});
  EXPECT_EQ(declined.status, 0);
  ASSERT_EQ(declined.questions.size(), 1u);
  EXPECT_EQ(declined.questions[0], L"Value v exists, overwrite (Yes/No)? ");
  EXPECT_NE(Reg({L"query", Key(L"A\\B\\C"), L"/v", L"v"}).out.find(L"old"),
            std::wstring::npos);
  Reg({L"add", Key(L"A\\B\\C"), L"/v", L"v", L"/d", L"new"}, {true});
  EXPECT_NE(Reg({L"query", Key(L"A\\B\\C"), L"/v", L"v"}).out.find(L"new"),
            std::wstring::npos);
  // A new value is written without a question.
  EXPECT_EQ(Reg({L"add", Key(L"A"), L"/v", L"w"}).status, 0);
}

TEST_F(CorvaneRegTest, DeleteKeysAndValues) {
  BuildTree();
  // Declined: nothing goes.
  const Outcome declined = Reg({L"delete", Key(L"Alpha")}, {false});
  EXPECT_EQ(declined.status, 0);
  EXPECT_EQ(declined.questions.size(), 1u);
  EXPECT_EQ(Reg({L"query", Key(L"Alpha\\Deep")}).status, 0);
  // A key goes with its whole subtree.
  EXPECT_EQ(Reg({L"delete", Key(L"Alpha")}, {true}).status, 0);
  EXPECT_EQ(Reg({L"query", Key(L"Alpha")}).status, 1);
  // A missing key is reported before anyone is asked.
  const Outcome missing = Reg({L"delete", Key(L"Alpha")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(missing.questions.empty());

  EXPECT_EQ(Reg({L"delete", Key(), L"/v", L"Num", L"/f"}).status, 0);
  EXPECT_EQ(Reg({L"query", Key(), L"/v", L"Num"}).status, 1);
  EXPECT_EQ(Reg({L"delete", Key(), L"/v", L"Num", L"/f"}).status, 1);
  EXPECT_EQ(Reg({L"delete", Key(), L"/ve", L"/f"}).status, 0);
  EXPECT_EQ(
      Reg({L"query", Key(), L"/ve"}).out,
      L"\n" + Shown() + L"\n    (Default)    REG_SZ    (value not set)\n");

  // /va empties the key but keeps its subkeys.
  EXPECT_EQ(Reg({L"delete", Key(), L"/va", L"/f"}).status, 0);
  EXPECT_EQ(Reg({L"query", Key()}).out, L"\n" + Shown() + L"\\Beta\n");

  EXPECT_EQ(Reg({L"delete", L"HKCU", L"/f"}).status, 1);
  EXPECT_EQ(Reg({L"delete", Key(), L"/v", L"a", L"/va", L"/f"}).status, 1);
}

// /reg:32 and /reg:64 choose the view of the key named and of every key
// below it: a tree made in the 32-bit view lives below Wow6432Node, and
// the 64-bit view's plain path doesn't find it.
TEST(CorvaneRegViewTest, TheViewOptionsChooseWhereKeysAre) {
  const std::wstring key = L"HKLM\\Software\\Corvane Reg View Test";
  const std::wstring node =
      L"HKLM\\Software\\Wow6432Node\\Corvane Reg View Test";
  RegAdd(key + L"\\Sub", {L"/v", L"N", L"/d", L"1", L"/reg:32"});
  EXPECT_EQ(Reg({L"query", node + L"\\Sub", L"/v", L"N", L"/reg:64"}).status,
            0);
  EXPECT_EQ(Reg({L"query", key, L"/reg:64"}).status, 1);
  const Outcome tree = Reg({L"query", key, L"/s", L"/reg:32"});
  EXPECT_EQ(tree.out,
            L"\nHKEY_LOCAL_MACHINE\\Software\\Corvane Reg View Test\\Sub\n"
            L"    N    REG_SZ    1\n\n");
  EXPECT_EQ(
      Reg({L"copy", key, key + L" Copy", L"/s", L"/f", L"/reg:32"}).status, 0);
  EXPECT_EQ(Reg({L"query", node + L" Copy\\Sub", L"/reg:64"}).status, 0);
  EXPECT_EQ(Reg({L"delete", key + L" Copy", L"/f", L"/reg:32"}).status, 0);
  EXPECT_EQ(Reg({L"delete", key, L"/f", L"/reg:32"}).status, 0);
  EXPECT_EQ(Reg({L"query", node, L"/reg:64"}).status, 1);
  EXPECT_EQ(Reg({L"query", node + L" Copy", L"/reg:64"}).status, 1);
}

class CorvaneRegFileTest : public CorvaneRegTest {
 protected:
  std::wstring File(const char* name) const {
    return base::Utf8ToWide(folder_.File(name));
  }
  void Write(const char* name, const std::string& bytes) const {
    std::ofstream(folder_.File(name), std::ios::binary) << bytes;
  }
  std::string Read(const char* name) const {
    std::ifstream stream(folder_.File(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), {});
  }

  testing::ScratchFolder folder_;
};

TEST_F(CorvaneRegFileTest, ExportDeleteImportGivesTheSameTree) {
  BuildTree();
  RegAdd(Key(L"Beta"),
         {L"/v", L"Exp", L"/t", L"REG_EXPAND_SZ", L"/d", L"%PATH%;x"});
  RegAdd(Key(L"Beta"), {L"/v", L"Q", L"/t", L"REG_QWORD", L"/d", L"1"});
  RegAdd(Key(L"Beta"), {L"/v", L"Z", L"/t", L"REG_BINARY"});
  RegAdd(Key(L"Empty"), {});
  Reg({L"delete", Key(L"Empty"), L"/ve", L"/f"});
  // Values the object model can't write: a string of no bytes, a 32-bit
  // value of 3 bytes. They must survive too.
  {
    HKEY odd = scratch_.CreateKey("Odd");
    ASSERT_EQ(RegSetValueExA(odd, "Nothing", 0, REG_SZ, nullptr, 0),
              ERROR_SUCCESS);
    const BYTE three[] = {1, 2, 3};
    ASSERT_EQ(RegSetValueExA(odd, "Short", 0, REG_DWORD, three, 3),
              ERROR_SUCCESS);
    RegCloseKey(odd);
  }
  const std::wstring before = Reg({L"query", Key(), L"/s"}).out;
  EXPECT_NE(before.find(L"Short    REG_DWORD    0x30201"), std::wstring::npos);

  ASSERT_EQ(Reg({L"export", Key(), File("tree.reg")}).status, 0);
  const std::string bytes = Read("tree.reg");
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");  // UTF-16LE, as regedit writes
  ASSERT_EQ(Reg({L"delete", Key(), L"/f"}).status, 0);
  ASSERT_EQ(Reg({L"import", File("tree.reg")}).status, 0);
  EXPECT_EQ(Reg({L"query", Key(), L"/s"}).out, before);

  // A second export of the same tree is the same file.
  ASSERT_EQ(Reg({L"export", Key(), File("again.reg"), L"/y"}).status, 0);
  EXPECT_EQ(Read("again.reg"), bytes);
}

TEST_F(CorvaneRegFileTest, ExportAsksBeforeReplacingAFile) {
  BuildTree();
  Write("taken.reg", "keep me");
  const Outcome declined = Reg({L"export", Key(), File("taken.reg")}, {false});
  EXPECT_EQ(declined.status, 0);
  EXPECT_EQ(declined.questions.size(), 1u);
  EXPECT_EQ(Read("taken.reg"), "keep me");
  EXPECT_EQ(Reg({L"export", Key(), File("taken.reg")}, {true}).status, 0);
  EXPECT_NE(Read("taken.reg"), "keep me");
  EXPECT_EQ(Reg({L"export", Key(L"Missing"), File("none.reg")}).status, 1);
  EXPECT_FALSE(std::filesystem::exists(folder_.File("none.reg")));
}

// What an applied file does to the registry is ImportRegFileTest's; here,
// what the command answers when it applies nothing.
TEST_F(CorvaneRegFileTest, ImportReportsTheLineThatStoppedIt) {
  const std::string top = "HKEY_CURRENT_USER\\" + scratch_.Path();
  // A root nobody knows on line 5 stops the import before line 3 is applied.
  Write("bad.reg", "REGEDIT4\r\n\r\n[" + top + "\\Fresh]\r\n\r\n" +
                       "[HKEY_NOWHERE\\x]\r\n");
  const Outcome refused = Reg({L"import", File("bad.reg")});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find(L"bad.reg:5:"), std::wstring::npos)
      << base::WideToUtf8(refused.err);
  EXPECT_EQ(Reg({L"query", Key(L"Fresh")}).status, 1);

  EXPECT_EQ(Reg({L"import", File("missing.reg")}).status, 1);
}

// A .reg file's bytes: UTF-16LE with a byte-order mark, as regedit writes.
std::string Utf16File(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

// Export writes string data exactly; import, as Windows' does, gives data
// without its NUL one, and leaves a string of no bytes empty.
TEST_F(CorvaneRegFileTest, AStringWithoutItsNulGainsItOnImport) {
  HKEY odd = scratch_.CreateKey("Bare");
  ASSERT_EQ(RegSetValueExA(odd, "ab", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>("ab"), 2),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(odd, "none", 0, REG_SZ, nullptr, 0), ERROR_SUCCESS);
  RegCloseKey(odd);
  ASSERT_EQ(Reg({L"export", Key(L"Bare"), File("bare.reg")}).status, 0);
  EXPECT_NE(Read("bare.reg")
                .find(Utf16File(u"\"ab\"=hex(1):61,00,62,00\r\n").substr(2)),
            std::string::npos);
  ASSERT_EQ(Reg({L"delete", Key(L"Bare"), L"/f"}).status, 0);
  ASSERT_EQ(Reg({L"import", File("bare.reg")}).status, 0);
  odd = scratch_.CreateKey("Bare");
  for (const auto& [name, size] : {std::pair{"ab", 3u}, {"none", 0u}}) {
    DWORD length = 0;
    EXPECT_EQ(RegQueryValueExA(odd, name, nullptr, nullptr, nullptr, &length),
              0);
    EXPECT_EQ(length, size) << name;
  }
  RegCloseKey(odd);
}

TEST_F(CorvaneRegFileTest, TextOutsideTheCodePageSurvivesEveryCommand) {
  const std::wstring sub = L"Ключ 中文\\😀 глубже";
  RegAdd(Key(sub), {L"/ve", L"/t", L"REG_EXPAND_SZ", L"/d", L"%ПУТЬ%\\文件"});
  RegAdd(Key(sub), {L"/v", L"名字 🎉", L"/d", L"Данные 中文 🚀"});
  RegAdd(Key(sub),
         {L"/v", L"Список", L"/t", L"REG_MULTI_SZ", L"/d", L"один\\0二\\0𝄞"});
  const std::wstring values =
      L"    (Default)    REG_EXPAND_SZ    %ПУТЬ%\\文件\n"
      L"    名字 🎉    REG_SZ    Данные 中文 🚀\n"
      L"    Список    REG_MULTI_SZ    один\\0二\\0𝄞\n";
  const std::wstring tree = L"\n" + Shown(L"Ключ 中文") + L"\n\n" + Shown(sub) +
                            L"\n" + values + L"\n";
  EXPECT_EQ(Reg({L"query", Key(), L"/s"}).out, tree);
  EXPECT_EQ(
      Reg({L"query", Key(sub), L"/v", L"名字 🎉"}).out,
      L"\n" + Shown(sub) + L"\n    名字 🎉    REG_SZ    Данные 中文 🚀\n\n");
  EXPECT_EQ(cli::RedirectedBytes(L"Данные 中文 🚀"),
            "\xD0\x94\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\xD0\xB5 "
            "\xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x9A\x80");

  ASSERT_EQ(Reg({L"export", Key(), File("text.reg")}).status, 0);
  const std::string bytes = Read("text.reg");
  // The file holds the characters themselves, a surrogate pair for U+1F680.
  EXPECT_NE(bytes.find(Utf16File(u"\"Данные 中文 \xD83D\xDE80\"").substr(2)),
            std::string::npos);
  ASSERT_EQ(Reg({L"delete", Key(L"Ключ 中文"), L"/f"}).status, 0);
  EXPECT_EQ(Reg({L"query", Key(sub)}).status, 1);
  ASSERT_EQ(Reg({L"import", File("text.reg")}).status, 0);
  EXPECT_EQ(Reg({L"query", Key(), L"/s"}).out, tree);
  ASSERT_EQ(Reg({L"export", Key(), File("again.reg"), L"/y"}).status, 0);
  EXPECT_EQ(Read("again.reg"), bytes);

  EXPECT_EQ(Reg({L"delete", Key(sub), L"/v", L"名字 🎉", L"/f"}).status, 0);
  EXPECT_EQ(Reg({L"query", Key(sub), L"/v", L"名字 🎉"}).status, 1);
}

TEST_F(CorvaneRegFileTest, UnpairedSurrogatesComeBackAsTheyWent) {
  // Laid out as the writer lays a file out, so that an export of what was
  // imported is the same file byte for byte. A lone low surrogate in a key
  // name, a lone high one in a value name and its string, both in a list.
  const std::u16string top =
      u"HKEY_CURRENT_USER\\" +
      std::u16string(scratch_.Path().begin(), scratch_.Path().end());
  const std::string file = Utf16File(
      u"Windows Registry Editor Version 5.00\r\n"
      u"\r\n[" +
      top +
      u"]\r\n"
      u"\r\n[" +
      top +
      u"\\k\xDC01y]\r\n"
      u"\"a\xD800"
      u"b\"=\"x\xD800y\"\r\n"
      u"\"c\"=hex(7):70,00,ff,db,00,00,71,00,00,dc,00,00,00,00\r\n"
      u"\r\n");
  Write("lone.reg", file);
  ASSERT_EQ(Reg({L"import", File("lone.reg")}).status, 0);
  ASSERT_EQ(Reg({L"export", Key(), File("out.reg")}).status, 0);
  EXPECT_EQ(Read("out.reg"), file);

  // What query prints on Linux: U+FFFD for each lone surrogate.
  const std::string shown = base::WideToUtf8(Shown());
  EXPECT_EQ(cli::RedirectedBytes(Reg({L"query", Key(), L"/s"}).out),
            "\n" + shown + "\\k\xEF\xBF\xBDy\n" +
                "    a\xEF\xBF\xBD"
                "b    REG_SZ    x\xEF\xBF\xBDy\n" +
                "    c    REG_MULTI_SZ    p\xEF\xBF\xBD\\0q\xEF\xBF\xBD\n\n");
  // A lone high surrogate that ends the text must not take what follows.
  EXPECT_EQ(cli::RedirectedBytes(L"\U0001F600 \xD83D"),
            "\xF0\x9F\x98\x80 \xEF\xBF\xBD");
}

TEST(CorvaneRegSyntaxTest, RefusesMalformedCommandLines) {
  const std::vector<std::vector<std::wstring>> cases = {
      {},
      {L"frobnicate"},
      {L"query"},
      {L"query", L"HKCU", L"HKLM"},
      {L"query", L"HKCU", L"/v"},
      {L"query", L"HKCU", L"/s", L"/s"},
      {L"query", L"HKCU", L"/v", L"a", L"/ve"},
      {L"query", L"HKCU", L"/f", L"a", L"/ve"},
      {L"query", L"HKCU", L"/bogus"},
      {L"query", L"HKXX\\Software"},
      {L"query", L"\\\\machine\\HKLM\\Software"},
      // One backslash may end a key, none the root alone.
      {L"query", L"HKCU\\"},
      {L"query", L"HKCU\\Software\\\\"},
      {L"add", L"HKCU\\", L"/v", L"x", L"/d", L"1", L"/f"},
      {L"export", L"HKCU\\Software"},
      // /y comes after KEY and FILE only.
      {L"export", L"/y", L"HKCU\\Software", L"out.reg"},
      {L"export", L"HKCU\\Software", L"/y", L"out.reg"},
      {L"import"},
      // One view at most.
      {L"query", L"HKLM\\Software", L"/reg:32", L"/reg:64"},
      {L"add", L"HKCU\\Software\\x", L"/f", L"/reg:64", L"/reg:32"},
  };
  for (const auto& args : cases) {
    const Outcome run = Reg(args);
    const std::string label =
        args.empty() ? "(none)" : base::WideToUtf8(args.back());
    EXPECT_EQ(run.status, 1) << label;
    EXPECT_EQ(run.err.rfind(L"ERROR: ", 0), 0u) << label;
    EXPECT_EQ(run.out, L"") << label;
  }
  for (const std::wstring ask : {L"/?", L"-?", L"/h", L"-H"}) {
    const Outcome help = Reg({L"QUERY", ask});
    EXPECT_EQ(help.status, 0) << base::WideToUtf8(ask);
    EXPECT_NE(help.out.find(L"/ve"), std::wstring::npos);
    const Outcome overview = Reg({ask});
    EXPECT_EQ(overview.status, 0) << base::WideToUtf8(ask);
    EXPECT_NE(overview.out.find(L"COMMAND /?"), std::wstring::npos);
  }
}

}  // namespace
}  // namespace corvane
