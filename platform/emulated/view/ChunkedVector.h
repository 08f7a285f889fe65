// A sequence that stays cheap to insert into and erase from anywhere at any
// length, and to reach by position: the lists of subkeys and values in the
// emulated registry's view.
//
// Not thread-safe.
#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

namespace corvane::platform::emulated {

namespace chunked {

// The elements of a ChunkedVector that has any: one vector while they are
// few, a row of chunks of at most kChunk elements once they are many.
template <class T>
class Items {
 public:
  static constexpr std::size_t kChunk = 512;

  std::size_t Size() const { return big_ ? big_->size : flat_.size(); }

  // position < Size().
  T& At(std::size_t position) {
    if (!big_) return flat_[position];
    const std::size_t c = ChunkOf(position);
    return big_->chunks[c][position - big_->starts[c]];
  }
  const T& At(std::size_t position) const {
    return const_cast<Items*>(this)->At(position);
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

  void Reserve(std::size_t n) {
    if (!big_) flat_.reserve(std::min(n, kChunk));
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
    const_cast<Items*>(this)->ForEach(
        [&visit](const T& element) { visit(element); });
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

}  // namespace chunked

// A sequence held as one vector while it is short and as a row of chunks of
// at most kChunk elements once it is long. Inserting or erasing anywhere
// moves at most one chunk and renumbers the chunk starts, O(kChunk + n /
// kChunk); reaching an element by position is a binary search over the
// starts. An empty sequence (most keys' subkeys or values) is one null
// pointer, a short one a vector besides.
template <class T>
class ChunkedVector {
 public:
  static constexpr std::size_t kChunk = chunked::Items<T>::kChunk;

  ChunkedVector() = default;
  ChunkedVector(const ChunkedVector&) = delete;
  ChunkedVector& operator=(const ChunkedVector&) = delete;

  std::size_t Size() const { return items_ ? items_->Size() : 0; }

  // position < Size().
  T& At(std::size_t position) { return items_->At(position); }
  const T& At(std::size_t position) const { return items_->At(position); }
  // Size() > 0.
  const T& Back() const { return items_->Back(); }

  // The first position whose element is not `below`, for a sequence ordered
  // so that every element `below` comes first.
  template <class Below>
  std::size_t LowerBound(Below below) const {
    return items_ ? items_->LowerBound(below) : 0;
  }

  // Room for `n` elements in all, so that a list filled at once takes its
  // memory in one piece.
  void Reserve(std::size_t n) {
    if (n == 0) return;
    Made().Reserve(n);
  }

  // position <= Size().
  void Insert(std::size_t position, T value) {
    Made().Insert(position, std::move(value));
  }

  // Moves the element at `position` (< Size()) out.
  T Erase(std::size_t position) {
    T removed = items_->Erase(position);
    if (items_->Size() == 0) items_.reset();
    return removed;
  }

  template <class F>
  void ForEach(F&& visit) {
    if (items_) items_->ForEach(visit);
  }
  template <class F>
  void ForEach(F&& visit) const {
    if (items_) std::as_const(*items_).ForEach(visit);
  }

  void Clear() { items_.reset(); }

 private:
  chunked::Items<T>& Made() {
    if (!items_) items_ = std::make_unique<chunked::Items<T>>();
    return *items_;
  }

  std::unique_ptr<chunked::Items<T>> items_;
};

}  // namespace corvane::platform::emulated
