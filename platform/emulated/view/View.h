// A process's view of the shared store: the keys and values it has read,
// kept in memory and answered from without SQL, for as long as the store's
// change counter says nothing changed. Keys are loaded on demand; listing a
// key's subkeys loads a whole breadth-first slice of its subtree, which is
// what a walk goes on to ask for.
//
// Every registry call runs as one Read or one Write. A read answers from one
// state of the store: from the cache when the counter is unchanged, else from
// one read transaction (and when the store changed between the call's start
// and its first load, the call runs again on an empty cache). A write holds
// the store's write lock for its whole call, changes the database and the
// cache together, and commits once at the end.
//
// Not thread-safe: the registry functions hold one mutex around every use.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <memory_resource>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/Platform.h"
#include "platform/emulated/store/Store.h"
#include "platform/emulated/view/CachedKey.h"
#include "platform/emulated/view/NodeArena.h"

namespace corvane::platform::emulated {

class View {
 public:
  // A read call's loads met a store that changed after the call began: the
  // call is run again from scratch.
  static constexpr LONG kRetry = -1;

  explicit View(Store& store) : store_(store) {}

  // Runs `body` as one call. `body` returns a status; kRetry from a load
  // must be passed straight back.
  template <class Body>
  LONG Read(Body&& body) {
    if (const LONG status = Begin(false)) return status;
    LONG status = body();
    while (status == kRetry && Retry()) status = body();
    End();
    return status;
  }
  template <class Body>
  LONG Write(Body&& body, bool durable = false) {
    if (const LONG status = Begin(true)) return status;
    return Finish(body(), durable);
  }

  // Called when the environment names another store: ids, and the handles
  // that carry them, mean nothing from then on.
  std::function<void()> onRebind;
  // Makes the store from the old hive the environment names (see
  // Store::OldHive) at the first call that finds one still to import: the
  // import's MigrateHive, which the layer above hands in.
  LONG (*migrate)(Store& store, const std::string& hive) = nullptr;
  void Clear();
  // The store's change counter as this process sees it now (see
  // ChangeCounter): a value to compare with one taken before.
  std::uint64_t Stamp() const { return store_.counter().Value(); }
  // Changes whenever a cached key leaves the view: a CachedKey* kept from
  // an earlier call is still good while this is unchanged.
  std::uint64_t Generation() const { return generation_; }

  // The key with that id; ERROR_KEY_DELETED when the store has none.
  LONG Key(std::int64_t id, CachedKey*& key);
  // The subkey of that name (any case), or nullptr.
  LONG Child(CachedKey& parent, std::u16string_view name, CachedKey*& child);
  LONG LoadChildren(CachedKey& key);
  LONG LoadValues(CachedKey& key);
  LONG LoadMaxima(CachedKey& key);
  // With values loaded.
  const CachedValue* FindValue(CachedKey& key, std::u16string_view name);
  // The creation order of the value of that name, with values loaded; 0
  // for none.
  // `fold`, when given: the name's fold, when one was made (a key with
  // its map of names), for the caller to use again.
  static std::int64_t FindOrd(CachedKey& key, std::u16string_view name,
                              std::string* fold = nullptr);
  LONG HasChildren(CachedKey& key, bool& any);

  // Inside Write only.
  LONG CreateChild(CachedKey& parent, std::u16string_view name,
                   const std::u16string* className, bool isVolatile,
                   CachedKey*& child);
  LONG SetClass(CachedKey& key, std::u16string_view className);
  // A new name for the key, which no sibling has; handles keep it by id.
  LONG RenameKey(CachedKey& key, std::u16string_view name);
  LONG SetValue(CachedKey& key, std::u16string_view name, DWORD type,
                std::vector<BYTE> data);
  LONG DeleteValue(CachedKey& key, std::u16string_view name, bool& found);
  // The key and its whole subtree.
  LONG DeleteTree(CachedKey& key);
  // Something to commit durably even when nothing else changed.
  LONG MarkFlush();
  // Empties the store to a fresh one.
  LONG Reset();

  // The store itself, outside any call. Problem(): why the bound store
  // can't be used, or "".
  const std::string& Problem() const { return store_.Problem(); }
  // "" or why this process can read the store but not write it.
  const std::string& Unwritable() const { return store_.Unwritable(); }
  // Binds, and the store's database file (where it will be, while it has
  // none).
  const std::string& Locate();
  // Drops the store's connection (at fork).
  void Disconnect() { store_.Disconnect(); }
  static void DisableMemoryStatistics() {
    Connection::DisableMemoryStatistics();
  }
  // Bulk work, such as a .reg import. The store has no file yet (bound by
  // a call just made): BuildAside can make it whole from `fill`, and
  // empties the view when it did.
  bool NotMadeYet() const { return store_.NotMadeYet(); }
  bool BuildAside(const std::function<bool(Rows&)>& fill);
  // Inside Write: `apply` gets the store's rows with a page cache large
  // enough for bulk work. What it returns comes back.
  std::string Bulk(const std::function<std::string(Rows&)>& apply);
  // After bulk work: the log moved into the database.
  void Checkpoint() { store_.Checkpoint(); }

 private:
  LONG Begin(bool write);
  // The counter moved since the cache was current: drops what the commits
  // since then changed (see ChangeCounter::Changed) and reloads those keys'
  // rows. False when that can't be told or done; then Clear().
  bool CatchUp();
  // Catching up by the values other writers told whole (see
  // ChangeCounter::Told), without the store; false when that can't be.
  bool TakeTold();
  // The commit under way landed since the cache's state, by the log's
  // `header`, and told its value early: takes it, and the cache holds the
  // state that commit makes. False when it can't be told so.
  bool TakeLanded(const Connection::LogHeader& header);
  // Applies values told whole to the keys held; false when the values held
  // turn out not to be the store's (then what was applied is dropped by
  // catching up).
  bool Apply(std::vector<ChangeSet::ValueSet>& told);
  // Takes the log's header as the cache's state's (mark_), when it can be
  // told to be that; and whether the log's header still is.
  void Mark();
  bool LogStands() const;
  // A read call's loads met a store that changed after it began: readies
  // the call to run again, caught up with the store as at a call's start
  // when it was answered from the cache beside a commit under way that
  // then landed, or else from an empty cache. False when it ran so already.
  bool Retry();
  // Ends the call's read, to start again from the counter as it is now.
  void ReadAfresh();
  // Catches up with the counter's value at the call's start, or Clear().
  void CatchUpOrClear(bool write);
  void End();
  LONG Finish(LONG status, bool durable);
  // After each load from the store in a read call.
  LONG Loaded();
  LONG Load(const KeyRow& row, CachedKey*& key);
  CachedKey& Put(KeyRow&& row);
  // A key of a subtree being loaded, put in the cache as it was read.
  struct Placed {
    std::int64_t id;
    std::int64_t parent;
    CachedKey* key;
  };
  // The lists of subkeys and the values of one LoadSubtree, into the cache.
  void PutSubtreeKeys(const std::vector<Placed>& placed,
                      const std::vector<bool>& complete);
  void PutSubtreeValues(const std::vector<Placed>& placed,
                        std::vector<ValueRow>& values);
  void Unlink(CachedKey& key);
  void Touch(CachedKey& key, std::uint64_t time);

  Store& store_;
  // Node-based: a CachedKey stays where it is while others come and go.
  // The nodes come from arena_, which Clear() empties.
  using Keys = std::pmr::unordered_map<std::int64_t, CachedKey>;
  NodeArena arena_;
  std::optional<Keys> keys_{std::in_place, &arena_};
  // The counter value the cache holds the state of; odd: none.
  std::uint64_t cached_ = 1;
  std::uint64_t generation_ = 0;
  std::uint64_t callStart_ = 1;
  bool validated_ = false;
  bool rerun_ = false;
  // The log's header when the cache held the state at `markFor_` (odd:
  // none): while it stands, no commit since then has reached the store,
  // not even one under way. `peeked_`: this call is answered from the
  // cache so, beside a commit under way.
  Connection::LogHeader mark_{};
  std::uint64_t markFor_ = 1;
  bool peeked_ = false;
  // An odd counter seen at a call's start, and since when.
  std::uint64_t lastOdd_ = 0;
  std::chrono::steady_clock::time_point oddSince_;
};

}  // namespace corvane::platform::emulated
