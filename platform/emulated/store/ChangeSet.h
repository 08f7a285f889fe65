// The keys one write transaction changed, as the change memory's ring
// records them for other processes' views (see SharedChanges): a few key
// ids, or everything once there are too many to name or a change reaches
// further than its keys (a subtree, a whole store). Beside them, for change
// notifications, the kind of change made at each place (a notice): a value
// set at a key, a subkey added to or removed from it, a key deleted.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/emulated/store/SharedChanges.h"

namespace corvane::platform::emulated {

class ChangeSet {
 public:
  // Key `id` changed, for the views; `kinds` (REG_NOTIFY_CHANGE_* bits,
  // SharedChanges::kDeleted) says how, for notifications, 0 when it
  // changed in no way a notification watches.
  void Add(std::int64_t id, std::uint8_t kinds = 0) {
    if (kinds != 0) Note(id, kinds);
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
    noticeAll_ = 0;
    places_.clear();
  }

  // A change of `kinds` (REG_NOTIFY_CHANGE_* bits, SharedChanges::kDeleted)
  // at key `id`, for notifications.
  void Note(std::int64_t id, std::uint8_t kinds) {
    if (noticeAll_ != 0) {
      noticeAll_ |= kinds;
      return;
    }
    for (SharedChanges::Place& place : places_) {
      if (place.id == id) {
        place.kinds |= kinds;
        return;
      }
    }
    if (places_.size() == SharedChanges::kPlaces) {
      for (const SharedChanges::Place& place : places_) kinds |= place.kinds;
      NoteEverything(kinds);
      return;
    }
    places_.push_back({id, kinds});
  }
  // A change of `kinds` that may be anywhere.
  void NoteEverything(std::uint8_t kinds) {
    noticeAll_ |= kinds;
    places_.clear();
  }

  bool IsEverything() const { return everything_; }
  const std::vector<std::int64_t>& Ids() const { return ids_; }

  // Non-zero: the kinds of change made anywhere, and Places() is empty.
  std::uint8_t NoticeAll() const { return noticeAll_; }
  const std::vector<SharedChanges::Place>& Places() const { return places_; }

 private:
  bool everything_ = false;
  std::vector<std::int64_t> ids_;
  std::uint8_t noticeAll_ = 0;
  std::vector<SharedChanges::Place> places_;
};

}  // namespace corvane::platform::emulated
