// CRegNode on a scratch key: opening, re-targeting, counting, and adding and
// removing subkeys and values. Runs on both backends.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "errors/MErrors.h"
#include "errors/RaisedError.h"
#include "registry/CRegItem.h"
#include "registry/CRegNode.h"
#include "support/Raised.h"
#include "support/ScratchKey.h"

namespace corvane {
namespace {

using namespace platform;

using testing::Api;
using testing::RaisedBy;

Variant Handle(HKEY hKey) { return Variant(static_cast<std::int32_t>(hKey)); }

class CRegNodeTest : public ::testing::Test {
 protected:
  // The scratch path, below HKEY_CURRENT_USER, with `relative` appended.
  std::wstring PathOf(const std::wstring& relative = L"") const {
    std::wstring path = AnsiToWide(scratch_.Path());
    if (!relative.empty()) path += L"\\" + relative;
    return path;
  }
  std::shared_ptr<CRegNode> NodeOn(const std::wstring& relative = L"") {
    auto node = CRegNode::New();
    node->Create(PathOf(relative));
    return node;
  }

  testing::ScratchKey scratch_;
};

TEST_F(CRegNodeTest, NewNodeWorksOnCurrentUserWithoutAName) {
  const auto node = CRegNode::New();
  EXPECT_EQ(node->Key(), Variant(-2147483647));
  EXPECT_EQ(node->Name(), L"");
  EXPECT_EQ(node->Access(), 0xF003Fu);
}

TEST_F(CRegNodeTest, CreateOpensAPathAndReTargets) {
  scratch_.Make("A");
  scratch_.Make("B");
  const auto node = CRegNode::New();
  node->Create(PathOf(L"A"));
  EXPECT_EQ(node->Name(), PathOf(L"A"));
  node->AddItem(L"in A", L"tag");

  node->Create(PathOf(L"B"));
  EXPECT_EQ(node->Name(), PathOf(L"B"));
  EXPECT_TRUE(node->Items(L"tag")->Value().IsEmpty());
  EXPECT_EQ(NodeOn(L"A")->Items(L"tag")->Value(), Variant(L"in A"));
}

TEST_F(CRegNodeTest, AfterAFailedOpenOnlyReadsByNameSucceed) {
  const auto node = NodeOn();
  node->AddItem(1, L"x");
  EXPECT_EQ(node->ItemCount(), 1);
  EXPECT_EQ(RaisedBy([&] { node->Create(PathOf(L"Missing")); }),
            Api(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(scratch_.Has("Missing"));

  EXPECT_EQ(node->Name(), PathOf(L"Missing"));
  EXPECT_EQ(node->Key(), Variant(0));
  EXPECT_TRUE(node->Items(L"x")->Value().IsEmpty());
  EXPECT_TRUE(node->Value().IsEmpty());
  const std::int32_t invalid = Api(ERROR_INVALID_HANDLE);
  EXPECT_EQ(RaisedBy([&] { node->AddItem(1, L"x"); }), invalid);
  EXPECT_EQ(RaisedBy([&] { node->Items(0); }), invalid);
  EXPECT_EQ(RaisedBy([&] { node->Nodes(0); }), invalid);
  // The count read before belonged to the key the node left.
  EXPECT_EQ(RaisedBy([&] { node->ItemCount(); }), invalid);
  EXPECT_EQ(RaisedBy([&] { node->SetKey(L"A"); }), invalid);
}

TEST_F(CRegNodeTest, CreateRefusesKindsOtherThanNameOrPosition) {
  const struct {
    const char* kind;
    Variant vIndex;
  } cases[] = {
      {"Empty", Variant()},       {"Null", Variant::Null()},
      {"double 0", Variant(0.0)}, {"Boolean", Variant::Bool(false)},
      {"byte", Variant::Byte(0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    const auto node = NodeOn();
    const Variant before = node->Key();
    EXPECT_EQ(
        RaisedBy([&] { node->Create(c.vIndex, HKEY_CURRENT_USER, KEY_READ); }),
        Api(ERROR_INVALID_DATA));
    EXPECT_EQ(node->Access(), KEY_READ);
    EXPECT_EQ(node->Key(), before);
    EXPECT_EQ(node->Name(), PathOf());
  }
}

TEST_F(CRegNodeTest, CreateByPositionTakesTheSubkeyNameAtThatPosition) {
  scratch_.Make("Alpha");
  scratch_.Make("Beta");
  const auto node = CRegNode::New();
  node->Create(0, scratch_.Handle());
  EXPECT_EQ(node->Name(), L"Alpha");
  node->Create(Variant(std::int16_t{1}), scratch_.Handle());
  EXPECT_EQ(node->Name(), L"Beta");
  node->AddItem(L"here", L"mark");

  // No open is tried for a position that holds no subkey: the key stays.
  const Variant before = node->Key();
  EXPECT_EQ(RaisedBy([&] { node->Create(2, scratch_.Handle()); }),
            Api(ERROR_NO_MORE_ITEMS));
  EXPECT_EQ(node->Key(), before);
  EXPECT_EQ(node->Items(L"mark")->Value(), Variant(L"here"));
}

TEST_F(CRegNodeTest, AccessWriteKeepsOnlyKeyRightsButCreateKeepsAll) {
  const struct {
    REGSAM assigned, kept;
  } cases[] = {{0xFFFFFFFFu, 0xF003Fu},
               {KEY_READ, KEY_READ},
               {0, 0},
               {MAXIMUM_ALLOWED | KEY_WRITE, KEY_WRITE}};
  const auto node = CRegNode::New();
  for (const auto& c : cases) {
    node->SetAccess(c.assigned);
    EXPECT_EQ(node->Access(), c.kept) << std::hex << c.assigned;
  }
  // Create stores its rights as given, whether or not the open succeeds.
  for (const REGSAM rights : {0xFFFFFFFFu, MAXIMUM_ALLOWED | KEY_READ}) {
    RaisedBy([&] { node->Create(PathOf(), HKEY_CURRENT_USER, rights); });
    EXPECT_EQ(node->Access(), rights) << std::hex << rights;
  }
}

TEST_F(CRegNodeTest, KeyWriteWithANameDescendsFromTheCurrentKey) {
  scratch_.Make("Child\\Grandchild");
  const auto node = NodeOn();
  node->SetKey(L"Child");
  EXPECT_EQ(node->Name(), L"Child");
  // A RootKey of -1 is "not given": the name is still below the current key.
  node->SetKey(0xFFFFFFFFu, L"Grandchild");
  EXPECT_EQ(node->Name(), L"Grandchild");
  node->AddItem(L"deep", L"mark");
  EXPECT_EQ(NodeOn(L"Child\\Grandchild")->Items(L"mark")->Value(),
            Variant(L"deep"));
}

TEST_F(CRegNodeTest, KeyWriteWithARootTakesANameOrAPosition) {
  scratch_.Make("First");
  scratch_.Make("Second");
  const auto node = CRegNode::New();
  node->SetKey(scratch_.Handle(), L"Second");
  EXPECT_EQ(node->Name(), L"Second");
  node->SetKey(scratch_.Handle(), 0);
  EXPECT_EQ(node->Name(), L"First");
  EXPECT_EQ(RaisedBy([&] { node->SetKey(scratch_.Handle(), 2); }),
            Api(ERROR_NO_MORE_ITEMS));
}

TEST_F(CRegNodeTest, KeyWriteWithAHandleReopensIt) {
  const auto node = NodeOn();
  node->AddItem(L"v", L"mark");
  // Re-targeting at the node's own handle must not close it before use.
  node->SetKey(node->Key());
  EXPECT_EQ(node->Name(), PathOf());
  EXPECT_EQ(node->Items(L"mark")->Value(), Variant(L"v"));

  const auto other = CRegNode::New();
  other->SetKey(node->Key());
  EXPECT_NE(other->Key(), node->Key());
  EXPECT_EQ(other->Name(), L"");
  EXPECT_EQ(other->Items(L"mark")->Value(), Variant(L"v"));

  other->SetKey(Handle(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(other->Key(), Handle(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(other->Name(), L"HKEY_LOCAL_MACHINE");

  // Empty is the null handle: the open fails and the name stays.
  EXPECT_EQ(RaisedBy([&] { other->SetKey(Variant()); }),
            Api(ERROR_INVALID_HANDLE));
  EXPECT_EQ(other->Key(), Variant(0));
  // A kind that does not convert to an integer raises the conversion error.
  EXPECT_EQ(RaisedBy([&] { other->SetKey(Variant::Null()); }), 94);
}

TEST_F(CRegNodeTest, CountsAreReadOnceAndForgottenOnReTargeting) {
  scratch_.Make("Other\\Sub");
  const auto node = NodeOn();
  node->AddItem(1, L"one");
  EXPECT_EQ(node->ItemCount(), 1);
  EXPECT_EQ(node->NodeCount(), 1);
  node->AddItem(2, L"two");
  node->AddNode(L"New");
  EXPECT_EQ(node->ItemCount(), 1);
  EXPECT_EQ(node->NodeCount(), 1);

  node->Create(PathOf(L"Other"));
  EXPECT_EQ(node->ItemCount(), 0);
  EXPECT_EQ(node->NodeCount(), 1);
  node->SetKey(L"Sub");
  EXPECT_EQ(node->NodeCount(), 0);
}

TEST_F(CRegNodeTest, TheDefaultValueIsTheItemLeftOutButEmptyIsRefused) {
  const auto node = NodeOn();
  EXPECT_TRUE(node->Value().IsEmpty());
  node->AddItem(L"Gemini Driver");
  EXPECT_EQ(node->Value(), Variant(L"Gemini Driver"));
  node->SetValue(7);
  EXPECT_EQ(node->Items()->Value(), Variant(7));
  const std::int32_t invalid = Api(ERROR_INVALID_DATA);
  EXPECT_EQ(RaisedBy([&] { node->AddItem(Variant::Bool(true)); }), invalid);
  EXPECT_EQ(RaisedBy([&] { node->Items(Variant()); }), invalid);
  EXPECT_EQ(RaisedBy([&] { node->RemoveItem(Variant()); }), invalid);
  EXPECT_EQ(node->Items(L"Absent")->Name(), L"Absent");
  EXPECT_EQ(RaisedBy([&] { node->Items(1); }), Api(ERROR_NO_MORE_ITEMS));
  node->RemoveItem();
  EXPECT_TRUE(node->Value().IsEmpty());
}

TEST_F(CRegNodeTest, RemoveItemByNameOrPosition) {
  const auto node = NodeOn();
  node->AddItem(1, L"a");
  node->AddItem(2, L"b");
  EXPECT_EQ(RaisedBy([&] { node->RemoveItem(L"zz"); }),
            Api(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(RaisedBy([&] { node->RemoveItem(2); }), Api(ERROR_NO_MORE_ITEMS));
  node->RemoveItem(0);
  EXPECT_TRUE(node->Items(L"a")->Value().IsEmpty());
  node->RemoveItem(L"b");
  EXPECT_TRUE(node->Items(L"b")->Value().IsEmpty());
}

TEST_F(CRegNodeTest, AddNodeCreatesEveryLevelOrOpensWhatExists) {
  const auto node = NodeOn();
  node->SetAccess(KEY_READ | KEY_WRITE);
  const auto child = node->AddNode(L"One\\Two");
  EXPECT_EQ(child->Name(), L"One\\Two");
  EXPECT_EQ(child->Access(), KEY_READ | KEY_WRITE);
  EXPECT_TRUE(scratch_.Has("One\\Two"));
  child->AddItem(L"kept", L"mark");
  EXPECT_EQ(node->AddNode(L"One\\Two")->Items(L"mark")->Value(),
            Variant(L"kept"));
}

TEST_F(CRegNodeTest, NodesOpensAChildWithTheParentsAccess) {
  scratch_.Make("Kid");
  const auto node = NodeOn();
  node->SetAccess(KEY_READ);
  const auto byName = node->Nodes(L"Kid");
  const auto byPosition = node->Nodes(0);
  EXPECT_EQ(byName->Name(), L"Kid");
  EXPECT_EQ(byPosition->Name(), L"Kid");
  EXPECT_EQ(byName->Access(), KEY_READ);
  EXPECT_EQ(RaisedBy([&] { node->Nodes(L"None"); }), Api(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(RaisedBy([&] { node->Nodes(1); }), Api(ERROR_NO_MORE_ITEMS));
}

TEST_F(CRegNodeTest, RemoveNodeWithOrWithoutTheSubtree) {
  scratch_.Make("Tree\\Leaf\\Deeper");
  scratch_.Make("Tree\\Other");
  scratch_.Make("Single");
  const auto node = NodeOn();

  EXPECT_FALSE(node->RemoveNode(L"Tree", false));
  EXPECT_FALSE(node->RemoveNode(L"Tree", Variant::Null()));
  EXPECT_TRUE(scratch_.Has("Tree\\Leaf\\Deeper"));
  EXPECT_TRUE(node->RemoveNode(L"Tree"));
  EXPECT_FALSE(scratch_.Has("Tree"));

  EXPECT_TRUE(node->RemoveNode(0, Variant::Bool(false)));
  EXPECT_FALSE(scratch_.Has("Single"));
  EXPECT_EQ(RaisedBy([&] { node->RemoveNode(L"Single"); }),
            Api(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(RaisedBy([&] { node->RemoveNode(0); }), Api(ERROR_NO_MORE_ITEMS));
}

TEST_F(CRegNodeTest, ItemsKeepTheirNodeAlive) {
  auto node = NodeOn();
  node->AddItem(3, L"n");
  const auto item = node->Items(L"n");
  node.reset();
  EXPECT_EQ(item->Count(), 1);
  item->SetValue(4);
  EXPECT_EQ(NodeOn()->Items(L"n")->Value(), Variant(4));
}

}  // namespace
}  // namespace corvane
