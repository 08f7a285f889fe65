// The key tree on its own: name folding, and its ordered indexes checked
// against a plain sorted map through long runs of random changes.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/emulated/KeyTree.h"

namespace corvane::platform::emulated {
namespace {

TEST(KeyTreeFold, FoldsToUppercaseLikeWindows) {
  struct Case {
    char16_t lower, upper;
  } same[] = {
      {u'a', u'A'},           {u'z', u'Z'},           {0xE9, 0xC9} /* é */,
      {0xFE, 0xDE} /* þ */,   {0xFF, 0x178} /* ÿ */,  {0x161, 0x160} /* š */,
      {0x153, 0x152} /* œ */, {0x17E, 0x17D} /* ž */, {0x142, 0x141} /* ł */,
      {0x3C9, 0x3A9} /* ω */, {0x3C2, 0x3A3} /* ς */, {0x3AC, 0x386} /* ά */,
      {0x44F, 0x42F} /* я */, {0x451, 0x401} /* ё */, {0xFF41, 0xFF21},
  };
  for (const Case& c : same) {
    EXPECT_EQ(FoldChar(c.lower), c.upper) << std::hex << int(c.lower);
    EXPECT_EQ(FoldChar(c.upper), c.upper) << std::hex << int(c.upper);
  }
  // Characters that must stay themselves: no uppercase of their own, or
  // one Windows doesn't fold to.
  for (char16_t c : {u'_', u'[', u'@', char16_t{0xF7} /* ÷ */,
                     char16_t{0xDF} /* ß */, char16_t{0xB5} /* µ */,
                     char16_t{0x131} /* ı */, char16_t{0x138} /* ĸ */}) {
    EXPECT_EQ(FoldChar(c), c) << std::hex << int(c);
  }
  EXPECT_EQ(CompareNames(u"abc", u"ABC"), 0);
  EXPECT_LT(CompareNames(u"ab", u"ABC"), 0);
  EXPECT_GT(CompareNames(u"_", u"z"), 0);
}

TEST(KeyTree, FreshTreeHasTheRootsAndAppID) {
  KeyTree tree;
  EXPECT_FALSE(tree.Changed());
  for (HKEY root : KeyTree::kRoots) {
    ASSERT_NE(tree.Root(root), nullptr);
    EXPECT_EQ(tree.Root(root)->Parent(), nullptr);
  }
  EXPECT_EQ(tree.Root(HKEY_DYN_DATA + 1), nullptr);
  KeyNode* classes = tree.Root(HKEY_CLASSES_ROOT);
  EXPECT_EQ(classes->Name(), u"Classes");
  EXPECT_NE(classes->FindChild(u"appid"), nullptr);
  const KeyTree& view = tree;
  EXPECT_EQ(view.Root(HKEY_CLASSES_ROOT), classes);
  tree.Root(HKEY_LOCAL_MACHINE)
      ->FindChild(u"software")
      ->RemoveChild(u"classes");
  EXPECT_EQ(view.Root(HKEY_CLASSES_ROOT), nullptr);
  EXPECT_NE(tree.Root(HKEY_CLASSES_ROOT), nullptr) << "made again on demand";
  EXPECT_STREQ(KeyTree::RootName(HKEY_CLASSES_ROOT), "HKEY_CLASSES_ROOT");
}

TEST(KeyTree, ChangesAreFlaggedAndDeletedKeysKnowIt) {
  KeyTree tree;
  KeyNode* user = tree.Root(HKEY_CURRENT_USER);
  KeyNode* child = user->CreateChild(u"A")->CreateChild(u"B");
  EXPECT_TRUE(tree.Changed());
  tree.ClearChanged();
  std::shared_ptr<KeyNode> held = child->Shared();
  child->SetValue(u"v", REG_DWORD, {1, 0, 0, 0});
  EXPECT_TRUE(tree.Changed());
  EXPECT_TRUE(user->RemoveChild(u"a"));
  EXPECT_FALSE(user->RemoveChild(u"a"));
  EXPECT_TRUE(held->IsDeleted());
  EXPECT_EQ(held->Parent(), nullptr);
  // What a handle still holds can be read, and changes go nowhere.
  EXPECT_NE(held->FindValue(u"V"), nullptr);
}

TEST(KeyTree, ValuesKeepTheirPlaceAndFirstSpelling) {
  KeyTree tree;
  KeyNode* key = tree.Root(HKEY_CURRENT_USER);
  key->SetValue(u"Zed", REG_SZ, {});
  key->SetValue(u"alpha", REG_BINARY, {1});
  key->SetValue(u"ZED", REG_DWORD, {4, 0, 0, 0});
  ASSERT_EQ(key->ValueCount(), 2u);
  EXPECT_EQ(key->ValueAt(0)->name, u"Zed");
  EXPECT_EQ(key->ValueAt(0)->type, DWORD{REG_DWORD});
  EXPECT_EQ(key->MaxValueDataSize(), 4u);
  EXPECT_TRUE(key->DeleteValue(u"zed"));
  EXPECT_EQ(key->MaxValueDataSize(), 1u);
  EXPECT_EQ(key->MaxValueNameLength(), 5u);
  EXPECT_EQ(key->ValueAt(0)->name, u"alpha");
  EXPECT_EQ(key->ValueAt(1), nullptr);
}

// Random creations and removals of children and values, mirrored in sorted
// maps; after every step positions, lookups and the longest names agree.
TEST(KeyTree, IndexesAgreeWithASortedMapUnderRandomChanges) {
  KeyTree tree;
  KeyNode* key = tree.Root(HKEY_USERS);
  std::map<std::u16string, std::u16string> children;  // folded → as made
  std::map<std::uint64_t, std::u16string> values;     // creation → name
  std::map<std::u16string, std::uint64_t> valueSerial;
  std::uint64_t serial = 0;
  std::mt19937 random(12345);
  auto randomName = [&random] {
    std::u16string name;
    const int length = 1 + random() % 6;
    for (int i = 0; i < length; ++i) {
      static constexpr char16_t kLetters[] = u"aAbBcC_\xE9\xC9";
      name += kLetters[random() % 9];
    }
    return name;
  };
  for (int step = 0; step < 4000; ++step) {
    const std::u16string name = randomName();
    const std::u16string folded = FoldName(name);
    switch (random() % 4) {
      case 0: {
        bool created = false;
        key->CreateChild(name, false, &created);
        EXPECT_EQ(created, children.count(folded) == 0);
        children.emplace(folded, name);
        break;
      }
      case 1:
        EXPECT_EQ(key->RemoveChild(name), children.erase(folded) == 1);
        break;
      case 2:
        key->SetValue(name, REG_NONE, {});
        if (valueSerial.emplace(folded, serial).second) {
          values.emplace(serial++, name);
        }
        break;
      case 3: {
        const auto it = valueSerial.find(folded);
        EXPECT_EQ(key->DeleteValue(name), it != valueSerial.end());
        if (it != valueSerial.end()) {
          values.erase(it->second);
          valueSerial.erase(it);
        }
        break;
      }
    }
    ASSERT_EQ(key->ChildCount(), children.size());
    ASSERT_EQ(key->ValueCount(), values.size());
    if (step % 97 != 0) continue;
    std::size_t i = 0, longest = 0;
    for (const auto& [fold, made] : children) {
      ASSERT_EQ(key->ChildAt(i++)->Name(), made);
      ASSERT_EQ(key->FindChild(fold)->Name(), made);
      longest = std::max(longest, made.size());
    }
    EXPECT_EQ(key->MaxChildNameLength(), longest);
    i = 0;
    for (const auto& [order, made] : values) {
      ASSERT_EQ(key->ValueAt(i++)->name, made);
    }
    const auto all = key->Children();
    ASSERT_EQ(all.size(), children.size());
  }
}

}  // namespace
}  // namespace corvane::platform::emulated
