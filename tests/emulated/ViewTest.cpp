// A view's cache against the change memory, two stores on one file
// standing for two processes: another's write makes a view drop what it
// changed (everything, when the ring can't tell), while reads, the view's
// own writes and others' writes elsewhere leave what it holds in place.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "StoreOfItsOwn.h"
#include "platform/emulated/view/View.h"

namespace corvane::platform::emulated {
namespace {

class ViewTest : public StoreOfItsOwn {
 protected:
  // The key `name` below HKEY_CURRENT_USER in `view`, made when missing.
  static LONG Make(View& view, std::u16string_view name) {
    return view.Write([&] {
      CachedKey* user = nullptr;
      CachedKey* key = nullptr;
      if (const LONG status = view.Key(seed::kCurrentUser, user)) {
        return status;
      }
      if (const LONG status = view.Child(*user, name, key)) return status;
      if (key != nullptr) return ERROR_SUCCESS;
      return view.CreateChild(*user, name, nullptr, false, key);
    });
  }

  static LONG SetByte(View& view, std::u16string_view name, BYTE byte) {
    return view.Write([&] {
      CachedKey* key = nullptr;
      if (const LONG status = Find(view, name, key)) return status;
      return view.SetValue(*key, u"v", REG_BINARY, {byte});
    });
  }

  static LONG Find(View& view, std::u16string_view name, CachedKey*& key) {
    CachedKey* user = nullptr;
    if (const LONG status = view.Key(seed::kCurrentUser, user)) return status;
    if (const LONG status = view.Child(*user, name, key)) return status;
    return key != nullptr ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  }

  // The byte of `name`'s value, read in one call of `view`; and the key's
  // entry in the view.
  static BYTE ReadByte(View& view, std::u16string_view name,
                       CachedKey** entry = nullptr) {
    BYTE byte = 0;
    EXPECT_EQ(view.Read([&] {
      CachedKey* key = nullptr;
      if (const LONG status = Find(view, name, key)) return status;
      if (const LONG status = view.LoadValues(*key)) return status;
      const CachedValue* value = view.FindValue(*key, u"v");
      if (value == nullptr || value->data.size() != 1) {
        return ERROR_FILE_NOT_FOUND;
      }
      byte = value->data[0];
      if (entry != nullptr) *entry = key;
      return ERROR_SUCCESS;
    }),
              ERROR_SUCCESS);
    return byte;
  }
};

TEST_F(ViewTest, AnotherStoresWriteDropsWhatItChangedReadsKeepIt) {
  Store mine, theirs;
  View view(mine), other(theirs);
  ASSERT_EQ(Make(other, u"Shared"), ERROR_SUCCESS);
  ASSERT_EQ(SetByte(other, u"Shared", 1), ERROR_SUCCESS);

  CachedKey* entry = nullptr;
  EXPECT_EQ(ReadByte(view, u"Shared", &entry), 1);
  const std::uint64_t generation = view.Generation();
  const std::uint64_t stamp = view.Stamp();
  // Read again with nothing written anywhere: the same entry, from memory.
  CachedKey* again = nullptr;
  EXPECT_EQ(ReadByte(view, u"Shared", &again), 1);
  EXPECT_EQ(again, entry);
  EXPECT_EQ(view.Generation(), generation);
  EXPECT_EQ(view.Stamp(), stamp);

  // Writes elsewhere: the next call sees the store as it is now.
  ASSERT_EQ(Make(other, u"Unrelated"), ERROR_SUCCESS);
  ASSERT_EQ(SetByte(other, u"Shared", 2), ERROR_SUCCESS);
  EXPECT_NE(view.Stamp(), stamp);
  EXPECT_EQ(ReadByte(view, u"Shared"), 2);
  EXPECT_NE(view.Generation(), generation);
}

TEST_F(ViewTest, OnlyWhatAnotherStoreChangedLeavesTheCache) {
  Store mine, theirs;
  View view(mine), other(theirs);
  for (const auto* name : {u"Kept", u"Changed", u"Doomed"}) {
    ASSERT_EQ(Make(other, name), ERROR_SUCCESS);
    ASSERT_EQ(SetByte(other, name, 1), ERROR_SUCCESS);
  }
  CachedKey* kept = nullptr;
  CachedKey* doomed = nullptr;
  EXPECT_EQ(ReadByte(view, u"Kept", &kept), 1);
  EXPECT_EQ(ReadByte(view, u"Changed"), 1);
  EXPECT_EQ(ReadByte(view, u"Doomed", &doomed), 1);
  const std::int64_t doomedId = doomed->id;

  // One write of each kind another process makes, one after another; after
  // each, what changed reads as it is now, and the untouched key keeps its
  // entry and its loaded values.
  struct Step {
    const char* what;
    std::function<LONG()> write;
  };
  const Step steps[] = {
      {"a value", [&] { return SetByte(other, u"Changed", 2); }},
      {"a key made", [&] { return Make(other, u"New"); }},
      {"a key deleted",
       [&] {
         return other.Write([&] {
           CachedKey* key = nullptr;
           if (const LONG status = Find(other, u"Doomed", key)) return status;
           return other.DeleteTree(*key);
         });
       }},
      {"two values", [&] {
         if (const LONG status = SetByte(other, u"Changed", 3)) return status;
         return SetByte(other, u"New", 9);
       }}};
  for (const Step& step : steps) {
    ASSERT_EQ(step.write(), ERROR_SUCCESS) << step.what;
    CachedKey* again = nullptr;
    EXPECT_EQ(view.Read([&] { return Find(view, u"Kept", again); }),
              ERROR_SUCCESS);
    EXPECT_EQ(again, kept) << step.what;
    EXPECT_TRUE(again->valuesLoaded) << step.what;
    EXPECT_EQ(ReadByte(view, u"Kept"), 1) << step.what;
  }
  EXPECT_EQ(ReadByte(view, u"Changed"), 3);
  EXPECT_EQ(ReadByte(view, u"New"), 9);
  CachedKey* gone = nullptr;
  EXPECT_EQ(view.Read([&] { return Find(view, u"Doomed", gone); }),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(view.Read([&] { return view.Key(doomedId, gone); }),
            ERROR_KEY_DELETED);

  // Further behind than the ring reaches: everything goes, and what is read
  // is still the store as it is.
  for (std::size_t i = 0; i <= SharedChanges::kRecords; ++i) {
    ASSERT_EQ(SetByte(other, u"Changed", static_cast<BYTE>(i)), ERROR_SUCCESS);
  }
  CachedKey* after = nullptr;
  EXPECT_EQ(ReadByte(view, u"Kept", &after), 1);
  EXPECT_EQ(ReadByte(view, u"Changed"),
            static_cast<BYTE>(SharedChanges::kRecords));
}

// Another store's commit, read while it is under way: before it lands the
// view answers from what it holds, and a key it loads then is the store
// as it was; once landed, never as it was: a value told early is taken
// without dropping anything, and a change told otherwise is read from the
// store.
TEST_F(ViewTest, ACommitUnderWayIsReadAsItWasUntilItLands) {
  Store mine, theirs;
  View view(mine), other(theirs);
  for (const auto* name : {u"Beat", u"Aside"}) {
    ASSERT_EQ(Make(other, name), ERROR_SUCCESS);
    ASSERT_EQ(SetByte(other, name, 1), ERROR_SUCCESS);
  }
  CachedKey* entry = nullptr;
  EXPECT_EQ(ReadByte(view, u"Beat", &entry), 1);
  EXPECT_EQ(ReadByte(view, u"Beat"), 1);
  const std::uint64_t generation = view.Generation();

  int beat[2] = {-1, -1};
  int aside = -1;
  theirs.whileCommitting = [&](bool landed) {
    beat[landed] = ReadByte(view, u"Beat");
    if (!landed) aside = ReadByte(view, u"Aside");
  };
  ASSERT_EQ(SetByte(other, u"Beat", 2), ERROR_SUCCESS);
  EXPECT_EQ(beat[0], 1);
  EXPECT_EQ(aside, 1);
  EXPECT_EQ(beat[1], 2);
  CachedKey* after = nullptr;
  EXPECT_EQ(ReadByte(view, u"Beat", &after), 2);
  EXPECT_EQ(after, entry);
  EXPECT_EQ(view.Generation(), generation);

  // A key made tells no value.
  bool found[2] = {true, false};
  theirs.whileCommitting = [&](bool landed) {
    CachedKey* key = nullptr;
    found[landed] =
        view.Read([&] { return Find(view, u"New", key); }) == ERROR_SUCCESS;
  };
  ASSERT_EQ(Make(other, u"New"), ERROR_SUCCESS);
  theirs.whileCommitting = nullptr;
  EXPECT_FALSE(found[0]);
  EXPECT_TRUE(found[1]);
}

TEST_F(ViewTest, ItsOwnWritesKeepTheCacheAndReachTheOthers) {
  Store mine, theirs;
  View view(mine), other(theirs);
  ASSERT_EQ(Make(view, u"Mine"), ERROR_SUCCESS);
  ASSERT_EQ(SetByte(view, u"Mine", 3), ERROR_SUCCESS);
  CachedKey* entry = nullptr;
  EXPECT_EQ(ReadByte(view, u"Mine", &entry), 3);
  const std::uint64_t generation = view.Generation();

  ASSERT_EQ(SetByte(view, u"Mine", 4), ERROR_SUCCESS);
  CachedKey* after = nullptr;
  EXPECT_EQ(ReadByte(view, u"Mine", &after), 4);
  EXPECT_EQ(after, entry);
  EXPECT_EQ(view.Generation(), generation);
  EXPECT_EQ(ReadByte(other, u"Mine"), 4);
}

TEST_F(ViewTest, AFailedWriteLeavesNothingBehindInTheCacheOrTheStore) {
  Store mine, theirs;
  View view(mine), other(theirs);
  ASSERT_EQ(Make(view, u"Kept"), ERROR_SUCCESS);
  ASSERT_EQ(SetByte(view, u"Kept", 5), ERROR_SUCCESS);
  EXPECT_EQ(view.Write([&] {
    CachedKey* key = nullptr;
    if (const LONG status = Find(view, u"Kept", key)) return status;
    view.SetValue(*key, u"v", REG_BINARY, {6});
    return static_cast<LONG>(ERROR_ACCESS_DENIED);
  }),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(ReadByte(view, u"Kept"), 5);
  EXPECT_EQ(ReadByte(other, u"Kept"), 5);
}

}  // namespace
}  // namespace corvane::platform::emulated
