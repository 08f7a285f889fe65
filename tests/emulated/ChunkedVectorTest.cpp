// ChunkedVector against a plain vector: the same random inserts and erases
// on both, across the lengths at which it turns into chunks, splits,
// merges and falls back to one vector.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "platform/emulated/view/ChunkedVector.h"

namespace corvane::platform::emulated {
namespace {

using Chunked = ChunkedVector<int>;
constexpr std::size_t kChunk = Chunked::kChunk;

void ExpectSame(const Chunked& chunked, const std::vector<int>& mirror) {
  ASSERT_EQ(chunked.Size(), mirror.size());
  std::vector<int> seen;
  chunked.ForEach([&seen](const int& x) { seen.push_back(x); });
  ASSERT_EQ(seen, mirror);
  for (std::size_t i = 0; i < mirror.size(); i += 1 + mirror.size() / 50) {
    ASSERT_EQ(chunked.At(i), mirror[i]) << "at " << i;
  }
  if (!mirror.empty()) {
    ASSERT_EQ(chunked.Back(), mirror.back());
  }
}

TEST(ChunkedVector, RandomEditsAgreeWithAVectorAtEveryLength) {
  Chunked chunked;
  std::vector<int> mirror;
  std::mt19937 random(7);
  int next = 0;
  // Grow well past one chunk, shrink back below it, and grow again: each
  // phase leans one way but mixes in the other. The last ones come and go
  // around empty, which holds no elements' storage at all.
  for (const std::size_t target :
       {kChunk * 9, kChunk / 8, kChunk * 3, 0ul, 3ul, 0ul}) {
    while (mirror.size() != target) {
      const bool grow =
          mirror.size() < target ? random() % 4 != 0 : random() % 4 == 0;
      if (grow) {
        const std::size_t at = random() % (mirror.size() + 1);
        chunked.Insert(at, next);
        mirror.insert(mirror.begin() + static_cast<std::ptrdiff_t>(at), next);
        ++next;
      } else if (!mirror.empty()) {
        const std::size_t at = random() % mirror.size();
        ASSERT_EQ(chunked.Erase(at), mirror[at]);
        mirror.erase(mirror.begin() + static_cast<std::ptrdiff_t>(at));
      }
      if (next % 97 == 0) ExpectSame(chunked, mirror);
    }
    ExpectSame(chunked, mirror);
  }
}

TEST(ChunkedVector, SortedLoadFillsChunksAndLowerBoundFindsEveryPlace) {
  Chunked chunked;
  std::vector<int> mirror;
  // Appending in order, as a sorted load does, then erasing from the front,
  // where merges happen against the only neighbour there is.
  for (int i = 0; i < int(kChunk) * 5 + 3; ++i) {
    chunked.Insert(chunked.Size(), 2 * i);
    mirror.push_back(2 * i);
  }
  ExpectSame(chunked, mirror);
  for (int probe = -1; probe <= mirror.back() + 1; probe += 37) {
    const auto below = [probe](int x) { return x < probe; };
    const auto expected = static_cast<std::size_t>(
        std::partition_point(mirror.begin(), mirror.end(), below) -
        mirror.begin());
    ASSERT_EQ(chunked.LowerBound(below), expected) << "probe " << probe;
  }
  while (!mirror.empty()) {
    ASSERT_EQ(chunked.Erase(0), mirror.front());
    mirror.erase(mirror.begin());
    if (mirror.size() % 211 == 0) ExpectSame(chunked, mirror);
  }
  chunked.Insert(0, 1);
  chunked.Clear();
  EXPECT_EQ(chunked.Size(), 0u);
  EXPECT_EQ(chunked.LowerBound([](int) { return true; }), 0u);
  chunked.Reserve(3);
  chunked.Insert(0, 4);
  ExpectSame(chunked, {4});
}

}  // namespace
}  // namespace corvane::platform::emulated
