// The process-local view of the shared store: loading on demand, the call
// protocol that keeps the cache honest, and writes applied to the database
// and the cache together.
#include "platform/emulated/view/View.h"

#include <algorithm>
#include <chrono>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "base/RegistryNames.h"

namespace corvane::platform::emulated {
namespace {

constexpr std::uint64_t kNothing = 1;  // odd: the cache holds no state

// Every kind of change a notification can watch for.
constexpr std::uint8_t kAnyChange = REG_NOTIFY_CHANGE_NAME |
                                    REG_NOTIFY_CHANGE_ATTRIBUTES |
                                    REG_NOTIFY_CHANGE_LAST_SET;

bool Odd(std::uint64_t counter) { return (counter & 1) != 0; }

// The id a subkey of that folded name was looked up as (0: none), or
// nullptr when it wasn't.
const std::int64_t* LookedUp(const CachedKey& key, const std::string& fold) {
  if (!key.lookups) return nullptr;
  const auto it = key.lookups->find(fold);
  return it != key.lookups->end() ? &it->second : nullptr;
}

// A key with this many values or fewer finds one by comparing names.
constexpr std::size_t kFewValues = 8;

}  // namespace

void View::Clear() {
  // The arena is emptied once nothing of the map is left in it.
  keys_.reset();
  arena_.Release();
  keys_.emplace(&arena_);
  ++generation_;
  cached_ = kNothing;
  markFor_ = kNothing;
}

LONG View::Begin(bool write) {
  bool reopened = false;
  LONG bound = store_.Bind(reopened);
  if (reopened) {
    Clear();
    if (onRebind) onRebind();
  }
  if (bound == ERROR_SUCCESS && store_.NotMadeYet() &&
      !store_.OldHive().empty() && migrate != nullptr) {
    const std::string hive = store_.OldHive();
    bound = migrate(store_, hive);
  }
  if (bound != ERROR_SUCCESS) {
    Clear();
    return bound;
  }
  validated_ = false;
  rerun_ = false;
  peeked_ = false;
  if (write) {
    if (const LONG status = store_.BeginWrite()) {
      if (!store_.Problem().empty()) Clear();
      return status;
    }
    // Holding the write lock, nobody else can commit: what is loaded now is
    // the latest state, and the cache is part of it if the counter agrees.
    validated_ = true;
    // Each change below names the keys it touched.
    store_.Changes().Clear();
  }
  callStart_ = Stamp();
  // Nothing committed since the state the cache holds.
  if (callStart_ == cached_ && !Odd(callStart_)) {
    if (!write && markFor_ != cached_) Mark();
    return ERROR_SUCCESS;
  }
  if (Odd(callStart_) && !write) {
    // Caching waits for the counter to be even again; when it stays odd a
    // while, its writer is likely gone.
    const auto now = std::chrono::steady_clock::now();
    if (callStart_ != lastOdd_) {
      lastOdd_ = callStart_;
      oddSince_ = now;
    } else if (now - oddSince_ > std::chrono::milliseconds(100)) {
      store_.counter().Settle(callStart_);
      oddSince_ = now;
      callStart_ = Stamp();
    }
  }
  // The cache holds the state the commit under way makes, told once it
  // landed (see TakeTold): nothing to catch up with.
  if (!write && Odd(callStart_) && callStart_ != ChangeCounter::kNone &&
      cached_ == callStart_ + 1) {
    return ERROR_SUCCESS;
  }
  // A commit under way that has not reached the store: the cache is still
  // the store's state, and the call is answered from it as if it came just
  // before (Loaded checks each read of the store against it). A commit of
  // keys the view doesn't hold needs only the ring.
  if (!write && Odd(callStart_) && !Odd(cached_)) {
    std::vector<std::int64_t> changed;
    if (store_.counter().Changed(cached_, callStart_, changed) &&
        std::none_of(changed.begin(), changed.end(),
                     [&](std::int64_t id) { return keys_->contains(id); })) {
      cached_ = callStart_;
      return ERROR_SUCCESS;
    }
    Connection::LogHeader header;
    if (markFor_ == cached_ && store_.ReadLogHeader(header)) {
      if (header == mark_) {
        peeked_ = true;
        return ERROR_SUCCESS;
      }
      // Landed, and told early: taken without asking the store.
      if (TakeLanded(header)) return ERROR_SUCCESS;
    }
  }
  CatchUpOrClear(write);
  if (!write && !Odd(cached_) && cached_ == callStart_ && markFor_ != cached_) {
    Mark();
  }
  return ERROR_SUCCESS;
}

void View::Mark() {
  Connection::LogHeader header;
  // Read before the counter: unchanged, nothing began to commit meanwhile,
  // and the header is the one of the cache's state.
  if (store_.ReadLogHeader(header) && Stamp() == cached_) {
    mark_ = header;
    markFor_ = cached_;
  }
}

bool View::LogStands() const {
  Connection::LogHeader header;
  return store_.ReadLogHeader(header) && header == mark_;
}

void View::ReadAfresh() {
  store_.EndRead();
  validated_ = false;
  callStart_ = Stamp();
}

bool View::Retry() {
  if (peeked_) {
    peeked_ = false;
    ReadAfresh();
    CatchUpOrClear(false);
    return true;
  }
  if (rerun_) return false;
  Clear();
  rerun_ = true;
  return true;
}

void View::CatchUpOrClear(bool write) {
  // At an odd value, even the cache's own, what its commit changes may have
  // landed since it was loaded: that is dropped again.
  if (callStart_ == cached_ && !Odd(callStart_)) return;
  if (CatchUp()) return;
  // A read whose catching up met a later commit: what it dropped stays
  // dropped, and it catches up once more from there, on a snapshot of its
  // own.
  if (!write && cached_ != kNothing && Stamp() != callStart_) {
    ReadAfresh();
    if (CatchUp()) return;
  }
  Clear();
}

bool View::CatchUp() {
  if (cached_ == kNothing || callStart_ == ChangeCounter::kNone ||
      keys_->empty()) {
    return false;
  }
  if (TakeTold()) return true;
  std::vector<std::int64_t> changed;
  if (!store_.counter().Changed(cached_, callStart_, changed)) return false;
  // What the commits changed of the keys held is forgotten: their lists and
  // values load again when asked for, and their own rows now.
  std::vector<CachedKey*> stale;
  for (const std::int64_t id : changed) {
    const auto it = keys_->find(id);
    if (it == keys_->end()) continue;
    CachedKey& key = it->second;
    if (std::find(stale.begin(), stale.end(), &key) != stale.end()) continue;
    key.childrenLoaded = key.valuesLoaded = key.maximaKnown = false;
    key.children.Clear();
    key.lookups.reset();
    key.values.Clear();
    key.valueOrds.reset();
    key.listed = 0;
    stale.push_back(&key);
  }
  if (stale.empty()) {
    cached_ = callStart_;
    return true;
  }
  // Handles that hold a key look it up again.
  ++generation_;
  if (!store_.InWrite() && store_.BeginRead() != ERROR_SUCCESS) return false;
  for (CachedKey* key : stale) {
    KeyRow row;
    bool found = false;
    if (store_.rows().LoadKey(key->id, row, found) != ERROR_SUCCESS) {
      return false;
    }
    if (!validated_) {
      // The read's snapshot is the state the ring was followed to.
      if (Stamp() != callStart_) return false;
      validated_ = true;
    }
    if (!found) {
      // Deleted: its parent, which listed it, is among the changed.
      keys_->erase(key->id);
      continue;
    }
    key->SetClassName(std::move(row.className));
    key->isVolatile = row.isVolatile;
    key->lastWrite = row.lastWrite;
  }
  cached_ = callStart_;
  return true;
}

bool View::TakeTold() {
  std::vector<ChangeSet::ValueSet> told;
  if (!store_.counter().Told(cached_, callStart_, told) || !Apply(told)) {
    return false;
  }
  // Told while under way, the commit landed: the state it makes.
  cached_ = Odd(callStart_) ? callStart_ + 1 : callStart_;
  return true;
}

bool View::TakeLanded(const Connection::LogHeader& header) {
  // The same log as at the mark, grown, with the counter at the commit
  // under way since before the header was read: that commit landed, and no
  // other did.
  if (!Connection::LogGrew(mark_, header) || Stamp() != callStart_) {
    return false;
  }
  std::vector<ChangeSet::ValueSet> told(1);
  if (!store_.counter().ToldEarly(cached_, callStart_, told.front()) ||
      !Apply(told)) {
    return false;
  }
  cached_ = callStart_ + 1;
  return true;
}

bool View::Apply(std::vector<ChangeSet::ValueSet>& told) {
  for (ChangeSet::ValueSet& value : told) {
    const auto it = keys_->find(value.key);
    if (it == keys_->end()) continue;
    CachedKey& key = it->second;
    if (key.valuesLoaded) {
      std::string fold;
      const std::int64_t ord = FindOrd(key, value.name, &fold);
      // Held already, when the values were loaded after the commit landed
      // (told again, from an odd state): set again in place.
      if (value.ord != 0 && ord != value.ord) {
        // A new value comes after every value held, by a name none of them
        // has; otherwise the values held are not the store's.
        if (ord != 0 ||
            (key.values.Size() > 0 && key.values.Back().ord >= value.ord)) {
          return false;
        }
        if (key.valueOrds) {
          key.valueOrds->emplace(
              fold.empty() ? FoldKey(value.name) : std::move(fold), value.ord);
        }
        key.values.Insert(key.values.Size(),
                          CachedValue{std::move(value.name), value.type,
                                      std::move(value.data), value.ord});
      } else {
        // Not among the values held: they are not the store's.
        if (ord == 0) return false;
        CachedValue& held = key.values.At(key.values.LowerBound(
            [ord](const CachedValue& v) { return v.ord < ord; }));
        held.type = value.type;
        held.data.assign(value.data.begin(), value.data.end());
      }
    }
    key.maximaKnown = false;
    key.lastWrite = value.lastWrite;
  }
  return true;
}

void View::End() {
  store_.EndRead();
  validated_ = false;
  rerun_ = false;
  peeked_ = false;
}

LONG View::Finish(LONG status, bool durable) {
  if (status != ERROR_SUCCESS) {
    // What this call already applied to the cache was rolled back in the
    // store: start again from the store. A call refused before it changed
    // anything leaves the cache as current as it was.
    const bool changed = store_.Written();
    store_.Rollback();
    if (changed) Clear();
    return status;
  }
  std::uint64_t counter = kNothing;
  if (const LONG failed = store_.Commit(durable, counter)) {
    Clear();
    return failed;
  }
  // The cache is the state just committed (or the unchanged one).
  cached_ = counter;
  return ERROR_SUCCESS;
}

LONG View::Loaded() {
  if (validated_) return ERROR_SUCCESS;
  validated_ = true;
  // The read's snapshot was fixed before this look at the log: while it
  // stands, the commit under way had not reached the store then either.
  if (peeked_) return LogStands() ? ERROR_SUCCESS : kRetry;
  const std::uint64_t now = Stamp();
  // The commit under way had landed and told its value before the call
  // began, and none began since: the snapshot is the state it makes.
  if (Odd(now) && now == callStart_ && now != ChangeCounter::kNone &&
      cached_ == now + 1) {
    return ERROR_SUCCESS;
  }
  // The read transaction's snapshot was fixed by the load just made. An
  // even counter unchanged since the call began means no commit happened
  // since that state, so the snapshot and the cache agree.
  // An odd counter is a commit under way, whose record names what it
  // changes (dropped by CatchUp at every call while it stays odd): the
  // snapshot may be from either side of it, and the rest of the cache is
  // the same on both.
  if (now == callStart_ && now != ChangeCounter::kNone) {
    if (keys_->empty() || cached_ == now) {
      cached_ = now;
      return ERROR_SUCCESS;
    }
  }
  if (rerun_) return ERROR_SUCCESS;  // an empty cache, one snapshot
  return kRetry;
}

CachedKey& View::Put(KeyRow&& row) {
  const auto [it, added] = keys_->try_emplace(row.id);
  CachedKey& key = it->second;
  if (added) {
    key.id = row.id;
    key.parent = row.parent;
    key.name = std::move(row.name);
    key.SetClassName(std::move(row.className));
    key.isVolatile = row.isVolatile;
    key.lastWrite = row.lastWrite;
  }
  return key;
}

LONG View::Key(std::int64_t id, CachedKey*& key) {
  if (const auto it = keys_->find(id); it != keys_->end()) {
    key = &it->second;
    return ERROR_SUCCESS;
  }
  if (!store_.InWrite()) {
    if (const LONG status = store_.BeginRead()) return status;
  }
  KeyRow row;
  bool found = false;
  if (const LONG status = store_.rows().LoadKey(id, row, found)) return status;
  if (const LONG status = Loaded()) return status;
  if (!found) return ERROR_KEY_DELETED;
  key = &Put(std::move(row));
  return ERROR_SUCCESS;
}

LONG View::Child(CachedKey& parent, std::u16string_view name,
                 CachedKey*& child) {
  child = nullptr;
  if (parent.childrenLoaded) {
    // The subkey just enumerated, asked for by the name it was given: no
    // search, and no folding.
    if (parent.listed < parent.children.Size()) {
      CachedKey* const listed = parent.children.At(parent.listed).key;
      if (listed != nullptr && listed->name == name) {
        child = listed;
        return ERROR_SUCCESS;
      }
    }
    const std::size_t at = parent.children.LowerBound(
        [name](const CachedKey::Child& c) { return Before(c, name); });
    if (at < parent.children.Size() &&
        base::CompareNames(parent.children.At(at).key->name, name) == 0) {
      child = parent.children.At(at).key;
    }
    return ERROR_SUCCESS;
  }
  const std::string fold = FoldKey(name);
  std::int64_t id = 0;
  if (const std::int64_t* known = LookedUp(parent, fold)) {
    id = *known;
    if (id == 0) return ERROR_SUCCESS;
  } else {
    if (!store_.InWrite()) {
      if (const LONG status = store_.BeginRead()) return status;
    }
    KeyRow row;
    bool found = false;
    const std::int64_t parentId = parent.id;
    if (const LONG status =
            store_.rows().LoadChild(parentId, name, row, found)) {
      return status;
    }
    if (const LONG status = Loaded()) return status;
    const std::int64_t id = found ? row.id : 0;
    if (found) child = &Put(std::move(row));
    Lookups(parent).emplace(fold, id);
    return ERROR_SUCCESS;
  }
  return Key(id, child);
}

LONG View::LoadValues(CachedKey& key) {
  if (key.valuesLoaded) return ERROR_SUCCESS;
  if (!store_.InWrite()) {
    if (const LONG status = store_.BeginRead()) return status;
  }
  std::vector<ValueRow> rows;
  const std::int64_t id = key.id;
  if (const LONG status = store_.rows().LoadValues(id, rows)) return status;
  if (const LONG status = Loaded()) return status;
  key.valuesLoaded = true;
  key.maximaKnown = false;
  for (ValueRow& v : rows) AppendValue(key, std::move(v));
  return ERROR_SUCCESS;
}

LONG View::LoadMaxima(CachedKey& key) {
  if (key.maximaKnown) return ERROR_SUCCESS;
  if (const LONG status = LoadChildren(key)) return status;
  if (const LONG status = LoadValues(key)) return status;
  // Names and data are far below 4 GB (Windows' own limits).
  const auto size = [](std::size_t n) { return static_cast<std::uint32_t>(n); };
  key.maxChildName = key.maxChildClass = 0;
  for (std::size_t i = 0; i < key.children.Size(); ++i) {
    const CachedKey* child = key.children.At(i).key;
    key.maxChildName = std::max(key.maxChildName, size(child->name.size()));
    key.maxChildClass =
        std::max(key.maxChildClass, size(child->ClassName().size()));
  }
  key.maxValueName = key.maxValueData = 0;
  key.values.ForEach([&key, &size](const CachedValue& v) {
    key.maxValueName = std::max(key.maxValueName, size(v.name.size()));
    key.maxValueData = std::max(key.maxValueData, size(v.data.size()));
  });
  key.maximaKnown = true;
  return ERROR_SUCCESS;
}

std::int64_t View::FindOrd(CachedKey& key, std::u16string_view name,
                           std::string* fold) {
  if (!key.valueOrds && key.values.Size() <= kFewValues) {
    for (std::size_t i = 0; i < key.values.Size(); ++i) {
      const CachedValue& value = key.values.At(i);
      if (base::CompareNames(value.name, name) == 0) return value.ord;
    }
    return 0;
  }
  if (!key.valueOrds) {
    key.valueOrds = std::make_unique<CachedKey::ByFold::element_type>();
    key.values.ForEach([&key](const CachedValue& v) {
      key.valueOrds->emplace(FoldKey(v.name), v.ord);
    });
  }
  std::string folded = FoldKey(name);
  const auto it = key.valueOrds->find(folded);
  const std::int64_t ord = it == key.valueOrds->end() ? 0 : it->second;
  if (fold != nullptr) *fold = std::move(folded);
  return ord;
}

const CachedValue* View::FindValue(CachedKey& key, std::u16string_view name) {
  const std::int64_t ord = FindOrd(key, name);
  if (ord == 0) return nullptr;
  const std::size_t at = key.values.LowerBound(
      [ord](const CachedValue& v) { return v.ord < ord; });
  return &key.values.At(at);
}

LONG View::HasChildren(CachedKey& key, bool& any) {
  if (key.childrenLoaded) {
    any = key.children.Size() > 0;
    return ERROR_SUCCESS;
  }
  if (key.lookups) {
    for (const auto& [fold, id] : *key.lookups) {
      if (id != 0) {
        any = true;
        return ERROR_SUCCESS;
      }
    }
  }
  if (!store_.InWrite()) {
    if (const LONG status = store_.BeginRead()) return status;
  }
  const std::int64_t id = key.id;
  if (const LONG status = store_.rows().HasChildren(id, any)) return status;
  return Loaded();
}

void View::Touch(CachedKey& key, std::uint64_t time) {
  key.lastWrite = time;
  store_.rows().Touch(key.id, time);
}

LONG View::CreateChild(CachedKey& parent, std::u16string_view name,
                       const std::u16string* className, bool isVolatile,
                       CachedKey*& child) {
  const std::uint64_t now = FileTimeNow();
  KeyRow row;
  if (const LONG status = store_.rows().InsertKey(parent.id, name, className,
                                                  isVolatile, now, row.id)) {
    return status;
  }
  row.parent = parent.id;
  row.name = std::u16string(name);
  if (className != nullptr) row.className = *className;
  row.isVolatile = isVolatile;
  row.lastWrite = now;
  const std::int64_t id = row.id;
  child = &Put(std::move(row));
  // A new key has nothing below it yet.
  child->childrenLoaded = child->valuesLoaded = true;
  if (parent.childrenLoaded) {
    const std::size_t at = parent.children.LowerBound(
        [name](const CachedKey::Child& c) { return Before(c, name); });
    parent.children.Insert(at, {id, child});
  } else {
    Lookups(parent)[FoldKey(name)] = id;
  }
  parent.maximaKnown = false;
  Touch(parent, now);
  store_.Changes().Add(parent.id, REG_NOTIFY_CHANGE_NAME);
  return ERROR_SUCCESS;
}

LONG View::SetClass(CachedKey& key, std::u16string_view className) {
  store_.Changes().Add(key.id, REG_NOTIFY_CHANGE_ATTRIBUTES);
  store_.Changes().Add(key.parent);
  key.SetClassName(std::u16string(className));
  if (const auto it = keys_->find(key.parent); it != keys_->end()) {
    it->second.maximaKnown = false;
  }
  return store_.rows().SetClass(key.id, className);
}

LONG View::SetValue(CachedKey& key, std::u16string_view name, DWORD type,
                    std::vector<BYTE> data) {
  store_.Changes().Add(key.id, REG_NOTIFY_CHANGE_LAST_SET);
  bool insert = true;
  std::int64_t ord = 0;
  std::string fold;
  if (key.valuesLoaded) {
    ord = FindOrd(key, name, &fold);
    insert = ord == 0;
    if (insert) ord = key.values.Size() ? key.values.Back().ord + 1 : 1;
  } else {
    // Writers taking turns each find the others' values gone from their
    // cache: ask for this one name, not for every value of the key.
    bool found = false;
    if (const LONG status = store_.rows().FindValue(key.id, name, ord, found)) {
      return status;
    }
    insert = !found;
  }
  // The key's last-write time is set with the value's row.
  const std::uint64_t now = FileTimeNow();
  if (const LONG status = store_.rows().PutValue(
          key.id, ord, insert, name, type, {data.data(), data.size()}, now)) {
    return status;
  }
  key.lastWrite = now;
  key.maximaKnown = false;
  // A small value is told to other views whole.
  if (ChangeSet::Tellable(name, data.size(), insert ? ord : 0)) {
    store_.Changes().SetValue(key.id, name, type, data, now, insert ? ord : 0);
  }
  if (!key.valuesLoaded) return ERROR_SUCCESS;
  if (insert) {
    if (key.valueOrds) {
      key.valueOrds->emplace(fold.empty() ? FoldKey(name) : std::move(fold),
                             ord);
    }
    key.values.Insert(key.values.Size(), CachedValue{std::u16string(name), type,
                                                     std::move(data), ord});
  } else {
    const std::size_t at = key.values.LowerBound(
        [ord](const CachedValue& v) { return v.ord < ord; });
    CachedValue& value = key.values.At(at);
    value.type = type;
    value.data = std::move(data);
  }
  return ERROR_SUCCESS;
}

LONG View::DeleteValue(CachedKey& key, std::u16string_view name, bool& found) {
  if (const LONG status = LoadValues(key)) return status;
  const std::int64_t ord = FindOrd(key, name);
  found = ord != 0;
  if (!found) return ERROR_SUCCESS;
  store_.Changes().Add(key.id, REG_NOTIFY_CHANGE_LAST_SET);
  if (const LONG status = store_.rows().DeleteValue(key.id, name)) {
    return status;
  }
  if (key.valueOrds) key.valueOrds->erase(FoldKey(name));
  key.values.Erase(key.values.LowerBound(
      [ord](const CachedValue& v) { return v.ord < ord; }));
  key.maximaKnown = false;
  Touch(key, FileTimeNow());
  return ERROR_SUCCESS;
}

void View::Unlink(CachedKey& key) {
  const auto it = keys_->find(key.parent);
  if (it == keys_->end()) return;
  CachedKey& parent = it->second;
  if (parent.childrenLoaded) {
    const std::size_t at = parent.children.LowerBound(
        [&key](const CachedKey::Child& c) { return Before(c, key.name); });
    if (at < parent.children.Size() && parent.children.At(at).id == key.id) {
      parent.children.Erase(at);
    }
  } else {
    Lookups(parent)[FoldKey(key.name)] = 0;
  }
  parent.maximaKnown = false;
  Touch(parent, FileTimeNow());
}

LONG View::DeleteTree(CachedKey& key) {
  bool any = true;
  if (const LONG status = HasChildren(key, any)) return status;
  const bool values = !key.valuesLoaded || key.values.Size() > 0;
  // Watches of keys below it find them gone.
  store_.Changes().Add(key.id, SharedChanges::kDeleted);
  store_.Changes().Add(key.parent, REG_NOTIFY_CHANGE_NAME);
  // Other views may hold keys below it under any parent.
  if (any) store_.Changes().Everything();
  if (const LONG status = store_.rows().DeleteTree(key.id, !any, values)) {
    return status;
  }
  Unlink(key);
  if (any) {
    // Keys below may sit in the cache under any parent: rather than chase
    // them, start again from the store after this call.
    Clear();
    return ERROR_SUCCESS;
  }
  keys_->erase(key.id);
  ++generation_;
  return ERROR_SUCCESS;
}

LONG View::RenameKey(CachedKey& key, std::u16string_view name) {
  // Other views hold the key by its old name, in lists ordered by it:
  // rather than chase every one, all start again from the store, as this
  // one does after the call.
  store_.Changes().Everything();
  store_.Changes().Note(key.id, REG_NOTIFY_CHANGE_NAME);
  store_.Changes().Note(key.parent, REG_NOTIFY_CHANGE_NAME);
  const std::uint64_t now = FileTimeNow();
  if (const LONG status = store_.rows().RenameKey(key.id, name, now)) {
    return status;
  }
  const std::int64_t parent = key.parent;
  Clear();
  CachedKey* above = nullptr;
  if (const LONG status = Key(parent, above)) return status;
  Touch(*above, now);
  return ERROR_SUCCESS;
}

LONG View::MarkFlush() {
  store_.MarkWritten();
  return ERROR_SUCCESS;
}

LONG View::Reset() {
  store_.Changes().Everything();
  store_.Changes().NoteEverything(kAnyChange | SharedChanges::kDeleted);
  Clear();
  return store_.rows().Reset();
}

const std::string& View::Locate() {
  bool reopened = false;
  store_.Bind(reopened);
  if (reopened) {
    Clear();
    if (onRebind) onRebind();
  }
  return store_.Path();
}

bool View::BuildAside(const std::function<bool(Rows&)>& fill) {
  if (!store_.BuildAside(fill)) return false;
  Clear();
  return true;
}

std::string View::Bulk(const std::function<std::string(Rows&)>& apply) {
  store_.Changes().Everything();
  store_.Changes().NoteEverything(kAnyChange);
  store_.BulkCache(true);
  std::string result = apply(store_.rows());
  store_.BulkCache(false);
  return result;
}

}  // namespace corvane::platform::emulated
