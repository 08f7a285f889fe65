// The key tree on its own: its ordered indexes checked against a plain
// sorted map through long runs of random changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/RegistryNames.h"
#include "platform/emulated/KeyTree.h"

namespace corvane::platform::emulated {
namespace {

using base::FoldName;

TEST(KeyTree, FreshTreeHasTheRootsAndAppID) {
  KeyTree tree;
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

TEST(KeyTree, DeletedKeysKnowIt) {
  KeyTree tree;
  KeyNode* user = tree.Root(HKEY_CURRENT_USER);
  KeyNode* child = user->CreateChild(u"A")->CreateChild(u"B");
  std::shared_ptr<KeyNode> held = child->Shared();
  child->SetValue(u"v", REG_DWORD, {1, 0, 0, 0});
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

// Many children made in random order, then removed in random order and from
// the front: positions and lookups stay right while the children are spread
// over many chunks that split, merge and shrink back to one.
TEST(KeyTree, ManyChildrenKeepTheirOrderThroughSplitsAndMerges) {
  KeyTree tree;
  KeyNode* key = tree.Root(HKEY_USERS);
  constexpr int kCount = 5000;
  std::vector<int> order(kCount);
  for (int i = 0; i < kCount; ++i) order[i] = i;
  std::mt19937 random(99);
  std::shuffle(order.begin(), order.end(), random);
  auto nameOf = [](int i) {
    // Mixed case, so that the order and the lookups must fold.
    std::string text = i % 2 ? "key" : "KEY";
    text += std::to_string(100000 + i);
    return std::u16string(text.begin(), text.end());
  };
  std::map<std::u16string, std::u16string> mirror;  // folded → as made
  auto check = [&] {
    ASSERT_EQ(key->ChildCount(), mirror.size());
    std::size_t i = 0, longest = 0;
    for (const auto& [folded, made] : mirror) {
      const KeyNode* child = key->ChildAt(i++);
      ASSERT_NE(child, nullptr);
      ASSERT_EQ(child->Name(), made);
      ASSERT_EQ(key->FindChild(folded), child);
      longest = std::max(longest, made.size());
    }
    EXPECT_EQ(key->ChildAt(i), nullptr);
    EXPECT_EQ(key->MaxChildNameLength(), longest);
  };
  for (int i : order) {
    key->CreateChild(nameOf(i));
    mirror.emplace(FoldName(nameOf(i)), nameOf(i));
  }
  check();
  std::shuffle(order.begin(), order.end(), random);
  for (int n = 0; n < kCount / 2; ++n) {
    ASSERT_TRUE(key->RemoveChild(FoldName(nameOf(order[n]))));
    mirror.erase(FoldName(nameOf(order[n])));
  }
  check();
  while (key->ChildCount() > 0) {
    const std::u16string first = key->ChildAt(0)->Name();
    ASSERT_EQ(first, mirror.begin()->second);
    ASSERT_TRUE(key->RemoveChild(first));
    mirror.erase(mirror.begin());
    if (mirror.size() % 211 == 0) check();
  }
  EXPECT_EQ(key->FindChild(nameOf(order.back())), nullptr);
}

// Children and values made and removed at random while their numbers hover
// around the size at which a key starts (and stops) keeping indexes: the
// longest names, classes and data, and every lookup, match a plain mirror
// after each step.
TEST(KeyTree, IndexesFollowCountsUpAndDownAcrossTheSmallKeyLimit) {
  KeyTree tree;
  KeyNode* key = tree.Root(HKEY_USERS);
  std::mt19937 random(2024);
  struct Child {
    std::u16string name, className;
  };
  struct Value {
    std::u16string name;
    std::size_t size;
  };
  std::map<std::u16string, Child> children;  // folded → child
  std::vector<Value> values;                 // creation order
  auto randomName = [&random] {
    // 48 possible names of 16 lengths: the numbers settle around 24, and
    // the longest name is often missing, so the longest one present moves.
    std::u16string name(random() % 16, u'x');
    name += static_cast<char16_t>(u'a' + random() % 3);
    if (random() % 2) name[0] = u'X';
    return name;
  };
  auto findValue = [&values](const std::u16string& name) {
    return std::find_if(values.begin(), values.end(), [&](const Value& v) {
      return FoldName(v.name) == FoldName(name);
    });
  };
  for (int step = 0; step < 6000; ++step) {
    const std::u16string name = randomName();
    const std::u16string folded = FoldName(name);
    switch (random() % 5) {
      case 0: {
        KeyNode* child = key->CreateChild(name);
        children.emplace(folded, Child{name, {}});
        if (random() % 3 == 0) {
          std::u16string className(random() % 20, u'c');
          child->SetClassName(className);
          children[folded].className = className;
        }
        break;
      }
      case 1:
        ASSERT_EQ(key->RemoveChild(name), children.erase(folded) == 1);
        break;
      case 2:
      case 3: {
        const std::size_t size = random() % 40;
        key->SetValue(name, REG_BINARY, std::vector<BYTE>(size, 7));
        if (auto it = findValue(name); it != values.end()) {
          it->size = size;
        } else {
          values.push_back({name, size});
        }
        break;
      }
      case 4: {
        auto it = findValue(name);
        ASSERT_EQ(key->DeleteValue(name), it != values.end());
        if (it != values.end()) values.erase(it);
        break;
      }
    }
    // Deleting values must undo the creations' head start, or the count
    // would only ever grow: even out when it runs away.
    if (values.size() > 30) {
      ASSERT_TRUE(key->DeleteValue(values.front().name));
      values.erase(values.begin());
    }

    ASSERT_EQ(key->ChildCount(), children.size());
    ASSERT_EQ(key->ValueCount(), values.size());
    std::size_t longestName = 0, longestClass = 0, i = 0;
    for (const auto& [fold, child] : children) {
      ASSERT_EQ(key->ChildAt(i++)->Name(), child.name);
      ASSERT_EQ(key->FindChild(fold)->ClassName(), child.className);
      longestName = std::max(longestName, child.name.size());
      longestClass = std::max(longestClass, child.className.size());
    }
    ASSERT_EQ(key->MaxChildNameLength(), longestName) << "step " << step;
    ASSERT_EQ(key->MaxChildClassLength(), longestClass) << "step " << step;
    longestName = 0;
    std::size_t largest = 0;
    for (i = 0; i < values.size(); ++i) {
      ASSERT_EQ(key->ValueAt(i)->name, values[i].name);
      const KeyValue* found = key->FindValue(FoldName(values[i].name));
      ASSERT_EQ(found, key->ValueAt(i)) << "step " << step;
      ASSERT_EQ(found->data.size(), values[i].size);
      longestName = std::max(longestName, values[i].name.size());
      largest = std::max(largest, values[i].size);
    }
    ASSERT_EQ(key->ValueAt(values.size()), nullptr);
    ASSERT_EQ(key->MaxValueNameLength(), longestName) << "step " << step;
    ASSERT_EQ(key->MaxValueDataSize(), largest) << "step " << step;
  }
}

// Many values, deleted from the middle and the front: creation order and
// lookups by name survive values moving between chunks.
TEST(KeyTree, ManyValuesKeepCreationOrderThroughDeletions) {
  KeyTree tree;
  KeyNode* key = tree.Root(HKEY_USERS);
  std::vector<std::u16string> names;
  for (int i = 0; i < 3000; ++i) {
    // Created in an order unlike their sorted one.
    std::string text = "v";
    text += std::to_string((i * 7919) % 3000);
    names.emplace_back(text.begin(), text.end());
    key->SetValue(names.back(), REG_DWORD, {BYTE(i), BYTE(i >> 8), 0, 0});
  }
  std::mt19937 random(5);
  while (!names.empty()) {
    const std::size_t at = random() % 3 == 0 ? 0 : random() % names.size();
    ASSERT_TRUE(key->DeleteValue(names[at]));
    ASSERT_FALSE(key->DeleteValue(names[at]));
    names.erase(names.begin() + static_cast<std::ptrdiff_t>(at));
    ASSERT_EQ(key->ValueCount(), names.size());
    if (names.size() % 97 != 0) continue;
    for (std::size_t i = 0; i < names.size(); ++i) {
      ASSERT_EQ(key->ValueAt(i)->name, names[i]);
      ASSERT_EQ(key->FindValue(names[i]), key->ValueAt(i));
    }
  }
  EXPECT_EQ(key->ValueAt(0), nullptr);
  EXPECT_EQ(key->MaxValueNameLength(), 0u);
}

}  // namespace
}  // namespace corvane::platform::emulated
