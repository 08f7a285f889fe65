// The keys one write transaction changed, as the change memory's ring
// records them for other processes' views (see SharedChanges): a few key
// ids, or everything once there are too many to name or a change reaches
// further than its keys (a subtree, a whole store).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/emulated/store/SharedChanges.h"

namespace corvane::platform::emulated {

class ChangeSet {
 public:
  void Add(std::int64_t id) {
    if (everything_) return;
    if (std::find(ids_.begin(), ids_.end(), id) != ids_.end()) return;
    if (ids_.size() == SharedChanges::kIds) {
      Everything();
      return;
    }
    ids_.push_back(id);
  }
  void Everything() {
    everything_ = true;
    ids_.clear();
  }
  void Clear() {
    everything_ = false;
    ids_.clear();
  }

  bool IsEverything() const { return everything_; }
  const std::vector<std::int64_t>& Ids() const { return ids_; }

 private:
  bool everything_ = false;
  std::vector<std::int64_t> ids_;
};

}  // namespace corvane::platform::emulated
