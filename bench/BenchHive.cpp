// Makes the benchmark hive as a .reg file, and measures what a loaded hive
// costs in resident memory against the size of its UTF-16 text.
//
//   corvane_benchhive make FILE [KEYS]   writes a KEYS-key hive (default 100000)
//   corvane_benchhive rss FILE           loads FILE into a key tree and prints
//                                       "<file bytes> <resident bytes> <ratio>
//                                       <MB/s>": the tree's resident memory
//                                       against the file, and the speed of
//                                       this one cold load
#include <malloc.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <string>

#include "bench/Workload.h"
#include "platform/emulated/Hive.h"
#include "platform/emulated/KeyTree.h"

namespace {

// Resident set size in bytes, from /proc/self/statm.
long long Resident() {
  std::ifstream statm("/proc/self/statm");
  long long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * 4096;
}

int Make(const char* file, std::int64_t keys) {
  const std::string bytes =
      corvane::bench::HiveFileBytes(corvane::bench::HiveEntries(keys));
  std::ofstream out(file, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return out ? 0 : 1;
}

int Rss(const char* file) {
  namespace emulated = corvane::platform::emulated;
  std::ifstream in(file, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)),
                    std::istreambuf_iterator<char>());
  if (!in && !in.eof()) return 1;
  const std::size_t fileSize = bytes.size();
  malloc_trim(0);
  const long long before = Resident();
  auto tree = std::make_unique<emulated::KeyTree>();
  const auto start = std::chrono::steady_clock::now();
  const std::string error = emulated::ReadHive(
      {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, file,
      *tree);
  const std::chrono::duration<double> took =
      std::chrono::steady_clock::now() - start;
  if (!error.empty()) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  // Only the tree counts: the file's bytes are gone once a hive is loaded.
  std::string().swap(bytes);
  malloc_trim(0);
  const long long resident =
      Resident() - before + static_cast<long long>(fileSize);
  std::printf("%zu %lld %.2f %.0f\n", fileSize, resident,
              static_cast<double>(resident) / static_cast<double>(fileSize),
              static_cast<double>(fileSize) / took.count() / 1e6);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "make") == 0) {
    return Make(argv[2], argc >= 4 ? std::atoll(argv[3]) : 100000);
  }
  if (argc == 3 && std::strcmp(argv[1], "rss") == 0) return Rss(argv[2]);
  std::fprintf(stderr, "usage: corvane_benchhive make FILE [KEYS] | rss FILE\n");
  return 2;
}
