// The hives loaded into a store (RegLoadKey): which key stands for which
// hive file, and the boot that loaded it. A loaded hive lives in the store
// as ordinary keys, shared and counted by the change counter as every key
// is, and is written to its file at RegFlushKey, at RegUnLoadKey, and by
// the first process of a later boot, which then removes it (a mount does not
// outlive its boot). The table is made by the first load, so stores that
// never loaded a hive keep the schema they have.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/emulated/store/Connection.h"
#include "platform/emulated/store/Rows.h"
#include "platform/emulated/store/SubtreeScan.h"

namespace corvane::platform::emulated {

struct Mount {
  std::int64_t key = 0;
  std::string file;  // absolute
  std::string boot;
};

class Mounts {
 public:
  Mounts(Connection& connection, const std::string& boot)
      : c_(connection), boot_(boot) {}
  Mounts(const Mounts&) = delete;
  Mounts& operator=(const Mounts&) = delete;

  // Inside a read or write transaction; none in a store that never loaded
  // a hive.
  LONG List(std::vector<Mount>& mounts);
  // Inside a write transaction.
  LONG Add(std::int64_t key, const std::string& file);
  LONG Remove(std::int64_t key);
  LONG Retarget(std::int64_t key, const std::string& file);

  // Inside the write transaction of a store's first open in a new boot:
  // each hive an earlier boot loaded goes to its file and leaves the store.
  // One whose file can't be written stays loaded, now this boot's, so that
  // nothing written to it is lost.
  LONG EndStale(Rows& rows, SubtreeScan& scan);

 private:
  Connection& c_;
  const std::string& boot_;
};

}  // namespace corvane::platform::emulated
