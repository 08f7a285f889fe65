// Memory for the view's cached keys. A view holds one node per key it has
// seen, all of one size, and loading a large subtree makes tens of thousands
// at once: most of that time went to page faults on fresh heap memory. The
// arena carves small blocks out of chunks that grow with the view, and
// chunks of 2 MB and more are aligned and marked for huge pages where the
// system has them, so one fault maps 2 MB instead of 4 KB. A small view
// stays in small chunks of ordinary pages.
//
// Not thread-safe.
#pragma once

#include <array>
#include <cstddef>
#include <memory_resource>
#include <vector>

namespace corvane::platform::emulated {

#if defined(__SANITIZE_ADDRESS__)
#define CORVANE_NODE_ARENA_CARVES 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVANE_NODE_ARENA_CARVES 0
#endif
#endif
#ifndef CORVANE_NODE_ARENA_CARVES
#define CORVANE_NODE_ARENA_CARVES 1
#endif

class NodeArena final : public std::pmr::memory_resource {
 public:
  // Blocks up to this size are carved; larger ones come from operator new,
  // and so does every block under AddressSanitizer, which can only check
  // the blocks it hands out itself.
  static constexpr bool kCarves = CORVANE_NODE_ARENA_CARVES;
  static constexpr std::size_t kSmall = 256;
  static constexpr std::size_t kFirstChunk = std::size_t{64} << 10;
  static constexpr std::size_t kHugeChunk = std::size_t{2} << 20;
  static constexpr std::size_t kKept = std::size_t{1} << 20;

  NodeArena() = default;
  NodeArena(const NodeArena&) = delete;
  NodeArena& operator=(const NodeArena&) = delete;
  ~NodeArena() override;

  // Forgets every block: only for when none is in use any more. Chunks
  // beyond the first kKept bytes go back to the system; the first are
  // carved again, so that a view emptied again and again (as every other
  // process's write empties it) costs no system calls or page faults.
  void Release();
  // The bytes of chunks held.
  std::size_t Held() const { return held_; }

 private:
  static constexpr std::size_t kGrain = alignof(std::max_align_t);

  struct Chunk {
    char* start;
    std::size_t size;
  };

  void* do_allocate(std::size_t bytes, std::size_t alignment) override;
  void do_deallocate(void* p, std::size_t bytes,
                     std::size_t alignment) override;
  bool do_is_equal(
      const std::pmr::memory_resource& other) const noexcept override {
    return this == &other;
  }
  static bool Carved(std::size_t bytes, std::size_t alignment) {
    return kCarves && bytes <= kSmall && alignment <= kGrain;
  }
  void Grow(std::size_t at_least);

  std::vector<Chunk> chunks_;
  // The chunk being carved.
  std::size_t current_ = 0;
  char* next_ = nullptr;
  char* end_ = nullptr;
  std::size_t held_ = 0;
  // Freed blocks by size in grains, each list linked through its blocks.
  std::array<void*, kSmall / kGrain + 1> free_{};
};

}  // namespace corvane::platform::emulated
