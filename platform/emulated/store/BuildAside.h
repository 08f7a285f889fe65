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

// Builds the store `db` (which has no file yet) from what `fill` writes;
// `fill` returns false to give the build up. True when the build took the
// store's name; when not, nothing of it is left.
bool BuildAside(const std::string& db, const std::string& boot,
                const std::function<bool(Rows&)>& fill);

}  // namespace corvane::platform::emulated
