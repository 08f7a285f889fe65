// A tree of keys and values in memory, as a .reg file describes one: what
// the hive tools and the .reg format's tests read files into and write them
// from. Its ChunkedVector also holds the lists of the registry's view.
//
// Names are case-preserving and compared case-insensitively, as Windows
// compares registry names (base/RegistryNames.h). Subkeys are kept in
// case-insensitive sorted order, values in the order they were first created.
// Finding a child or value by name and reaching one by position both cost O(log
// n), so a walk over n keys by position costs O(n log n), never O(n^2).
//
// Not thread-safe.
//
// Ownership: a KeyTree owns its roots, a node owns its children. Nodes are
// held by std::shared_ptr so that an open registry handle keeps a deleted key
// alive (and answers ERROR_KEY_DELETED through it); raw KeyNode pointers
// handed out here stay valid until that key is removed or the tree cleared.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace corvane::platform::emulated {

struct KeyValue {
  std::u16string name;  // as first created; "" is the key's default value
  // The raw bytes, as the wide registry functions see them: REG_SZ,
  // REG_EXPAND_SZ and REG_MULTI_SZ are UTF-16LE with whatever terminators
  // the writer gave them.
  std::vector<BYTE> data;
  // Last, so that what a key stores beside each value fits in the padding.
  DWORD type = REG_NONE;
};

class KeyTree;

namespace detail {

// A sequence held as one vector while it is short and as a row of chunks of
// at most kChunk elements once it is long. Inserting or erasing anywhere
// moves at most one chunk and renumbers the chunk starts, O(kChunk + n /
// kChunk); reaching an element by position is a binary search over the
// starts. A short sequence (nearly every key's) costs one vector and no more.
template <class T>
class ChunkedVector {
 public:
  static constexpr std::size_t kChunk = 512;

  ChunkedVector() = default;
  ChunkedVector(const ChunkedVector&) = delete;
  ChunkedVector& operator=(const ChunkedVector&) = delete;

  std::size_t Size() const { return big_ ? big_->size : flat_.size(); }

  // position < Size().
  T& At(std::size_t position) {
    if (!big_) return flat_[position];
    const std::size_t c = ChunkOf(position);
    return big_->chunks[c][position - big_->starts[c]];
  }
  const T& At(std::size_t position) const {
    return const_cast<ChunkedVector*>(this)->At(position);
  }
  // Size() > 0.
  const T& Back() const {
    return big_ ? big_->chunks.back().back() : flat_.back();
  }

  // The first position whose element is not `below`, for a sequence ordered
  // so that every element `below` comes first.
  template <class Below>
  std::size_t LowerBound(Below below) const {
    if (!big_) {
      return static_cast<std::size_t>(
          std::partition_point(flat_.begin(), flat_.end(), below) -
          flat_.begin());
    }
    const auto& chunks = big_->chunks;
    const auto chunk = std::partition_point(
        chunks.begin(), chunks.end(),
        [&below](const std::vector<T>& c) { return below(c.back()); });
    if (chunk == chunks.end()) return big_->size;
    const std::size_t c = static_cast<std::size_t>(chunk - chunks.begin());
    return big_->starts[c] +
           static_cast<std::size_t>(
               std::partition_point(chunk->begin(), chunk->end(), below) -
               chunk->begin());
  }

  // position <= Size().
  void Insert(std::size_t position, T value) {
    if (!big_) {
      if (flat_.size() < kChunk) {
        flat_.insert(flat_.begin() + static_cast<std::ptrdiff_t>(position),
                     std::move(value));
        return;
      }
      big_ = std::make_unique<Chunks>();
      big_->chunks.push_back(std::move(flat_));
      big_->starts.push_back(0);
      big_->size = big_->chunks.back().size();
      flat_ = {};
    }
    auto& chunks = big_->chunks;
    auto& starts = big_->starts;
    if (position == big_->size && chunks.back().size() >= kChunk) {
      // Appending, as a sorted load does: start a fresh chunk rather than
      // split a full one and leave two half empty.
      chunks.emplace_back().push_back(std::move(value));
      starts.push_back(big_->size++);
      return;
    }
    const std::size_t c =
        position == big_->size ? chunks.size() - 1 : ChunkOf(position);
    std::vector<T>& chunk = chunks[c];
    chunk.insert(
        chunk.begin() + static_cast<std::ptrdiff_t>(position - starts[c]),
        std::move(value));
    ++big_->size;
    if (chunk.size() > kChunk) {
      const auto half = chunk.begin() + static_cast<std::ptrdiff_t>(kChunk / 2);
      std::vector<T> upper(std::make_move_iterator(half),
                           std::make_move_iterator(chunk.end()));
      chunk.erase(half, chunk.end());
      chunks.insert(chunks.begin() + static_cast<std::ptrdiff_t>(c + 1),
                    std::move(upper));
      starts.insert(starts.begin() + static_cast<std::ptrdiff_t>(c + 1), 0);
    }
    Renumber(c + 1);
  }

  // Moves the element at `position` (< Size()) out.
  T Erase(std::size_t position) {
    if (!big_) {
      const auto it = flat_.begin() + static_cast<std::ptrdiff_t>(position);
      T removed = std::move(*it);
      flat_.erase(it);
      return removed;
    }
    auto& chunks = big_->chunks;
    auto& starts = big_->starts;
    std::size_t c = ChunkOf(position);
    const auto it =
        chunks[c].begin() + static_cast<std::ptrdiff_t>(position - starts[c]);
    T removed = std::move(*it);
    chunks[c].erase(it);
    --big_->size;
    // Merge a chunk that has run low into a neighbour, so that chunks stay
    // at least a quarter full on average and their number O(n / kChunk).
    if (chunks[c].size() < kChunk / 4 && chunks.size() > 1) {
      const std::size_t into = c > 0 ? c - 1 : c + 1;
      if (chunks[c].size() + chunks[into].size() <= kChunk) {
        const std::size_t low = std::min(c, into), high = low + 1;
        chunks[low].insert(chunks[low].end(),
                           std::make_move_iterator(chunks[high].begin()),
                           std::make_move_iterator(chunks[high].end()));
        chunks.erase(chunks.begin() + static_cast<std::ptrdiff_t>(high));
        starts.erase(starts.begin() + static_cast<std::ptrdiff_t>(high));
        c = low;
      }
    }
    if (chunks.size() == 1) {
      flat_ = std::move(chunks.front());
      big_.reset();
      return removed;
    }
    Renumber(c + 1);
    return removed;
  }

  template <class F>
  void ForEach(F&& visit) {
    if (!big_) {
      for (T& element : flat_) visit(element);
      return;
    }
    for (auto& chunk : big_->chunks) {
      for (T& element : chunk) visit(element);
    }
  }
  template <class F>
  void ForEach(F&& visit) const {
    const_cast<ChunkedVector*>(this)->ForEach(
        [&visit](const T& element) { visit(element); });
  }

  void Clear() {
    flat_ = {};
    big_.reset();
  }

 private:
  struct Chunks {
    std::vector<std::vector<T>> chunks;  // none empty
    std::vector<std::size_t> starts;     // position of each chunk's first
    std::size_t size = 0;
  };

  std::size_t ChunkOf(std::size_t position) const {
    const auto& starts = big_->starts;
    return static_cast<std::size_t>(
               std::upper_bound(starts.begin(), starts.end(), position) -
               starts.begin()) -
           1;
  }

  void Renumber(std::size_t from) {
    auto& starts = big_->starts;
    for (std::size_t c = std::max<std::size_t>(from, 1); c < starts.size();
         ++c) {
      starts[c] = starts[c - 1] + big_->chunks[c - 1].size();
    }
  }

  std::vector<T> flat_;
  std::unique_ptr<Chunks> big_;
};

// A value as a key stores it; `serial` is what the name index of a key with
// many values refers to, as positions move when values are deleted.
struct StoredValue : KeyValue {
  std::uint32_t serial = 0;
};

}  // namespace detail

class KeyNode : public std::enable_shared_from_this<KeyNode> {
 public:
  KeyNode(KeyTree* tree, KeyNode* parent, std::u16string name, bool isVolatile);
  ~KeyNode();
  KeyNode(const KeyNode&) = delete;
  KeyNode& operator=(const KeyNode&) = delete;

  // The name as created ("HKEY_LOCAL_MACHINE" and so on for a root).
  const std::u16string& Name() const { return name_; }
  // nullptr for a root key and for a key that was deleted.
  KeyNode* Parent() const { return parent_; }
  // A volatile key (REG_OPTION_VOLATILE) lives until the process ends; the
  // hive file leaves it out, and its subtree with it.
  bool IsVolatile() const { return volatile_; }
  // Removed from the tree while something still held it.
  bool IsDeleted() const { return deleted_; }
  // The class string given when the key was created; not kept in the hive.
  const std::u16string& ClassName() const;
  void SetClassName(std::u16string className);
  // FILETIME ticks (100 ns since 1601) of the last change to the key, its
  // values or its list of subkeys.
  std::uint64_t LastWriteTime() const { return lastWrite_; }

  // Subkeys, in case-insensitive sorted order.
  std::size_t ChildCount() const { return children_.Size(); }
  // nullptr at or past the end.
  KeyNode* ChildAt(std::size_t index) const;
  // nullptr when there is no child of that name (any case).
  KeyNode* FindChild(std::u16string_view name) const;
  // The child of that name: the existing one (its name and volatility
  // unchanged), or a new one. `created` (optional) tells which.
  KeyNode* CreateChild(std::u16string_view name, bool isVolatile = false,
                       bool* created = nullptr);
  // Takes the child of that name out of the tree with its whole subtree;
  // every key taken out reads IsDeleted(). false when there is no such child.
  bool RemoveChild(std::u16string_view name);
  // All children in sorted order, in O(n).
  std::vector<KeyNode*> Children() const;

  // Values, in creation order.
  std::size_t ValueCount() const { return values_.Size(); }
  // nullptr at or past the end.
  const KeyValue* ValueAt(std::size_t index) const;
  // nullptr when there is no value of that name (any case).
  const KeyValue* FindValue(std::u16string_view name) const;
  // Creates the value, or replaces the type and data of the existing one
  // (which keeps its name's case and its position).
  void SetValue(std::u16string_view name, DWORD type, std::vector<BYTE> data);
  // false when there is no such value.
  bool DeleteValue(std::u16string_view name);
  // All values in creation order, in O(n).
  std::vector<const KeyValue*> Values() const;

  // Longest subkey name, class and value name (UTF-16 units) and largest
  // value data (bytes), as RegQueryInfoKey reports them. O(log n).
  std::size_t MaxChildNameLength() const;
  std::size_t MaxChildClassLength() const;
  std::size_t MaxValueNameLength() const;
  std::size_t MaxValueDataSize() const;

  // Access rights refused to every open of this key: a test hook, never
  // persisted.
  REGSAM DeniedRights() const;
  void SetDeniedRights(REGSAM rights);

  std::shared_ptr<KeyNode> Shared() { return shared_from_this(); }

 private:
  friend class KeyTree;
  class LengthHistogram;
  struct ClassRightsAndIndexes;

  // Up to this many children or values a key keeps no index beside them:
  // a scan of so few is as quick as any lookup and costs no memory.
  static constexpr std::size_t kSmall = 16;

  void Touch();
  void MarkDeletedSubtree();
  ClassRightsAndIndexes& MakeClassRightsAndIndexes();
  // Where a child of that name is or would go, and whether it is there.
  std::size_t ChildPosition(std::u16string_view name, bool& found) const;
  detail::StoredValue* FindStored(std::u16string_view name,
                                  std::size_t* position = nullptr);
  void IndexChildren();
  void IndexValues();

  KeyTree* tree_;
  KeyNode* parent_;
  std::u16string name_;
  // Children in case-insensitive order of their names; values in creation
  // order.
  detail::ChunkedVector<std::shared_ptr<KeyNode>> children_;
  detail::ChunkedVector<detail::StoredValue> values_;
  std::uint64_t lastWrite_ = 0;
  // What few keys need: a class, denied rights, and the indexes of a key with
  // more than kSmall children or values. Made on first use.
  std::unique_ptr<ClassRightsAndIndexes> classRightsAndIndexes_;
  bool volatile_;
  bool deleted_ = false;
};

class KeyTree {
 public:
  // A fresh installation: the root keys and
  // HKEY_LOCAL_MACHINE\SOFTWARE\Classes\AppID.
  KeyTree();
  ~KeyTree();
  KeyTree(const KeyTree&) = delete;
  KeyTree& operator=(const KeyTree&) = delete;

  // The predefined keys HKEY_CURRENT_USER (0x80000001) to HKEY_DYN_DATA
  // (0x80000006), in that order. HKEY_CLASSES_ROOT is not a root of its own
  // but HKEY_LOCAL_MACHINE\SOFTWARE\Classes.
  static constexpr HKEY kRoots[] = {HKEY_CURRENT_USER,   HKEY_LOCAL_MACHINE,
                                    HKEY_USERS,          HKEY_PERFORMANCE_DATA,
                                    HKEY_CURRENT_CONFIG, HKEY_DYN_DATA};
  // The key a predefined value stands for; for HKEY_CLASSES_ROOT the
  // HKEY_LOCAL_MACHINE\SOFTWARE\Classes key, created again if it was
  // deleted. nullptr for any other value.
  KeyNode* Root(HKEY root);
  // The same without creating anything: nullptr for HKEY_CLASSES_ROOT when
  // its key is missing.
  const KeyNode* Root(HKEY root) const;
  // "HKEY_CLASSES_ROOT" … "HKEY_DYN_DATA"; nullptr for any other value.
  static const char* RootName(HKEY root);

  // Throws everything away and starts again as a fresh installation. Keys
  // still held elsewhere read IsDeleted().
  void Clear();

  // Set by every change to a key or value since ClearChanged().
  bool Changed() const { return changed_; }
  void MarkChanged() { changed_ = true; }
  void ClearChanged() { changed_ = false; }

 private:
  void Populate();

  std::vector<std::shared_ptr<KeyNode>> roots_;
  bool changed_ = false;
};

}  // namespace corvane::platform::emulated
