// CRegItem on a scratch key: reading by name and position, writing back,
// and the item as a snapshot of its value. Runs on both backends.
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

class CRegItemTest : public ::testing::Test {
 protected:
  CRegItemTest() {
    node_ = CRegNode::New();
    node_->Create(AnsiToWide(scratch_.Path()));
  }
  // The registry type stored under `name`, straight from the registry.
  DWORD StoredType(const char* name) {
    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(scratch_.Handle(), name, nullptr, &type, nullptr,
                               &size),
              ERROR_SUCCESS);
    return type;
  }

  testing::ScratchKey scratch_;
  std::shared_ptr<CRegNode> node_;
};

TEST_F(CRegItemTest, ByNameReadsThroughTheNameGivenAndKeepsIt) {
  node_->AddItem(L"abc", L"Mixed");
  const auto item = CRegItem::New();
  item->Create(node_, L"MIXED");
  EXPECT_EQ(item->Name(), L"MIXED");
  EXPECT_EQ(item->Value(), Variant(L"abc"));

  // A name outside the code page reaches the registry as the code page
  // spells it ("?"), and the item still answers with the name it was given.
  const DWORD mark = 7;
  ASSERT_EQ(RegSetValueExA(scratch_.Handle(), "?", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&mark), sizeof mark),
            ERROR_SUCCESS);
  item->Create(node_, L"\u4E2D");
  EXPECT_EQ(item->Name(), L"\u4E2D");
  EXPECT_EQ(item->Value(), Variant(7));
}

TEST_F(CRegItemTest, ByEitherIntegerWidthReadsTheStoredName) {
  node_->AddItem(5, L"First");
  node_->AddItem(6, L"Second");
  for (const Variant& zero : {Variant(std::int16_t{0}), Variant(0)}) {
    const auto item = CRegItem::New();
    item->Create(node_, zero);
    EXPECT_EQ(item->Name(), L"First");
    EXPECT_EQ(item->Value(), Variant(5));
  }
  const auto item = CRegItem::New();
  EXPECT_EQ(RaisedBy([&] { item->Create(node_, 2); }),
            Api(ERROR_NO_MORE_ITEMS));
  EXPECT_TRUE(item->Value().IsEmpty());
}

TEST_F(CRegItemTest, RefusesOtherKindsAfterTakingTheNode) {
  node_->AddItem(1, L"only");
  const struct {
    const char* kind;
    Variant vIndex;
  } cases[] = {
      {"double 0", Variant(0.0)},
      {"Boolean", Variant::Bool(false)},
      {"Empty", Variant()},
      {"Null", Variant::Null()},
      {"byte 0", Variant::Byte(0)},
      {"string array", Variant::StringArray({L"only"})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    const auto item = CRegItem::New();
    EXPECT_EQ(RaisedBy([&] { item->Create(node_, c.vIndex); }),
              Api(ERROR_INVALID_DATA));
    EXPECT_EQ(item->Count(), 1);
    EXPECT_TRUE(item->Value().IsEmpty());
  }
}

TEST_F(CRegItemTest, WritingChangesTheRegistryButNotTheSnapshot) {
  node_->AddItem(L"text", L"v");
  const auto item = node_->Items(L"v");
  item->SetValue(1);
  EXPECT_EQ(StoredType("v"), REG_DWORD);
  EXPECT_EQ(item->Value(), Variant(L"text"));
  EXPECT_EQ(node_->Items(L"v")->Value(), Variant(1));

  EXPECT_EQ(RaisedBy([&] { item->SetValue(Variant::Bool(true)); }),
            Api(ERROR_INVALID_DATA));
  EXPECT_EQ(StoredType("v"), REG_DWORD);
  EXPECT_EQ(node_->Items(L"v")->Value(), Variant(1));
}

TEST_F(CRegItemTest, CountIsTheNodesCachedCount) {
  node_->AddItem(1, L"a");
  const auto first = node_->Items(L"a");
  const auto second = node_->Items(0);
  EXPECT_EQ(first->Count(), 1);
  second->SetValue(2);
  node_->Items(L"b")->SetValue(3);
  EXPECT_EQ(first->Count(), 1);
  EXPECT_EQ(second->Count(), 1);
}

TEST_F(CRegItemTest, WritesFollowTheNodeWhereverItWent) {
  scratch_.Make("Elsewhere");
  const auto item = node_->Items(L"moved");
  node_->SetKey(L"Elsewhere");
  item->SetValue(L"there");
  EXPECT_EQ(node_->Items(L"moved")->Value(), Variant(L"there"));
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(scratch_.Handle(), "moved", nullptr, nullptr,
                             nullptr, &size),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(CRegItemTest, CreatingAgainRereads) {
  node_->AddItem(1, L"a");
  const auto item = node_->Items(L"a");
  // By name, a value that is not there leaves the old content.
  item->Create(node_, L"absent");
  EXPECT_EQ(item->Name(), L"absent");
  EXPECT_EQ(item->Value(), Variant(1));
  // By position, the content is cleared before the read fails.
  EXPECT_EQ(RaisedBy([&] { item->Create(node_, 5); }),
            Api(ERROR_NO_MORE_ITEMS));
  EXPECT_TRUE(item->Value().IsEmpty());
}

TEST_F(CRegItemTest, AnItemNeverCreatedHasNoKeyToAsk) {
  const auto item = CRegItem::New();
  EXPECT_EQ(item->Name(), L"");
  EXPECT_TRUE(item->Value().IsEmpty());
  EXPECT_EQ(RaisedBy([&] { item->Count(); }), Api(ERROR_INVALID_HANDLE));
  EXPECT_EQ(RaisedBy([&] { item->SetValue(1); }), Api(ERROR_INVALID_HANDLE));
}

TEST_F(CRegItemTest, AFailedWriteIsRaisedBeforeTheFlush) {
  node_->AddItem(1, L"ro");
  const auto reader = CRegNode::New();
  reader->Create(AnsiToWide(scratch_.Path()), HKEY_CURRENT_USER, KEY_READ);
  const auto item = reader->Items(L"ro");
  EXPECT_EQ(RaisedBy([&] { item->SetValue(2); }), Api(ERROR_ACCESS_DENIED));
  EXPECT_EQ(node_->Items(L"ro")->Value(), Variant(1));
}

}  // namespace
}  // namespace corvane
