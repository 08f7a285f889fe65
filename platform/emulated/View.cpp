// The process-local view of the shared store: loading on demand, the call
// protocol that keeps the cache honest, and writes applied to the database
// and the cache together.
#include "platform/emulated/View.h"

#include <algorithm>
#include <chrono>
#include <unordered_map>
#include <utility>

namespace corvane::platform::emulated {
namespace {

// How many keys one listing of subkeys brings in: a walk's next few
// thousand calls, for the price of two queries.
constexpr std::size_t kPrefetch = 1 << 18;

constexpr std::uint64_t kNothing = 1;  // odd: the cache holds no state

bool Odd(std::uint64_t counter) { return (counter & 1) != 0; }

// A value loaded from the store, after those of the key already cached.
void AppendValue(CachedKey& key, ValueRow&& row) {
  key.valueOrds.emplace(FoldKey(row.name), row.ord);
  key.values.Insert(
      key.values.Size(),
      CachedValue{std::move(row.name), row.type, std::move(row.data), row.ord});
}

}  // namespace

void View::Clear() {
  keys_.clear();
  cached_ = kNothing;
}

LONG View::Begin(bool write) {
  bool reopened = false;
  const LONG bound = store_.Bind(reopened);
  if (reopened) {
    Clear();
    if (onRebind) onRebind();
  }
  if (bound != ERROR_SUCCESS) {
    Clear();
    return bound;
  }
  validated_ = false;
  rerun_ = false;
  if (write) {
    if (const LONG status = store_.BeginWrite()) {
      if (!store_.Problem().empty()) Clear();
      return status;
    }
    // Holding the write lock, nobody else can commit: what is loaded now is
    // the latest state, and the cache is part of it if the counter agrees.
    validated_ = true;
  }
  callStart_ = store_.Counter();
  if (Odd(callStart_) && !write) {
    // Caching waits for the counter to be even again; when it stays odd a
    // while, its writer is likely gone.
    const auto now = std::chrono::steady_clock::now();
    if (callStart_ != lastOdd_) {
      lastOdd_ = callStart_;
      oddSince_ = now;
    } else if (now - oddSince_ > std::chrono::milliseconds(100)) {
      store_.Settle(callStart_);
      oddSince_ = now;
      callStart_ = store_.Counter();
    }
  }
  if (callStart_ != cached_ || Odd(callStart_)) Clear();
  return ERROR_SUCCESS;
}

void View::End() {
  store_.EndRead();
  validated_ = false;
  rerun_ = false;
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
  // The read transaction's snapshot was fixed by the load just made. An
  // even counter unchanged since the call began means no commit happened
  // since that state, so the snapshot and the cache agree.
  const std::uint64_t now = store_.Counter();
  if (now == callStart_ && !Odd(now)) {
    if (keys_.empty() || cached_ == now) {
      cached_ = now;
      return ERROR_SUCCESS;
    }
  }
  if (rerun_) return ERROR_SUCCESS;  // an empty cache, one snapshot
  return kRetry;
}

CachedKey& View::Put(const KeyRow& row) {
  auto& slot = keys_[row.id];
  if (!slot) {
    slot = std::make_unique<CachedKey>();
    slot->id = row.id;
    slot->parent = row.parent;
    slot->name = row.name;
    slot->className = row.className;
    slot->isVolatile = row.isVolatile;
    slot->lastWrite = row.lastWrite;
  }
  return *slot;
}

LONG View::Key(std::int64_t id, CachedKey*& key) {
  if (const auto it = keys_.find(id); it != keys_.end()) {
    key = it->second.get();
    return ERROR_SUCCESS;
  }
  if (!store_.InWrite()) {
    if (const LONG status = store_.BeginRead()) return status;
  }
  KeyRow row;
  bool found = false;
  if (const LONG status = store_.LoadKey(id, row, found)) return status;
  if (const LONG status = Loaded()) return status;
  if (!found) return ERROR_KEY_DELETED;
  key = &Put(row);
  return ERROR_SUCCESS;
}

LONG View::Child(CachedKey& parent, std::u16string_view name,
                 CachedKey*& child) {
  child = nullptr;
  const std::string fold = FoldKey(name);
  std::int64_t id = 0;
  if (parent.childrenLoaded) {
    const std::size_t at = parent.children.LowerBound(
        [&fold](const CachedKey::Child& c) { return c.fold < fold; });
    if (at == parent.children.Size() || parent.children.At(at).fold != fold) {
      return ERROR_SUCCESS;
    }
    id = parent.children.At(at).id;
  } else if (const auto it = parent.lookups.find(fold);
             it != parent.lookups.end()) {
    id = it->second;
    if (id == 0) return ERROR_SUCCESS;
  } else {
    if (!store_.InWrite()) {
      if (const LONG status = store_.BeginRead()) return status;
    }
    KeyRow row;
    bool found = false;
    const std::int64_t parentId = parent.id;
    if (const LONG status = store_.LoadChild(parentId, name, row, found)) {
      return status;
    }
    if (const LONG status = Loaded()) return status;
    if (found) child = &Put(row);
    parent.lookups.emplace(fold, found ? row.id : 0);
    return ERROR_SUCCESS;
  }
  return Key(id, child);
}

LONG View::LoadChildren(CachedKey& key) {
  if (key.childrenLoaded) return ERROR_SUCCESS;
  if (!store_.InWrite()) {
    if (const LONG status = store_.BeginRead()) return status;
  }
  std::vector<KeyRow> rows;
  std::vector<bool> complete;
  std::vector<ValueRow> values;
  const std::int64_t top = key.id;
  if (const LONG status =
          store_.LoadSubtree(top, kPrefetch, rows, complete, values)) {
    return status;
  }
  if (const LONG status = Loaded()) return status;
  if (rows.empty() || rows.front().id != top) return ERROR_KEY_DELETED;
  PutSubtreeKeys(rows, complete);
  PutSubtreeValues(rows, values);
  return ERROR_SUCCESS;
}

// A key whose children all came is given its whole list, in the registry's
// order; one whose children were cut off by the prefetch limit only learns
// the ones that came, as lookups.
void View::PutSubtreeKeys(const std::vector<KeyRow>& rows,
                          const std::vector<bool>& complete) {
  std::unordered_map<std::int64_t, std::vector<CachedKey::Child>> byParent;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    Put(rows[i]);
    byParent[rows[i].parent].push_back({FoldKey(rows[i].name), rows[i].id});
  }
  const auto byFold = [](const CachedKey::Child& a, const CachedKey::Child& b) {
    return a.fold < b.fold;
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    CachedKey& k = Put(rows[i]);
    auto it = byParent.find(k.id);
    if (!complete[i]) {
      if (it != byParent.end()) {
        for (auto& c : it->second) k.lookups.emplace(c.fold, c.id);
      }
      continue;
    }
    if (k.childrenLoaded) continue;
    k.childrenLoaded = true;
    k.lookups.clear();
    k.maximaKnown = false;
    if (it == byParent.end()) continue;
    auto& list = it->second;
    if (!std::is_sorted(list.begin(), list.end(), byFold)) {
      std::sort(list.begin(), list.end(), byFold);
    }
    for (auto& c : list) k.children.Insert(k.children.Size(), std::move(c));
  }
}

// Values of every key listed; a key without any has none.
void View::PutSubtreeValues(const std::vector<KeyRow>& rows,
                            std::vector<ValueRow>& values) {
  std::unordered_map<std::int64_t, std::vector<ValueRow*>> valuesOf;
  for (ValueRow& v : values) valuesOf[v.key].push_back(&v);
  for (const KeyRow& row : rows) {
    CachedKey& k = *keys_[row.id];
    if (k.valuesLoaded) continue;
    k.valuesLoaded = true;
    k.maximaKnown = false;
    auto it = valuesOf.find(row.id);
    if (it == valuesOf.end()) continue;
    auto& list = it->second;
    std::sort(
        list.begin(), list.end(),
        [](const ValueRow* a, const ValueRow* b) { return a->ord < b->ord; });
    for (ValueRow* v : list) AppendValue(k, std::move(*v));
  }
}

LONG View::LoadValues(CachedKey& key) {
  if (key.valuesLoaded) return ERROR_SUCCESS;
  if (!store_.InWrite()) {
    if (const LONG status = store_.BeginRead()) return status;
  }
  std::vector<ValueRow> rows;
  const std::int64_t id = key.id;
  if (const LONG status = store_.LoadValues(id, rows)) return status;
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
  key.maxChildName = key.maxChildClass = 0;
  for (std::size_t i = 0; i < key.children.Size(); ++i) {
    CachedKey* child = nullptr;
    if (const LONG status = Key(key.children.At(i).id, child)) return status;
    key.maxChildName = std::max(key.maxChildName, child->name.size());
    key.maxChildClass = std::max(key.maxChildClass, child->className.size());
  }
  key.maxValueName = key.maxValueData = 0;
  key.values.ForEach([&key](const CachedValue& v) {
    key.maxValueName = std::max(key.maxValueName, v.name.size());
    key.maxValueData = std::max(key.maxValueData, v.data.size());
  });
  key.maximaKnown = true;
  return ERROR_SUCCESS;
}

const CachedValue* View::FindValue(CachedKey& key, std::u16string_view name) {
  const auto it = key.valueOrds.find(FoldKey(name));
  if (it == key.valueOrds.end()) return nullptr;
  const std::int64_t ord = it->second;
  const std::size_t at = key.values.LowerBound(
      [ord](const CachedValue& v) { return v.ord < ord; });
  return &key.values.At(at);
}

LONG View::HasChildren(CachedKey& key, bool& any) {
  if (key.childrenLoaded) {
    any = key.children.Size() > 0;
    return ERROR_SUCCESS;
  }
  for (const auto& [fold, id] : key.lookups) {
    if (id != 0) {
      any = true;
      return ERROR_SUCCESS;
    }
  }
  if (!store_.InWrite()) {
    if (const LONG status = store_.BeginRead()) return status;
  }
  const std::int64_t id = key.id;
  if (const LONG status = store_.HasChildren(id, any)) return status;
  return Loaded();
}

void View::Touch(CachedKey& key, std::uint64_t time) {
  key.lastWrite = time;
  store_.Touch(key.id, time);
}

LONG View::CreateChild(CachedKey& parent, std::u16string_view name,
                       const std::u16string* className, bool isVolatile,
                       CachedKey*& child) {
  const std::uint64_t now = FileTimeNow();
  KeyRow row;
  if (const LONG status = store_.InsertKey(parent.id, name, className,
                                           isVolatile, now, row.id)) {
    return status;
  }
  row.parent = parent.id;
  row.name = std::u16string(name);
  if (className != nullptr) row.className = *className;
  row.isVolatile = isVolatile;
  row.lastWrite = now;
  child = &Put(row);
  // A new key has nothing below it yet.
  child->childrenLoaded = child->valuesLoaded = true;
  std::string fold = FoldKey(name);
  if (parent.childrenLoaded) {
    const std::size_t at = parent.children.LowerBound(
        [&fold](const CachedKey::Child& c) { return c.fold < fold; });
    parent.children.Insert(at, {std::move(fold), row.id});
  } else {
    parent.lookups[fold] = row.id;
  }
  parent.maximaKnown = false;
  Touch(parent, now);
  return ERROR_SUCCESS;
}

LONG View::SetClass(CachedKey& key, std::u16string_view className) {
  key.className = std::u16string(className);
  if (const auto it = keys_.find(key.parent); it != keys_.end()) {
    it->second->maximaKnown = false;
  }
  return store_.SetClass(key.id, className);
}

LONG View::SetValue(CachedKey& key, std::u16string_view name, DWORD type,
                    std::vector<BYTE> data) {
  const std::string fold = FoldKey(name);
  bool insert = true;
  std::int64_t ord = 0;
  if (key.valuesLoaded) {
    const auto it = key.valueOrds.find(fold);
    insert = it == key.valueOrds.end();
    ord = insert ? (key.values.Size() ? key.values.Back().ord + 1 : 1)
                 : it->second;
  } else {
    // Writers taking turns each find the others' values gone from their
    // cache: ask for this one name, not for every value of the key.
    bool found = false;
    if (const LONG status = store_.FindValue(key.id, name, ord, found)) {
      return status;
    }
    insert = !found;
    if (insert) {
      if (const LONG status = store_.NextOrd(key.id, ord)) return status;
    }
  }
  if (const LONG status = store_.PutValue(key.id, ord, insert, name, type,
                                          {data.data(), data.size()})) {
    return status;
  }
  if (!key.valuesLoaded) {
    key.maximaKnown = false;
    Touch(key, FileTimeNow());
    return ERROR_SUCCESS;
  }
  if (insert) {
    key.valueOrds.emplace(fold, ord);
    key.values.Insert(key.values.Size(), CachedValue{std::u16string(name), type,
                                                     std::move(data), ord});
  } else {
    const std::size_t at = key.values.LowerBound(
        [ord](const CachedValue& v) { return v.ord < ord; });
    CachedValue& value = key.values.At(at);
    value.type = type;
    value.data = std::move(data);
  }
  key.maximaKnown = false;
  Touch(key, FileTimeNow());
  return ERROR_SUCCESS;
}

LONG View::DeleteValue(CachedKey& key, std::u16string_view name, bool& found) {
  if (const LONG status = LoadValues(key)) return status;
  const auto it = key.valueOrds.find(FoldKey(name));
  found = it != key.valueOrds.end();
  if (!found) return ERROR_SUCCESS;
  const std::int64_t ord = it->second;
  if (const LONG status = store_.DeleteValue(key.id, ord)) return status;
  key.valueOrds.erase(it);
  key.values.Erase(key.values.LowerBound(
      [ord](const CachedValue& v) { return v.ord < ord; }));
  key.maximaKnown = false;
  Touch(key, FileTimeNow());
  return ERROR_SUCCESS;
}

void View::Unlink(CachedKey& key) {
  const auto it = keys_.find(key.parent);
  if (it == keys_.end()) return;
  CachedKey& parent = *it->second;
  const std::string fold = FoldKey(key.name);
  if (parent.childrenLoaded) {
    const std::size_t at = parent.children.LowerBound(
        [&fold](const CachedKey::Child& c) { return c.fold < fold; });
    if (at < parent.children.Size() && parent.children.At(at).id == key.id) {
      parent.children.Erase(at);
    }
  } else {
    parent.lookups[fold] = 0;
  }
  parent.maximaKnown = false;
  Touch(parent, FileTimeNow());
}

LONG View::DeleteTree(CachedKey& key) {
  bool any = true;
  if (const LONG status = HasChildren(key, any)) return status;
  if (const LONG status = store_.DeleteTree(key.id, !any)) return status;
  Unlink(key);
  if (any) {
    // Keys below may sit in the cache under any parent: rather than chase
    // them, start again from the store after this call.
    Clear();
    return ERROR_SUCCESS;
  }
  keys_.erase(key.id);
  return ERROR_SUCCESS;
}

LONG View::MarkFlush() {
  store_.MarkWritten();
  return ERROR_SUCCESS;
}

LONG View::Reset() {
  Clear();
  return store_.Reset();
}

}  // namespace corvane::platform::emulated
