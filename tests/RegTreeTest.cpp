// regfiletool's key tree (tests/tools/RegTree.h): how it orders and spells
// names, and what a file comes out as after it was read into the tree.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Unicode.h"
#include "tools/RegTree.h"

namespace corvane::tools {
namespace {

std::span<const std::uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// A saved tree as UTF-8 text, without the byte-order mark.
std::string Saved(const RegTree& tree) {
  std::string bytes;
  EXPECT_EQ(tree.Write(bytes), "");
  std::u16string text;
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
    text += static_cast<char16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                  static_cast<std::uint8_t>(bytes[i + 1]) << 8);
  }
  return base::Utf16ToUtf8(text);
}

std::vector<std::u16string> ValueNames(const RegTreeKey& key) {
  std::vector<std::u16string> names;
  for (const RegTreeValue& value : key.Values()) names.push_back(value.name);
  return names;
}

TEST(RegTree, NamesKeepTheirFirstSpellingAndTheRegistrysOrder) {
  RegTreeKey key(u"k");
  for (const char16_t* name : {u"beta", u"Alpha", u"_x", u"ALPHA", u"gamma"}) {
    key.CreateChild(name);
  }
  std::vector<std::u16string> children;
  for (const RegTreeKey* child : key.Children())
    children.push_back(child->Name());
  // Folded to uppercase, "_" sorts after the letters.
  EXPECT_EQ(children,
            (std::vector<std::u16string>{u"Alpha", u"beta", u"gamma", u"_x"}));
  EXPECT_EQ(key.FindChild(u"GAMMA")->Name(), u"gamma");
  EXPECT_TRUE(key.RemoveChild(u"BETA"));
  EXPECT_FALSE(key.RemoveChild(u"beta"));
  EXPECT_EQ(key.FindChild(u"beta"), nullptr);

  key.SetValue(u"One", 1, {});
  key.SetValue(u"two", 3, {});
  key.SetValue(u"three", 4, {});
  key.SetValue(u"ONE", 4, {1, 0, 0, 0});
  EXPECT_EQ(ValueNames(key),
            (std::vector<std::u16string>{u"One", u"two", u"three"}));
  EXPECT_EQ(key.Values()[0].type, 4u);
  // After a deletion the others are still found where they now are.
  key.DeleteValue(u"one");
  key.SetValue(u"THREE", 3, {7});
  key.SetValue(u"four", 1, {});
  EXPECT_EQ(ValueNames(key),
            (std::vector<std::u16string>{u"two", u"three", u"four"}));
  EXPECT_EQ(key.Values()[1].data, std::vector<std::uint8_t>{7});
}

TEST(RegTree, FindsKeysByEitherRootNameAndClassesUnderTheMachine) {
  RegTree tree;
  RegTreeKey* appId =
      tree.Find(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\AppID");
  ASSERT_NE(appId, nullptr) << "a fresh tree has it";
  EXPECT_EQ(tree.Find(u"hkcr\\\\appid\\"), appId);
  EXPECT_EQ(tree.Find(u"HKEY_CLASSES_ROOT\\Missing"), nullptr);
  EXPECT_EQ(tree.Find(u"HKEY_NOWHERE"), nullptr);
  EXPECT_EQ(tree.Create(u"HKEY_NOWHERE\\x"), nullptr);
  RegTreeKey* made = tree.Create(u"HKCU\\a\\b");
  EXPECT_EQ(tree.Find(u"HKEY_CURRENT_USER\\A\\B"), made);

  tree.Find(u"HKLM\\SOFTWARE")->RemoveChild(u"Classes");
  RegTreeKey* classes = tree.Find(u"HKCR");
  ASSERT_NE(classes, nullptr) << "made again on demand";
  EXPECT_EQ(classes, tree.Find(u"HKLM\\SOFTWARE\\Classes"));
}

// Creations, deletions and values in any case and through either name of a
// root: what is saved is the tree they leave, in the registry's order, roots
// written only for their own values.
TEST(RegTree, SavesWhatTheFileLeavesInOrder) {
  const std::string file =
      "REGEDIT4\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Zeta]\r\n"
      "\"b\"=\"1\"\r\n"
      "\"A\"=dword:00000003\r\n\r\n"
      "[HKCU\\software\\ZETA\\Child]\r\n"
      "@=\"x\"\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\alpha]\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\.txt]\r\n"
      "@=\"txtfile\"\r\n\r\n"
      "[HKEY_USERS]\r\n"
      "\"root\"=\"r\"\r\n\r\n"
      "[HKEY_DYN_DATA\\d]\r\n\r\n"
      "[-HKEY_CURRENT_USER\\Software\\Alpha]\r\n"
      "[-HKEY_CURRENT_USER\\Software\\Missing\\Deeper]\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Zeta]\r\n"
      "\"B\"=-\r\n"
      "\"B\"=\"again\"\r\n";
  RegTree tree;
  ASSERT_EQ(tree.Read(Bytes(file), "f.reg"), "");
  const std::string saved = Saved(tree);
  EXPECT_EQ(saved,
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt]\r\n"
            "@=\"txtfile\"\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\AppID]\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software]\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Zeta]\r\n"
            "\"A\"=dword:00000003\r\n"
            "\"B\"=\"again\"\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Zeta\\Child]\r\n"
            "@=\"x\"\r\n\r\n"
            "[HKEY_USERS]\r\n"
            "\"root\"=\"r\"\r\n\r\n"
            "[HKEY_DYN_DATA\\d]\r\n\r\n");

  std::string bytes;
  ASSERT_EQ(tree.Write(bytes), "");
  RegTree again;
  ASSERT_EQ(again.Read(Bytes(bytes), "saved.reg"), "");
  EXPECT_EQ(Saved(again), saved);
}

TEST(RegTree, RefusesRootDeletionsAndUnknownRootsByLine) {
  RegTree tree;
  EXPECT_EQ(tree.Read(Bytes("REGEDIT4\r\n\r\n[-HKEY_CLASSES_ROOT]\r\n"), "a"),
            "a:3: a root key can't be deleted");
  EXPECT_EQ(tree.Read(Bytes("REGEDIT4\r\n[HKEY_NOPE\\x]\r\n"), "b"),
            "b:2: unknown root key 'HKEY_NOPE'");
}

TEST(RegTree, ADeepTreeIsReleasedWithoutRecursion) {
  std::u16string path = u"HKCU";
  for (int i = 0; i < 200000; ++i) path += u"\\k";
  RegTree tree;
  ASSERT_NE(tree.Create(path), nullptr);
}

}  // namespace
}  // namespace corvane::tools
