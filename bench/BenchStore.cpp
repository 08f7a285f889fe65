// The native side of the multi-process benchmarks, each timing itself:
// making the classes file (the benchmark's .reg file), importing it into a
// store, and several processes writing to one store at once. The store is the
// one CORVANE_REGISTRY names.
//
//   corvane_benchstore make FILE [KEYS]  writes a KEYS-key classes file
//   (default
//                                       100000) as a .reg file
//   corvane_benchstore import FILE       applies FILE with ImportRegFile:
//                                       "<file bytes> <seconds> <MB/s>"
//   corvane_benchstore writers P N       P processes each write N values
//                                       under one key at once, then the key's
//                                       values are counted: "<expected>
//                                       <counted> <seconds> <values/s>"
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "base/ReadAll.h"
#include "bench/Workload.h"
#include "platform/Platform.h"
#include "registry/MRegTool.h"

namespace {

using namespace corvane;
using namespace corvane::bench;
using Clock = std::chrono::steady_clock;

constexpr const char* kWritersPath = "Software\\Corvane Bench\\Writers";

int Make(const char* file, std::int64_t keys) {
  const std::string bytes = ClassesFileBytes(ClassesEntries(keys));
  std::ofstream out(file, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return out ? 0 : 1;
}

int Import(const char* file) {
  std::ifstream in(file, std::ios::binary);
  const std::vector<std::uint8_t> bytes = base::ReadAll(in);
  if (!in.is_open() || in.bad()) return 1;
  const auto start = Clock::now();
  const std::string error = platform::ImportRegFile(bytes, file);
  const std::chrono::duration<double> took = Clock::now() - start;
  if (!error.empty()) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::printf("%zu %.3f %.0f\n", bytes.size(), took.count(),
              static_cast<double>(bytes.size()) / took.count() / 1e6);
  return 0;
}

HKEY OpenWriters() {
  HKEY key = 0;
  platform::RegCreateKeyExA(platform::HKEY_CURRENT_USER, kWritersPath, 0,
                            nullptr, 0, platform::KEY_ALL_ACCESS, nullptr, &key,
                            nullptr);
  return key;
}

// One writer: opens the key (the store's setup is not what is timed),
// reports ready, waits for the start, writes.
[[noreturn]] void WriterChild(int id, std::int64_t count, int ready, int go,
                              int spans) {
  const HKEY key = OpenWriters();
  char byte = key != 0 ? 1 : 0;
  if (write(ready, &byte, 1) != 1 || read(go, &byte, 1) < 0) _exit(2);
  const std::int64_t began = SteadyNanos();
  const std::int64_t written = WriteValues(key, Numbered("w", id) + "_", count);
  const std::int64_t span[2] = {began, SteadyNanos()};
  if (write(spans, span, sizeof span) != sizeof span) _exit(2);
  platform::RegCloseKey(key);
  _exit(written == count ? 0 : 1);
}

int Writers(int processes, std::int64_t count) {
  // Cleared by a process of its own, so that this one forks before it has
  // touched the registry.
  if (const pid_t pid = fork(); pid == 0) {
    const std::string path = kWritersPath;
    MRegTool::RemoveKeyTree(platform::HKEY_CURRENT_USER,
                            std::wstring(path.begin(), path.end()));
    _exit(0);
  } else if (pid < 0 || waitpid(pid, nullptr, 0) != pid) {
    return 1;
  }
  int ready[2], go[2], spans[2];
  if (pipe(ready) != 0 || pipe(go) != 0 || pipe(spans) != 0) return 1;
  std::vector<pid_t> children;
  for (int i = 0; i < processes; ++i) {
    const pid_t pid = fork();
    if (pid < 0) return 1;
    if (pid == 0) {
      close(ready[0]);
      close(go[1]);
      close(spans[0]);
      WriterChild(i, count, ready[1], go[0], spans[1]);
    }
    children.push_back(pid);
  }
  close(ready[1]);
  close(go[0]);
  close(spans[1]);
  bool allReady = true;
  for (int i = 0; i < processes; ++i) {
    char byte = 0;
    if (read(ready[0], &byte, 1) != 1 || byte != 1) allReady = false;
  }
  // Closing the pipe wakes every writer at once.
  const auto start = Clock::now();
  close(go[1]);
  bool allWrote = true;
  for (const pid_t pid : children) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
      allWrote = false;
    }
  }
  const std::chrono::duration<double> reaped = Clock::now() - start;
  // From the first writer's first write to the last one's last, as the
  // Wine side is timed: neither side's process exit is the writing.
  std::int64_t first = INT64_MAX, last = INT64_MIN;
  for (int i = 0; i < processes; ++i) {
    std::int64_t span[2];
    if (read(spans[0], span, sizeof span) != sizeof span) {
      allWrote = false;
      break;
    }
    first = std::min(first, span[0]);
    last = std::max(last, span[1]);
  }
  const double took =
      allWrote ? static_cast<double>(last - first) / 1e9 : reaped.count();
  const HKEY key = OpenWriters();
  const std::int64_t counted = CountValues(key);
  platform::RegCloseKey(key);
  const std::int64_t expected = processes * count;
  std::printf("%lld %lld %.3f %.0f\n", static_cast<long long>(expected),
              static_cast<long long>(counted), took,
              static_cast<double>(expected) / took);
  if (!allReady || !allWrote) std::fprintf(stderr, "a writer failed\n");
  return allReady && allWrote && counted == expected ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  // As corvane-reg does.
  platform::DisableSqliteMemoryStatistics();
  if (argc >= 3 && std::strcmp(argv[1], "make") == 0) {
    return Make(argv[2], argc >= 4 ? std::atoll(argv[3]) : 100000);
  }
  if (argc == 3 && std::strcmp(argv[1], "import") == 0) return Import(argv[2]);
  if (argc == 4 && std::strcmp(argv[1], "writers") == 0) {
    return Writers(std::atoi(argv[2]), std::atoll(argv[3]));
  }
  std::fprintf(stderr,
               "usage: corvane_benchstore make FILE [KEYS] | import FILE |"
               " writers PROCESSES VALUES\n");
  return 2;
}
