// A fixture for tests that drive the store's parts directly: the
// environment names a store in a scratch folder of the test's own while it
// runs, and the suite's store again afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/Platform.h"
#include "platform/emulated/store/Seed.h"
#include "platform/emulated/store/Store.h"
#include "support/ScratchFolder.h"

namespace corvane::platform::emulated {

class StoreOfItsOwn : public ::testing::Test {
 protected:
  StoreOfItsOwn() {
    if (const char* old = std::getenv("CORVANE_REGISTRY")) saved_ = old;
    setenv("CORVANE_REGISTRY", folder_.File("store.db").c_str(), 1);
  }
  ~StoreOfItsOwn() override {
    if (saved_) {
      setenv("CORVANE_REGISTRY", saved_->c_str(), 1);
    } else {
      unsetenv("CORVANE_REGISTRY");
    }
    RegCloseKey(HKEY_CURRENT_USER);  // binds the suite's store again
  }

  // A store bound to the test's file, as another process would hold it.
  static void Bind(Store& store) {
    bool reopened = false;
    ASSERT_EQ(store.Bind(reopened), ERROR_SUCCESS) << store.Problem();
  }

  // Makes `name` below HKEY_CURRENT_USER in one committed write; its id.
  static std::int64_t MakeKey(Store& store, std::u16string_view name) {
    std::int64_t id = 0;
    std::uint64_t counter = 0;
    EXPECT_EQ(store.BeginWrite(), ERROR_SUCCESS);
    EXPECT_EQ(
        store.rows().InsertKey(seed::kCurrentUser, name, nullptr, false, 1, id),
        ERROR_SUCCESS);
    EXPECT_EQ(store.Commit(false, counter), ERROR_SUCCESS);
    return id;
  }

  // Whether `store` finds `name` below HKEY_CURRENT_USER, in a read of its
  // own.
  static bool Finds(Store& store, std::u16string_view name) {
    KeyRow row;
    bool found = false;
    EXPECT_EQ(store.BeginRead(), ERROR_SUCCESS);
    EXPECT_EQ(store.rows().LoadChild(seed::kCurrentUser, name, row, found),
              ERROR_SUCCESS);
    store.EndRead();
    return found;
  }

  testing::ScratchFolder folder_;

 private:
  std::optional<std::string> saved_;
};

}  // namespace corvane::platform::emulated
