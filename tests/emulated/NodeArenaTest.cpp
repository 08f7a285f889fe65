// NodeArena under a map the way the view uses it: many nodes of one size,
// through the growth into huge chunks, with erasing and inserting mixed in,
// checked against a plain map; then released and used again.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory_resource>
#include <random>
#include <unordered_map>

#include "platform/emulated/view/NodeArena.h"

namespace corvane::platform::emulated {
namespace {

struct Payload {
  std::int64_t key;
  char bytes[100];
};

using Map = std::pmr::unordered_map<std::int64_t, Payload>;

Payload Made(std::int64_t key) {
  Payload p{key, {}};
  for (std::size_t i = 0; i < sizeof p.bytes; ++i) {
    p.bytes[i] = static_cast<char>(key * 31 + static_cast<std::int64_t>(i));
  }
  return p;
}

void ExpectSame(const Map& map, const std::map<std::int64_t, Payload>& mirror) {
  ASSERT_EQ(map.size(), mirror.size());
  for (const auto& [key, payload] : mirror) {
    const auto it = map.find(key);
    ASSERT_NE(it, map.end()) << key;
    ASSERT_EQ(it->second.key, key);
    ASSERT_EQ(
        std::memcmp(it->second.bytes, payload.bytes, sizeof payload.bytes), 0)
        << key;
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(&it->second) %
                  alignof(std::max_align_t),
              0u);
  }
}

TEST(NodeArena, NodesStayWholeThroughGrowthErasureAndRelease) {
  NodeArena arena;
  std::mt19937 random(11);
  for (int round = 0; round < 2; ++round) {
    std::map<std::int64_t, Payload> mirror;
    {
      Map map(&arena);
      // Well past the first huge chunk, with a quarter of the steps erasing
      // what an earlier one made, so freed blocks are handed out again.
      for (std::int64_t key = 0; key < 60000; ++key) {
        map.emplace(key, Made(key));
        mirror.emplace(key, Made(key));
        if (random() % 4 == 0) {
          const auto victim = static_cast<std::int64_t>(random() % (key + 1));
          map.erase(victim);
          mirror.erase(victim);
        }
      }
      ExpectSame(map, mirror);
      if (NodeArena::kCarves) {
        EXPECT_GE(arena.Held(), NodeArena::kHugeChunk);
      }
    }
    // The second round carves the chunks kept here before it maps more.
    arena.Release();
    EXPECT_LE(arena.Held(), NodeArena::kKept);
  }
}

}  // namespace
}  // namespace corvane::platform::emulated
