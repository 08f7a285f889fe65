// Chunks mapped from the system, doubling as the view grows; blocks carved
// from them in order and kept on lists by size once freed.
#include "platform/emulated/view/NodeArena.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <new>

namespace corvane::platform::emulated {
namespace {

// The largest chunk: a view of a million keys takes a dozen.
constexpr std::size_t kLastChunk = std::size_t{16} << 20;

std::size_t RoundUp(std::size_t n, std::size_t to) {
  return (n + to - 1) / to * to;
}

// A carved block's size class: its size in grains.
std::size_t Grains(std::size_t bytes, std::size_t grain) {
  return std::max<std::size_t>(1, RoundUp(bytes, grain) / grain);
}

}  // namespace

NodeArena::~NodeArena() {
  for (const Chunk& chunk : chunks_) munmap(chunk.start, chunk.size);
}

void NodeArena::Release() {
  std::size_t kept = 0;
  held_ = 0;
  while (kept < chunks_.size() && held_ + chunks_[kept].size <= kKept) {
    held_ += chunks_[kept++].size;
  }
  for (std::size_t i = kept; i < chunks_.size(); ++i) {
    munmap(chunks_[i].start, chunks_[i].size);
  }
  chunks_.resize(kept);
  free_.fill(nullptr);
  current_ = 0;
  next_ = chunks_.empty() ? nullptr : chunks_.front().start;
  end_ = chunks_.empty() ? nullptr : next_ + chunks_.front().size;
}

void NodeArena::Grow(std::size_t at_least) {
  // Chunks kept by Release come first.
  if (!chunks_.empty() && current_ + 1 < chunks_.size()) {
    const Chunk& chunk = chunks_[++current_];
    next_ = chunk.start;
    end_ = chunk.start + chunk.size;
    return;
  }
  std::size_t size = std::clamp(held_, kFirstChunk, kLastChunk);
  size = std::max(size, at_least);
  const bool huge = size >= kHugeChunk;
  if (huge) size = RoundUp(size, kHugeChunk);
  // A huge chunk is mapped one huge page larger and trimmed to start on a
  // huge page's boundary.
  const std::size_t mapped = huge ? size + kHugeChunk : size;
  chunks_.reserve(chunks_.size() + 1);
  void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  char* start = static_cast<char*>(p);
  if (huge) {
    const auto at = reinterpret_cast<std::uintptr_t>(p);
    char* aligned = start + (RoundUp(at, kHugeChunk) - at);
    if (aligned > start) {
      munmap(start, static_cast<std::size_t>(aligned - start));
    }
    char* tail = aligned + size;
    if (tail < start + mapped) {
      munmap(tail, static_cast<std::size_t>(start + mapped - tail));
    }
    start = aligned;
#ifdef MADV_HUGEPAGE
    // Advice only: without huge pages the chunk is faulted in 4 KB at a
    // time, like any other memory.
    madvise(start, size, MADV_HUGEPAGE);
#endif
  }
  chunks_.push_back({start, size});
  current_ = chunks_.size() - 1;
  held_ += size;
  next_ = start;
  end_ = start + size;
}

void* NodeArena::do_allocate(std::size_t bytes, std::size_t alignment) {
  if (!Carved(bytes, alignment)) {
    return ::operator new (bytes, std::align_val_t{alignment});
  }
  const std::size_t grains = Grains(bytes, kGrain);
  if (void* block = free_[grains]) {
    free_[grains] = *static_cast<void**>(block);
    return block;
  }
  const std::size_t size = grains * kGrain;
  if (static_cast<std::size_t>(end_ - next_) < size) Grow(size);
  void* block = next_;
  next_ += size;
  return block;
}

void NodeArena::do_deallocate(void* p, std::size_t bytes,
                              std::size_t alignment) {
  if (!Carved(bytes, alignment)) {
    ::operator delete (p, std::align_val_t{alignment});
    return;
  }
  const std::size_t grains = Grains(bytes, kGrain);
  *static_cast<void**>(p) = free_[grains];
  free_[grains] = p;
}

}  // namespace corvane::platform::emulated
