// The walks of CRegNode over subkeys, values and whole key trees, with a
// visitor that records what it sees. Runs on both backends.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "errors/RaisedError.h"
#include "errors/RuntimeError.h"
#include "registry/CRegItem.h"
#include "registry/CRegNode.h"
#include "registry/IUseRegItems.h"
#include "support/Raised.h"
#include "support/ScratchKey.h"

namespace corvane {
namespace {

using namespace platform;
using testing::RaisedBy;

// Records every visit as "name@level" and accepts the entry named `accept`.
// Node names are the last component, so that nodeStart reads like the rest.
class Recorder : public IUseRegItems {
 public:
  explicit Recorder(std::wstring accept = L"") : accept_(std::move(accept)) {}

  bool UseNode(const std::shared_ptr<CRegNode>& node,
               std::int32_t iLevel) override {
    return Visit(node->Name(), iLevel, node);
  }
  bool UseItem(const std::shared_ptr<CRegItem>& item,
               std::int32_t iLevel) override {
    return Visit(item->Name(), iLevel, item);
  }

  std::vector<std::wstring> visits;
  // Kept alive, so that a later object cannot reuse its address.
  std::shared_ptr<const void> accepted;
  std::function<void()> onVisit;

 private:
  bool Visit(const std::wstring& name, std::int32_t iLevel,
             std::shared_ptr<const void> object) {
    const std::wstring last = name.substr(name.find_last_of(L'\\') + 1);
    visits.push_back(last + L"@" + std::to_wstring(iLevel));
    if (onVisit) onVisit();
    if (last != accept_) return false;
    accepted = std::move(object);
    return true;
  }

  std::wstring accept_;
};

using Visits = std::vector<std::wstring>;

class WalkTest : public ::testing::Test {
 protected:
  // A node on the scratch key named by its last component, "R".
  std::shared_ptr<CRegNode> Root() {
    auto node = CRegNode::New();
    node->Create(AnsiToWide(scratch_.Path()));
    return node;
  }
  // R with A (holding A1) and B.
  std::shared_ptr<CRegNode> Tree() {
    scratch_.Make("A\\A1");
    scratch_.Make("B");
    return Root();
  }
  std::wstring RootName() {
    const std::wstring path = AnsiToWide(scratch_.Path());
    return path.substr(path.find_last_of(L'\\') + 1);
  }

  testing::ScratchKey scratch_;
};

TEST_F(WalkTest, KeyWithoutSubkeys) {
  const auto root = Root();
  Recorder use;
  EXPECT_EQ(root->WalkNodes(use, 0), nullptr);
  EXPECT_TRUE(use.visits.empty());
  EXPECT_EQ(root->WalkAllNodes(use, root, 4), nullptr);
  EXPECT_EQ(use.visits, Visits{RootName() + L"@4"});
}

TEST_F(WalkTest, WalkNodesStopsAtTheAcceptedSubkeyAndReturnsANewNode) {
  scratch_.Make("A");
  scratch_.Make("B");
  scratch_.Make("C");
  Recorder use(L"B");
  const auto found = Root()->WalkNodes(use, 7);
  EXPECT_EQ(use.visits, (Visits{L"A@8", L"B@8"}));
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->Name(), L"B");
  EXPECT_NE(found, use.accepted);
}

TEST_F(WalkTest, WalkAllNodesIsPreOrderDepthFirst) {
  const auto root = Tree();
  Recorder all;
  EXPECT_EQ(root->WalkAllNodes(all, root, 0), nullptr);
  EXPECT_EQ(all.visits, (Visits{RootName() + L"@0", L"A@1", L"A1@2", L"B@1"}));

  Recorder deep(L"A1");
  const auto found = root->WalkAllNodes(deep, root, 0);
  EXPECT_EQ(deep.visits, (Visits{RootName() + L"@0", L"A@1", L"A1@2"}));
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->Name(), L"A1");
  EXPECT_EQ(found, deep.accepted);
}

TEST_F(WalkTest, WalkAllNodesAcceptingTheStartReturnsItself) {
  const auto root = Tree();
  Recorder use(RootName());
  // Any node may carry the call; the tree walked is nodeStart's.
  EXPECT_EQ(CRegNode::New()->WalkAllNodes(use, root, 0), root);
  EXPECT_EQ(use.visits.size(), 1u);
}

TEST_F(WalkTest, TheDefaultVisitorAcceptsNothing) {
  const auto root = Tree();
  root->AddItem(1, L"x");
  IUseRegItems use;
  EXPECT_EQ(root->WalkAllNodes(use, root, 0), nullptr);
  EXPECT_EQ(root->WalkNodes(use, 0), nullptr);
  EXPECT_EQ(root->WalkItems(use, 0), nullptr);
}

TEST_F(WalkTest, WalkAllNodesWithoutAStartNodeRaises91) {
  Recorder use;
  try {
    Root()->WalkAllNodes(use, nullptr, 0);
    ADD_FAILURE() << "no error for a missing start node";
  } catch (const RaisedError& e) {
    EXPECT_EQ(e.Number(), 91);
    EXPECT_EQ(e.Description(),
              L"Object variable or With block variable not set");
  }
  EXPECT_TRUE(use.visits.empty());
}

TEST_F(WalkTest, WalkItemsInPositionOrder) {
  const auto root = Root();
  root->AddItem(1, L"X");
  root->AddItem(2, L"Y");
  Recorder none;
  EXPECT_EQ(root->WalkItems(none, 0), nullptr);
  EXPECT_EQ(none.visits, (Visits{L"X@1", L"Y@1"}));

  Recorder y(L"Y");
  const auto found = root->WalkItems(y, 0);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->Name(), L"Y");
  EXPECT_EQ(found->Value(), Variant(2));
  EXPECT_NE(found, y.accepted);
}

TEST_F(WalkTest, PositionsAreFixedWhenTheLoopBegins) {
  scratch_.Make("A");
  scratch_.Make("B");
  const auto root = Root();
  EXPECT_EQ(root->NodeCount(), 2);
  scratch_.Make("C");
  Recorder use;
  root->WalkNodes(use, 0);
  EXPECT_EQ(use.visits, (Visits{L"A@1", L"B@1"}));

  // A subkey that vanishes during the loop leaves its position empty.
  use.visits.clear();
  const auto fresh = Root();
  use.onVisit = [&] {
    if (use.visits.size() == 1) fresh->RemoveNode(L"C");
  };
  EXPECT_NE(RaisedBy([&] { fresh->WalkNodes(use, 0); }), 0)
      << "walk past the last subkey did not raise";
  EXPECT_EQ(use.visits, (Visits{L"A@1", L"B@1"}));
}

TEST_F(WalkTest, AVisitorsErrorEndsTheWalk) {
  const auto root = Tree();
  Recorder use;
  use.onVisit = [&] {
    if (use.visits.size() == 2) RaiseRuntimeError(kTypeMismatch);
  };
  EXPECT_EQ(RaisedBy([&] { root->WalkAllNodes(use, root, 0); }), kTypeMismatch);
  EXPECT_EQ(use.visits.size(), 2u);
}

TEST_F(WalkTest, TheLevelOverflowsOnlyWhenAnEntryBelowIsVisited) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  const auto leaf = Root();
  Recorder use;
  EXPECT_EQ(leaf->WalkNodes(use, kMax), nullptr);
  EXPECT_EQ(leaf->WalkItems(use, kMax), nullptr);
  EXPECT_EQ(leaf->WalkAllNodes(use, leaf, kMax), nullptr);

  const auto root = Tree();
  root->AddItem(1, L"x");
  EXPECT_EQ(RaisedBy([&] { root->WalkNodes(use, kMax); }), kOverflow);
  EXPECT_EQ(RaisedBy([&] { root->WalkItems(use, kMax); }), kOverflow);
  EXPECT_EQ(RaisedBy([&] { root->WalkAllNodes(use, root, kMax); }), kOverflow);
}

}  // namespace
}  // namespace corvane
