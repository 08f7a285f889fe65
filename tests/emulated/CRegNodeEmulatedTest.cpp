// CRegNode where only the emulated registry can go: denied access rights,
// the handle table, and handles that die under a node.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "errors/MErrors.h"
#include "errors/RaisedError.h"
#include "platform/emulated/TestHooks.h"
#include "registry/CRegItem.h"
#include "registry/CRegNode.h"
#include "registry/IUseRegItems.h"
#include "support/Raised.h"
#include "support/ScratchKey.h"

namespace corvane {
namespace {

using namespace platform;
namespace hooks = platform::emulated;

using testing::Api;
using testing::RaisedBy;

class CRegNodeEmulatedTest : public ::testing::Test {
 protected:
  ~CRegNodeEmulatedTest() override {
    hooks::ClearDenials();
    hooks::SetUntranslatable(L'\0');
  }

  std::wstring PathOf(const std::string& relative = "") const {
    return AnsiToWide(relative.empty() ? scratch_.Path()
                                       : scratch_.Path() + "\\" + relative);
  }
  void Deny(const std::string& relative, REGSAM rights) {
    hooks::DenyAccess(HKEY_CURRENT_USER,
                      (scratch_.Path() + "\\" + relative).c_str(), rights);
  }

  testing::ScratchKey scratch_;
};

TEST_F(CRegNodeEmulatedTest, ReTargetingHoldsAtMostOneHandle) {
  scratch_.Make("A");
  scratch_.Make("B");
  const std::size_t before = hooks::OpenHandleCount();
  {
    const auto node = CRegNode::New();
    const std::wstring paths[] = {PathOf("A"), PathOf("B")};
    for (int i = 0; i < 100000; ++i) node->Create(paths[i % 2]);
    EXPECT_LE(hooks::OpenHandleCount(), before + 1);

    for (int i = 0; i < 1000; ++i) {
      node->SetKey(HKEY_CURRENT_USER, PathOf("A"));
      node->SetKey(node->Key());
      node->SetKey(scratch_.Handle(), 1);
    }
    EXPECT_LE(hooks::OpenHandleCount(), before + 1);

    // A failed open leaves the null handle, and the old one closed.
    for (int i = 0; i < 1000; ++i) {
      RaisedBy([&] { node->Create(PathOf("A")); });
      RaisedBy([&] { node->Create(PathOf("Missing")); });
    }
    EXPECT_EQ(hooks::OpenHandleCount(), before);
  }
  EXPECT_EQ(hooks::OpenHandleCount(), before);
}

TEST_F(CRegNodeEmulatedTest, EveryNodeAndItemGivesItsHandleBack) {
  scratch_.Make("Tree\\Leaf");
  const std::size_t before = hooks::OpenHandleCount();
  {
    const auto node = CRegNode::New();
    node->Create(PathOf());
    node->AddItem(1, L"v");
    const auto child = node->AddNode(L"New\\Deeper");
    const auto item = child->Items();
    IUseRegItems use;
    node->WalkAllNodes(use, node, 0);
    node->WalkItems(use, 0);
    node->RemoveNode(L"Tree");
    node->SetKey(Variant(static_cast<std::int32_t>(HKEY_LOCAL_MACHINE)));
  }
  EXPECT_EQ(hooks::OpenHandleCount(), before);
}

TEST_F(CRegNodeEmulatedTest, RemoveNodeAnswersFalseWhenDeleteIsDenied) {
  scratch_.Make("Keep");
  scratch_.Make("Tree\\Locked");
  Deny("Keep", DELETE);
  Deny("Tree\\Locked", DELETE);
  const auto node = CRegNode::New();
  node->Create(PathOf());
  node->SetAccess(KEY_READ);  // the child must open at all to be deleted
  EXPECT_FALSE(node->RemoveNode(L"Keep"));
  EXPECT_FALSE(node->RemoveNode(L"Tree"));
  EXPECT_EQ(node->Nodes(L"Tree")->Name(), L"Tree");
  EXPECT_EQ(node->Nodes(L"Keep")->Name(), L"Keep");
}

TEST_F(CRegNodeEmulatedTest, AddNodeRaisesWhenTheParentRefusesChildren) {
  scratch_.Make("Closed");
  Deny("Closed", KEY_CREATE_SUB_KEY);
  const auto node = CRegNode::New();
  node->Create(PathOf("Closed"), HKEY_CURRENT_USER, KEY_READ);
  EXPECT_EQ(RaisedBy([&] { node->AddNode(L"Child"); }),
            Api(ERROR_ACCESS_DENIED));
  EXPECT_EQ(RaisedBy([&] { node->Nodes(L"Child"); }),
            Api(ERROR_FILE_NOT_FOUND));
}

TEST_F(CRegNodeEmulatedTest, AFailedCloseInADestructorIsDropped) {
  auto stale = CRegNode::New();
  stale->Create(PathOf());
  auto item = stale->Items();
  // Throwing the registry away invalidates every open handle.
  hooks::ResetRegistry();
  const auto fresh = CRegNode::New();
  fresh->Create(L"SOFTWARE\\Classes", HKEY_LOCAL_MACHINE);
  const std::size_t open = hooks::OpenHandleCount();
  ASSERT_EQ(open, 1u);
  item.reset();
  stale.reset();  // the node's close fails here
  // Nothing else was closed or disturbed.
  EXPECT_EQ(hooks::OpenHandleCount(), open);
  EXPECT_EQ(fresh->Nodes(L"AppID")->Name(), L"AppID");
}

TEST_F(CRegNodeEmulatedTest, ANameTheCodePageCantCarryRaisesAndReachesNoKey) {
  // There to be found, should the name get through after all.
  scratch_.Make("caf\xE9");
  const auto node = CRegNode::New();
  node->Create(PathOf());
  node->AddItem(L"root's", L"");
  hooks::SetUntranslatable(L'\u00E9');
  const std::int32_t untranslated = Api(ERROR_NO_UNICODE_TRANSLATION);

  // Nothing may fall through to the empty name: the default value, or the
  // key the node stands on.
  EXPECT_EQ(RaisedBy([&] { node->AddItem(1, L"caf\u00E9"); }), untranslated);
  EXPECT_EQ(RaisedBy([&] { node->Items(L"caf\u00E9"); }), untranslated);
  EXPECT_EQ(RaisedBy([&] { node->RemoveItem(L"caf\u00E9"); }), untranslated);
  EXPECT_EQ(RaisedBy([&] { node->AddNode(L"caf\u00E9\\x"); }), untranslated);
  EXPECT_EQ(RaisedBy([&] { node->Nodes(L"caf\u00E9"); }), untranslated);
  EXPECT_EQ(node->Value(), Variant(L"root's"));
  EXPECT_EQ(node->ItemCount(), 1);

  // Re-targeting lets the old key go, as a failed open does.
  EXPECT_EQ(RaisedBy([&] { node->SetKey(L"caf\u00E9"); }), untranslated);
  EXPECT_EQ(node->Name(), L"caf\u00E9");
  EXPECT_EQ(node->Key(), Variant(0));
}

}  // namespace
}  // namespace corvane
