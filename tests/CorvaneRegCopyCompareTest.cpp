// corvane-reg COPY and COMPARE on either backend: what copy carries (values
// only, or the tree with /s), when it asks and what it refuses; compare's
// lines, verdicts and exit statuses for each output option, its /v and /ve
// forms, a .reg file on either side, and the input it turns away.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "base/Unicode.h"
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

constexpr wchar_t kEnd[] = L"The operation completed successfully.\n";
const std::wstring kIdentical =
    std::wstring(L"\nResult Compared: Identical\n") + kEnd;
const std::wstring kDifferent =
    std::wstring(L"\nResult Compared: Different\n") + kEnd;

class CorvaneRegCopyCompareTest : public ::testing::Test {
 protected:
  // HKCU\<scratch>\<sub> as typed, and as reg prints it.
  std::wstring Key(const std::wstring& sub) const {
    return L"HKCU\\" + Scratch() + L"\\" + sub;
  }
  std::wstring Shown(const std::wstring& sub) const {
    return L"HKEY_CURRENT_USER\\" + Scratch() + L"\\" + sub;
  }
  std::wstring Scratch() const { return base::Utf8ToWide(scratch_.Path()); }
  std::wstring File(const char* name) const {
    return base::Utf8ToWide(folder_.File(name));
  }

  // What query (with /s unless `tree` is false) lists for `sub`, with its
  // own path cut out, so that two keys can be compared.
  std::wstring Listing(const std::wstring& sub, bool tree = true) const {
    std::wstring text =
        Reg(tree ? std::vector<std::wstring>{L"query", Key(sub), L"/s"}
                 : std::vector<std::wstring>{L"query", Key(sub)})
            .out;
    const std::wstring path = Shown(sub);
    for (std::size_t at; (at = text.find(path)) != std::wstring::npos;) {
      text.replace(at, path.size(), L"<top>");
    }
    return text;
  }

  // Src: values of several types, and a subtree.
  void BuildSource() {
    RegAdd(Key(L"Src"), {L"/ve", L"/d", L"top"});
    RegAdd(Key(L"Src"), {L"/v", L"Bin", L"/t", L"REG_BINARY", L"/d", L"00ff"});
    RegAdd(Key(L"Src"), {L"/v", L"Dw", L"/t", L"REG_DWORD", L"/d", L"7"});
    RegAdd(Key(L"Src"),
           {L"/v", L"Multi", L"/t", L"REG_MULTI_SZ", L"/d", L"a\\0b"});
    RegAdd(Key(L"Src"),
           {L"/v", L"Path", L"/t", L"REG_EXPAND_SZ", L"/d", L"%X%"});
    RegAdd(Key(L"Src\\Sub\\Deep"), {L"/v", L"Leaf", L"/d", L"\x0416\x6F22"});
  }

  testing::ScratchKey scratch_;
  testing::ScratchFolder folder_;
};

TEST_F(CorvaneRegCopyCompareTest, CopyTakesValuesAndWithSTheTree) {
  BuildSource();
  const Outcome flat = Reg({L"copy", Key(L"Src"), Key(L"Flat")});
  EXPECT_EQ(flat.status, 0) << base::WideToUtf8(flat.err);
  EXPECT_EQ(flat.out, kEnd);
  // The same values; Src's subkey is not there.
  std::wstring values = Listing(L"Src", false);
  values.erase(values.find(L"<top>\\Sub\n"));
  EXPECT_EQ(Listing(L"Flat", false), values);

  // KEY2 and its missing parents are created.
  ASSERT_EQ(Reg({L"copy", Key(L"Src"), Key(L"New\\Tree"), L"/s"}).status, 0);
  EXPECT_EQ(Listing(L"New\\Tree"), Listing(L"Src"));

  // A missing source creates nothing.
  const Outcome missing = Reg({L"copy", Key(L"Nope"), Key(L"Made"), L"/s"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find(L"unable to find"), std::wstring::npos);
  EXPECT_EQ(Reg({L"query", Key(L"Made")}).status, 1);
}

#ifdef CORVANE_EMULATED
// Windows keeps values in the order they were created (Wine sorts them).
TEST_F(CorvaneRegCopyCompareTest, CopyKeepsTheValuesOrder) {
  RegAdd(Key(L"Src"), {L"/v", L"zeta", L"/d", L"1"});
  RegAdd(Key(L"Src"), {L"/v", L"alpha", L"/d", L"2"});
  RegAdd(Key(L"Src\\Sub"), {L"/v", L"y", L"/d", L"3"});
  RegAdd(Key(L"Src\\Sub"), {L"/v", L"b", L"/d", L"4"});
  ASSERT_EQ(Reg({L"copy", Key(L"Src"), Key(L"Dst"), L"/s"}).status, 0);
  EXPECT_EQ(Listing(L"Dst"), Listing(L"Src"));
  EXPECT_LT(Listing(L"Dst").find(L"zeta"), Listing(L"Dst").find(L"alpha"));
}
#endif

TEST_F(CorvaneRegCopyCompareTest, CopyAsksBeforeReplacingAValue) {
  RegAdd(Key(L"Src"), {L"/v", L"a", L"/d", L"new a"});
  RegAdd(Key(L"Src"), {L"/v", L"b", L"/d", L"new b"});
  RegAdd(Key(L"Src"), {L"/v", L"c", L"/d", L"new c"});
  RegAdd(Key(L"Dst"), {L"/v", L"a", L"/d", L"old a"});
  RegAdd(Key(L"Dst"), {L"/v", L"b", L"/d", L"old b"});
  RegAdd(Key(L"Dst"), {L"/v", L"mine", L"/d", L"kept"});

  const Outcome asked = Reg({L"copy", Key(L"Src"), Key(L"Dst")}, {false, true});
  EXPECT_EQ(asked.status, 0);
  EXPECT_EQ(asked.questions, (std::vector<std::wstring>{
                                 L"Value a exists, overwrite (Yes/No)? ",
                                 L"Value b exists, overwrite (Yes/No)? "}));
  const std::wstring dst = Reg({L"query", Key(L"Dst")}).out;
  EXPECT_NE(dst.find(L"a    REG_SZ    old a"), std::wstring::npos);
  EXPECT_NE(dst.find(L"b    REG_SZ    new b"), std::wstring::npos);
  EXPECT_NE(dst.find(L"c    REG_SZ    new c"), std::wstring::npos);
  EXPECT_NE(dst.find(L"mine    REG_SZ    kept"), std::wstring::npos);

  // /f asks nothing and replaces every value both keys have.
  const Outcome forced = Reg({L"copy", Key(L"Src"), Key(L"Dst"), L"/f"});
  EXPECT_EQ(forced.status, 0);
  EXPECT_TRUE(forced.questions.empty());
  EXPECT_NE(Reg({L"query", Key(L"Dst"), L"/v", L"a"}).out.find(L"new a"),
            std::wstring::npos);
}

TEST_F(CorvaneRegCopyCompareTest, CopyRefusesItselfAndItsOwnTree) {
  RegAdd(Key(L"Src\\Sub"), {L"/v", L"x", L"/d", L"1"});
  const std::wstring lower = L"hkey_current_user\\" + Scratch() + L"\\SRC\\";
  for (const auto& args : std::vector<std::vector<std::wstring>>{
           {L"copy", Key(L"Src"), lower, L"/f"},
           {L"copy", Key(L"Src"), Key(L"Src\\"), L"/s", L"/f"},
           {L"copy", Key(L"Src"), Key(L"src\\Sub\\Copy"), L"/s", L"/f"},
           {L"copy", L"HKCU\\" + Scratch(), Key(L"Src"), L"/s", L"/f"},
           {L"copy", L"HKCR\\CorvaneX", L"HKLM\\Software\\CLASSES\\CorvaneX\\Y",
            L"/s", L"/f"},
       }) {
    const Outcome refused = Reg(args);
    EXPECT_EQ(refused.status, 1) << base::WideToUtf8(args[2]);
    EXPECT_TRUE(refused.err.starts_with(L"ERROR: "))
        << base::WideToUtf8(args[2]);
  }
  EXPECT_EQ(Reg({L"query", Key(L"Src\\Sub\\Copy")}).status, 1);
  // Without /s only the values travel, so a subkey is a fine destination.
  EXPECT_EQ(Reg({L"copy", Key(L"Src\\Sub"), Key(L"Src\\Sub\\Copy")}).status, 0);
  EXPECT_EQ(Reg({L"query", Key(L"Src\\Sub\\Copy"), L"/v", L"x"}).status, 0);
}

// A: Alike=1, Differs=1, OnlyInA; subkeys Common (Inner=1), OnlyA.
// B: ALIKE=1, Differs=2, OnlyInB; subkeys common (Inner=2), OnlyB.
// (Names sort in the order they are made: Wine lists values sorted.)
class CorvaneRegCompareTest : public CorvaneRegCopyCompareTest {
 protected:
  void SetUp() override {
    RegAdd(Key(L"A"), {L"/v", L"Alike", L"/d", L"1"});
    RegAdd(Key(L"A"), {L"/v", L"Differs", L"/d", L"1"});
    RegAdd(Key(L"A"), {L"/v", L"OnlyInA", L"/d", L"a"});
    RegAdd(Key(L"A\\Common"),
           {L"/v", L"Inner", L"/t", L"REG_DWORD", L"/d", L"1"});
    RegAdd(Key(L"A\\OnlyA"), {L"/v", L"x", L"/d", L"x"});
    RegAdd(Key(L"B"), {L"/v", L"ALIKE", L"/d", L"1"});
    RegAdd(Key(L"B"), {L"/v", L"Differs", L"/d", L"2"});
    RegAdd(Key(L"B"), {L"/v", L"OnlyInB", L"/d", L"b"});
    RegAdd(Key(L"B\\common"),
           {L"/v", L"Inner", L"/t", L"REG_DWORD", L"/d", L"2"});
    RegAdd(Key(L"B\\OnlyB"), {L"/v", L"x", L"/d", L"x"});
  }

  std::wstring A(const std::wstring& sub = L"") const {
    return Shown(L"A") + sub;
  }
  std::wstring B(const std::wstring& sub = L"") const {
    return Shown(L"B") + sub;
  }

  const std::wstring alike = L"= Value: " + A() + L"    Alike    REG_SZ    1\n";
  const std::wstring differences =
      L"< Value: " + A() + L"    Differs    REG_SZ    1\n" +  //
      L"> Value: " + B() + L"    Differs    REG_SZ    2\n" +  //
      L"< Value: " + A() + L"    OnlyInA    REG_SZ    a\n" +  //
      L"> Value: " + B() + L"    OnlyInB    REG_SZ    b\n";
  const std::wstring common = L"= Key: " + A(L"\\Common") + L"\n";
  const std::wstring onlyKeys = L"< Key: " + A(L"\\OnlyA") + L"\n" +  //
                                L"> Key: " + B(L"\\OnlyB") + L"\n";
  const std::wstring innerDiffers =
      L"< Value: " + A(L"\\Common") + L"    Inner    REG_DWORD    0x1\n" +
      L"> Value: " + B(L"\\common") + L"    Inner    REG_DWORD    0x2\n";

  // `compare args...`, which must end with `status` having printed `out`.
  void ExpectCompare(std::vector<std::wstring> args, int status,
                     const std::wstring& out) const {
    args.insert(args.begin(), L"compare");
    const Outcome run = Reg(args);
    EXPECT_EQ(run.status, status) << base::WideToUtf8(run.err);
    EXPECT_EQ(run.out, out) << base::WideToUtf8(args.back());
  }
};

TEST_F(CorvaneRegCompareTest, EachOutputOptionShowsItsLines) {
  struct Case {
    std::vector<std::wstring> options;
    std::wstring lines;
  };
  // Without /s the subkeys are compared by name only: Common's values
  // differ, but it is on both sides.
  const Case cases[] = {
      {{}, differences + onlyKeys},
      {{L"/od"}, differences + onlyKeys},
      {{L"/os"}, alike + common},
      {{L"/on"}, L""},
      {{L"/oa"}, alike + differences + common + onlyKeys},
      {{L"/s", L"/od"}, differences + innerDiffers + onlyKeys},
  };
  for (const Case& c : cases) {
    std::vector<std::wstring> args{Key(L"A"), Key(L"B")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    ExpectCompare(args, 2, c.lines + kDifferent);
  }
}

TEST_F(CorvaneRegCompareTest, IdenticalKeysAndSingleValues) {
  // A key against itself, spelt in another case; and against a copy.
  const std::wstring lower = L"hkcu\\" + Scratch() + L"\\a";
  ExpectCompare({Key(L"A"), lower, L"/s"}, 0, kIdentical);
  ASSERT_EQ(Reg({L"copy", Key(L"A"), Key(L"A2"), L"/s"}).status, 0);
  EXPECT_EQ(Reg({L"compare", Key(L"A"), Key(L"A2"), L"/s"}).status, 0);

  // The same bytes under another type differ.
  RegAdd(Key(L"A2\\Common"),
         {L"/v", L"Inner", L"/t", L"REG_BINARY", L"/d", L"01000000"});
  EXPECT_EQ(Reg({L"compare", Key(L"A"), Key(L"A2"), L"/s"}).status, 2);
  EXPECT_EQ(Reg({L"compare", Key(L"A"), Key(L"A2")}).status, 0);

  ExpectCompare({Key(L"A"), Key(L"B"), L"/v", L"alike", L"/oa"}, 0,
                alike + kIdentical);
  ExpectCompare(
      {Key(L"A"), Key(L"B"), L"/v", L"OnlyInB"}, 2,
      L"> Value: " + B() + L"    OnlyInB    REG_SZ    b\n" + kDifferent);
  // A value on neither side is a failure, as a missing value is to query.
  const Outcome run =
      Reg({L"compare", Key(L"A"), Key(L"B"), L"/v", L"Nowhere"});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.err.starts_with(L"ERROR: "));
  // /v with /s looks at that value in every key of both trees.
  ExpectCompare({Key(L"A"), Key(L"B"), L"/v", L"Inner", L"/s"}, 2,
                innerDiffers + onlyKeys + kDifferent);

  RegAdd(Key(L"A"), {L"/ve", L"/d", L"d"});
  ExpectCompare(
      {Key(L"A"), Key(L"B"), L"/ve"}, 2,
      L"< Value: " + A() + L"    (Default)    REG_SZ    d\n" + kDifferent);
}

TEST_F(CorvaneRegCompareTest, AgainstAnExportedFile) {
  ASSERT_EQ(Reg({L"export", Key(L"A"), File("a.reg"), L"/y"}).status, 0);
  Outcome run = Reg({L"compare", Key(L"A"), File("a.reg"), L"/s", L"/oa"});
  EXPECT_EQ(run.status, 0) << base::WideToUtf8(run.err);
  EXPECT_NE(
      run.out.find(L"= Value: " + A(L"\\OnlyA") + L"    x    REG_SZ    x"),
      std::wstring::npos);
  EXPECT_TRUE(run.out.ends_with(kIdentical));

  // The file is searched for the other side's key, and shown under its path;
  // it may stand first or second.
  run = Reg({L"compare", File("a.reg"), Key(L"B")});
  EXPECT_EQ(run.status, 1);  // a.reg holds A only
  EXPECT_NE(run.err.find(L"a.reg"), std::wstring::npos);
  RegAdd(Key(L"A"), {L"/v", L"Differs", L"/d", L"changed"});
  RegAdd(Key(L"A\\OnlyA\\Deeper"), {});
  ExpectCompare({File("a.reg"), Key(L"A")}, 2,
                L"< Value: " + A() + L"    Differs    REG_SZ    1\n" +
                    L"> Value: " + A() + L"    Differs    REG_SZ    changed\n" +
                    kDifferent);
  run = Reg({L"compare", Key(L"A"), File("a.reg"), L"/s"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.out.find(L"< Key: " + A(L"\\OnlyA\\Deeper") + L"\n"),
            std::wstring::npos);
}

TEST_F(CorvaneRegCompareTest, FilesSpellKeysAnyWayTheRegistryDoes) {
  // Root aliases: the merged classes root is the machine's classes.
  const std::wstring name =
      L"CorvaneCompare-" + Scratch().substr(Scratch().rfind(L'-') + 1);
  const std::wstring machine = L"HKLM\\SOFTWARE\\Classes\\" + name;
  RegAdd(machine, {L"/v", L"v", L"/d", L"1"});
  std::ofstream(folder_.File("classes.reg"), std::ios::binary)
      << "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\" << base::WideToUtf8(name)
      << "]\r\n\"V\"=\"1\"\r\n";
  std::ofstream(folder_.File("machine.reg"), std::ios::binary)
      << "REGEDIT4\r\n\r\n[hkey_local_machine\\software\\CLASSES\\\\"
      << base::WideToUtf8(name) << "\\]\r\n\"v\"=\"1\"\r\n";
  const Outcome first = Reg({L"compare", machine, File("classes.reg"), L"/s"});
  const Outcome second =
      Reg({L"compare", L"HKCR\\" + name, File("machine.reg"), L"/s"});
  Reg({L"delete", machine, L"/f"});
  EXPECT_EQ(first.status, 0) << base::WideToUtf8(first.err + first.out);
  EXPECT_EQ(second.status, 0) << base::WideToUtf8(second.err + second.out);
}

TEST_F(CorvaneRegCompareTest, RefusesWhatItCantCompare) {
  const std::string top =
      "HKEY_CURRENT_USER\\" + base::WideToUtf8(Scratch()) + "\\A";
  const auto write = [&](const char* file, const std::string& text) {
    std::ofstream(folder_.File(file), std::ios::binary) << text;
  };
  write("broken.reg", "REGEDIT4\r\n\r\n[" + top +
                          "]\r\n\"Alike\"=\"1\"\r\n\"x\"=nonsense\r\n");
  write("deletes-key.reg",
        "REGEDIT4\r\n\r\n[-" + top + "\\OnlyA]\r\n[" + top + "]\r\n");
  write("deletes-value.reg",
        "REGEDIT4\r\n\r\n[" + top + "]\r\n\"Alike\"=-\r\n");
  struct Case {
    std::vector<std::wstring> args;
    std::wstring says;
  };
  const Case cases[] = {
      {{File("broken.reg"), Key(L"A")}, L"broken.reg:5:"},
      {{Key(L"A"), File("deletes-key.reg")}, L"deletes-key.reg:3:"},
      {{Key(L"A"), File("deletes-value.reg")}, L"deletes-value.reg:4:"},
      {{Key(L"A"), File("absent.reg")}, L"absent.reg"},
      {{File("broken.reg"), File("broken.reg")}, L".reg file"},
      {{Key(L"A"), Key(L"Missing")}, L"unable to find"},
      {{Key(L"A"), Key(L"B"), L"/od", L"/os"}, L"Invalid syntax"},
      {{Key(L"A"), Key(L"B"), L"/v", L"x", L"/ve"}, L"Invalid syntax"},
  };
  for (const Case& c : cases) {
    std::vector<std::wstring> args{L"compare"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Outcome run = Reg(args);
    EXPECT_EQ(run.status, 1) << base::WideToUtf8(c.says);
    EXPECT_TRUE(run.out.empty()) << base::WideToUtf8(run.out);
    EXPECT_TRUE(run.err.starts_with(L"ERROR: ") &&
                run.err.find(c.says) != std::wstring::npos)
        << base::WideToUtf8(run.err);
  }
}

}  // namespace
}  // namespace corvane
