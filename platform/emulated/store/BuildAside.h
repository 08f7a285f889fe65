// Making a store's file whole at once: the rows go into a fresh store built
// beside it (BuildingPath), which nobody else sees and which keeps no log,
// and the finished file takes the store's name unless a store appeared
// there meanwhile. A build's pages go to the disk once, where a write
// transaction writes them to the log and then again into the database.
#pragma once

#include <functional>
#include <string>

#include "platform/emulated/store/Rows.h"

namespace corvane::platform::emulated {

enum class Aside {
  kPlaced,     // the build took the store's name
  kNotBuilt,   // given up, or its file couldn't be written (a full disk)
  kNotPlaced,  // built, but not synced or not given the name
};

// Builds the store `db` (which has no file yet) from what `fill` writes;
// `fill` returns false to give the build up. Unless it was placed, nothing
// of the build is left.
Aside BuildAside(const std::string& db, const std::string& boot,
                 const std::function<bool(Rows&)>& fill);

}  // namespace corvane::platform::emulated
