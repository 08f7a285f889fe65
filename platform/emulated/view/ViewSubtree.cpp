// The view's loading of a subtree at once: listing a key's subkeys brings in
// a slice of the keys below it, with their values, which is what a walk
// asks for next.
#include <algorithm>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/emulated/store/SubtreeScan.h"
#include "platform/emulated/view/View.h"

namespace corvane::platform::emulated {
namespace {

// How many keys one listing of subkeys brings in: a walk's next few
// thousand calls, for the price of two queries.
constexpr std::size_t kPrefetch = 1 << 18;

}  // namespace

LONG View::LoadChildren(CachedKey& key) {
  if (key.childrenLoaded) return ERROR_SUCCESS;
  if (!store_.InWrite()) {
    if (const LONG status = store_.BeginRead()) return status;
  }
  // Each key goes into the view as it is read, once the first read has
  // shown that the view may take it (Loaded answers once, then passes).
  class Sink final : public KeySink {
   public:
    explicit Sink(View& view) : view_(view) {}
    void Expect(std::size_t keys) override { placed.reserve(keys); }
    bool Take(KeyRow&& row) override {
      status = view_.Loaded();
      if (status != ERROR_SUCCESS) return false;
      const std::int64_t id = row.id;
      const std::int64_t parent = row.parent;
      placed.push_back({id, parent, &view_.Put(std::move(row))});
      return true;
    }
    void Restart() override { placed.clear(); }

    std::vector<Placed> placed;
    LONG status = ERROR_SUCCESS;

   private:
    View& view_;
  } sink(*this);
  SubtreeRest rest;
  const std::int64_t top = key.id;
  if (const LONG status = store_.subtree().Load(top, kPrefetch, sink, rest)) {
    return status;
  }
  // A store that gave no key was still read: that read is checked too.
  if (sink.status == ERROR_SUCCESS) sink.status = Loaded();
  if (sink.status != ERROR_SUCCESS) return sink.status;
  if (sink.placed.empty() || sink.placed.front().id != top) {
    return ERROR_KEY_DELETED;
  }
  PutSubtreeKeys(sink.placed, rest.complete);
  PutSubtreeValues(sink.placed, rest.values);
  return ERROR_SUCCESS;
}

// A key whose children all came is given its whole list, in the registry's
// order; one whose children were cut off by the prefetch limit only learns
// the ones that came, as lookups.
void View::PutSubtreeKeys(const std::vector<Placed>& placed,
                          const std::vector<bool>& complete) {
  const std::size_t n = placed.size();
  // Each key's parent among them (n for the top), found by id: in the keys
  // themselves when they came in id order (a scan's), else in a sorted copy.
  const auto byIdOrder = [](const Placed& a, const Placed& b) {
    return a.id < b.id;
  };
  std::vector<std::pair<std::int64_t, std::size_t>> byId;
  if (!std::is_sorted(placed.begin(), placed.end(), byIdOrder)) {
    byId.resize(n);
    for (std::size_t i = 0; i < n; ++i) byId[i] = {placed[i].id, i};
    std::sort(byId.begin(), byId.end());
  }
  const auto find = [&](std::int64_t id) {
    if (byId.empty()) {
      const auto it = std::lower_bound(placed.begin(), placed.end(),
                                       Placed{id, 0, nullptr}, byIdOrder);
      return it != placed.end() && it->id == id
                 ? static_cast<std::size_t>(it - placed.begin())
                 : n;
    }
    const auto it = std::lower_bound(byId.begin(), byId.end(),
                                     std::pair{id, std::size_t{0}});
    return it != byId.end() && it->first == id ? it->second : n;
  };
  std::vector<std::size_t> parentAt(n, n);
  std::vector<std::size_t> start(n + 1, 0);
  for (std::size_t i = 1; i < n; ++i) {
    // Siblings mostly come one after another: their parent is known.
    parentAt[i] = i > 1 && placed[i].parent == placed[i - 1].parent
                      ? parentAt[i - 1]
                      : find(placed[i].parent);
    if (parentAt[i] < n) ++start[parentAt[i] + 1];
  }
  for (std::size_t p = 0; p < n; ++p) start[p + 1] += start[p];

  // The children of key p at [start[p], start[p + 1]), in the order read.
  std::vector<CachedKey::Child> kids(start[n]);
  std::vector<std::size_t> fill(start.begin(), start.end() - 1);
  for (std::size_t i = 0; i < n; ++i) {
    if (parentAt[i] < n) {
      kids[fill[parentAt[i]]++] = {placed[i].id, placed[i].key};
    }
  }

  const auto byName = [](const CachedKey::Child& a, const CachedKey::Child& b) {
    return Before(a, b.key->name);
  };
  for (std::size_t p = 0; p < n; ++p) {
    CachedKey& k = *placed[p].key;
    const auto from = kids.begin() + static_cast<std::ptrdiff_t>(start[p]);
    const auto to = kids.begin() + static_cast<std::ptrdiff_t>(start[p + 1]);
    if (!complete[p]) {
      for (auto c = from; c != to; ++c) {
        Lookups(k).emplace(FoldKey(c->key->name), c->id);
      }
      continue;
    }
    if (k.childrenLoaded) continue;
    k.childrenLoaded = true;
    k.lookups.reset();
    k.maximaKnown = false;
    if (!std::is_sorted(from, to, byName)) std::sort(from, to, byName);
    k.children.Reserve(k.children.Size() + static_cast<std::size_t>(to - from));
    for (auto c = from; c != to; ++c) {
      k.children.Insert(k.children.Size(), std::move(*c));
    }
  }
}

// Values of every key listed; a key without any has none. Keys whose values
// were cached before keep those.
void View::PutSubtreeValues(const std::vector<Placed>& placed,
                            std::vector<ValueRow>& values) {
  std::unordered_set<std::int64_t> known;
  for (const Placed& p : placed) {
    CachedKey& k = *p.key;
    if (k.valuesLoaded) {
      known.insert(k.id);
      continue;
    }
    k.valuesLoaded = true;
    k.maximaKnown = false;
  }
  const auto byKeyAndOrd = [](const ValueRow& a, const ValueRow& b) {
    return a.key != b.key ? a.key < b.key : a.ord < b.ord;
  };
  if (!std::is_sorted(values.begin(), values.end(), byKeyAndOrd)) {
    std::sort(values.begin(), values.end(), byKeyAndOrd);
  }
  CachedKey* k = nullptr;
  for (ValueRow& v : values) {
    if (k == nullptr || k->id != v.key) {
      if (known.contains(v.key)) continue;
      k = &keys_->at(v.key);
    }
    AppendValue(*k, std::move(v));
  }
}

}  // namespace corvane::platform::emulated
