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
#include <string>
#include <string_view>
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
    sets_ = 0;
  }

  // A value set, small enough to be told whole: an existing one set again
  // (`ord` 0), or a new one of creation order `ord`.
  struct ValueSet {
    std::int64_t key = 0;
    std::u16string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    std::uint64_t lastWrite = 0;
    std::int64_t ord = 0;
  };
  static bool Tellable(std::u16string_view name, std::size_t dataBytes,
                       std::int64_t ord = 0) {
    return name.size() <= SharedChanges::kLatestName &&
           dataBytes <= SharedChanges::kLatestData && ord >= 0 &&
           ord <= SharedChanges::kLatestOrd;
  }
  // The value `name` at key `key` set (see ValueSet): told to other views
  // when it is all this write changed.
  void SetValue(std::int64_t key, std::u16string_view name, std::uint32_t type,
                const std::vector<std::uint8_t>& data, std::uint64_t lastWrite,
                std::int64_t ord = 0) {
    if (++sets_ > 1) return;
    set_.key = key;
    set_.name.assign(name);
    set_.type = type;
    set_.data = data;
    set_.lastWrite = lastWrite;
    set_.ord = ord;
  }
  // The one value this write set, when that is all it changed.
  const ValueSet* SoleValueSet() const {
    return sets_ == 1 && !everything_ && noticeAll_ == 0 && ids_.size() == 1 &&
                   ids_[0] == set_.key
               ? &set_
               : nullptr;
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
  int sets_ = 0;
  ValueSet set_;
};

}  // namespace corvane::platform::emulated
