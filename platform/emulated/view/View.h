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
#include "platform/emulated/view/ChunkedVector.h"
#include "platform/emulated/view/NodeArena.h"

namespace corvane::platform::emulated {

struct CachedValue {
  std::u16string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  std::int64_t ord = 0;
};

struct CachedKey {
  struct Child {
    std::int64_t id;
    // The subkey's entry in the same view: a subkey leaves the view only
    // after it left this list, or with the whole view. A list is in the
    // order of its subkeys' names (base::CompareNames).
    CachedKey* key;
  };

  // Folded name -> id or creation order. Most keys never need one, and a
  // view holds a key for every key a walk passes: made on first use.
  using ByFold = std::unique_ptr<std::unordered_map<std::string, std::int64_t>>;

  std::int64_t id = 0;
  std::int64_t parent = 0;
  std::u16string name;
  std::uint64_t lastWrite = 0;
  bool isVolatile = false;

  // Subkeys in the registry's order, once all are known (childrenLoaded);
  // before that, those looked up one by one in `lookups` (id, 0 for none).
  bool childrenLoaded = false;
  // Values in creation order, once loaded; `valueOrds` finds them by name
  // once there are more than a few (see View::FindOrd).
  bool valuesLoaded = false;
  // Longest subkey name, subkey class, value name and value data; recounted
  // after a change.
  bool maximaKnown = false;
  std::uint32_t maxChildName = 0, maxChildClass = 0, maxValueName = 0,
                maxValueData = 0;
  // The position last enumerated: a walk opens that subkey next.
  std::uint32_t listed = 0;
  ChunkedVector<Child> children;
  ByFold lookups;
  ChunkedVector<CachedValue> values;
  ByFold valueOrds;
  // Few keys have a class: one is held only when there is (see ClassName).
  std::unique_ptr<std::u16string> classText;

  std::u16string_view ClassName() const {
    return classText ? std::u16string_view(*classText) : std::u16string_view();
  }
  void SetClassName(std::u16string text) {
    if (text.empty()) {
      classText.reset();
    } else {
      classText = std::make_unique<std::u16string>(std::move(text));
    }
  }
};

class View {
 public:
  // A read call's loads met a store that changed after the call began: the
  // call is run again from scratch.
  static constexpr LONG kRetry = -1;

  explicit View(Store& store) : store_(store) {}

  Store& store() { return store_; }

  // Runs `body` as one call. `body` returns a status; kRetry from a load
  // must be passed straight back.
  template <class Body>
  LONG Read(Body&& body) {
    if (const LONG status = Begin(false)) return status;
    LONG status = body();
    if (status == kRetry) {
      Clear();
      rerun_ = true;
      status = body();
    }
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
  static std::int64_t FindOrd(CachedKey& key, std::u16string_view name);
  LONG HasChildren(CachedKey& key, bool& any);

  // Inside Write only.
  LONG CreateChild(CachedKey& parent, std::u16string_view name,
                   const std::u16string* className, bool isVolatile,
                   CachedKey*& child);
  LONG SetClass(CachedKey& key, std::u16string_view className);
  LONG SetValue(CachedKey& key, std::u16string_view name, DWORD type,
                std::vector<BYTE> data);
  LONG DeleteValue(CachedKey& key, std::u16string_view name, bool& found);
  // The key and its whole subtree.
  LONG DeleteTree(CachedKey& key);
  // Something to commit durably even when nothing else changed.
  LONG MarkFlush();
  // Empties the store to a fresh one.
  LONG Reset();

 private:
  LONG Begin(bool write);
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
  // An odd counter seen at a call's start, and since when.
  std::uint64_t lastOdd_ = 0;
  std::chrono::steady_clock::time_point oddSince_;
};

}  // namespace corvane::platform::emulated
