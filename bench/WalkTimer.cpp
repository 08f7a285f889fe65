// A self-timing harness for the walks and RemoveKeyTree, for the Windows
// build, where Google Benchmark isn't available: the same work as the
// suite's WalkAllNodes, WalkItems and RemoveKeyTree cases, timed with
// std::chrono, one line per case: "<case> <ns per run> <runs>". The fastest
// run is reported, as the steadiest estimate on a busy machine.
//
//   corvane_walktimer [--walk N,N,...] [--items N] [--remove N,N,...]
//                     [--min-time SECONDS]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/Workload.h"
#include "platform/Platform.h"
#include "registry/MRegTool.h"

namespace {

using namespace corvane;
using namespace corvane::bench;
using Clock = std::chrono::steady_clock;

std::vector<std::int64_t> ParseList(const char* text) {
  std::vector<std::int64_t> out;
  for (const char* p = text; *p != '\0';) {
    char* end = nullptr;
    out.push_back(std::strtoll(p, &end, 10));
    p = (*end == ',') ? end + 1 : end;
    if (end == p && *p != '\0') break;
  }
  return out;
}

double Nanoseconds(Clock::duration d) {
  return std::chrono::duration<double, std::nano>(d).count();
}

// Runs `once` until `minTime` has passed (at least once, at most 50 times)
// and prints the fastest run.
template <typename Once>
void Report(const std::string& name, double minTime, Once once) {
  double best = 0;
  int runs = 0;
  const auto start = Clock::now();
  do {
    const double ns = once();
    best = runs == 0 ? ns : std::min(best, ns);
    ++runs;
  } while (runs < 50 && Nanoseconds(Clock::now() - start) < minTime * 1e9);
  std::printf("%s %.0f %d\n", name.c_str(), best, runs);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::int64_t> walks = {10000, 100000};
  std::vector<std::int64_t> removes = {100000};
  std::int64_t items = 10000;
  double minTime = 1.0;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--walk") == 0) {
      walks = ParseList(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--remove") == 0) {
      removes = ParseList(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--items") == 0) {
      items = std::atoll(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--min-time") == 0) {
      minTime = std::atof(argv[i + 1]);
    } else {
      std::fprintf(stderr, "unknown option %s\n", argv[i]);
      return 2;
    }
  }

  RemoveScratch();  // what an interrupted run left behind
  const HKEY scratch = OpenScratch();
  if (scratch == 0) {
    std::fprintf(stderr, "cannot create HKEY_CURRENT_USER\\%s\n", kScratchPath);
    return 1;
  }
  int status = 0;

  for (const std::int64_t keys : walks) {
    const std::string name = Numbered("Tree", keys);
    if (BuildTree(scratch, name, keys) != keys) {
      std::fprintf(stderr, "building %s failed\n", name.c_str());
      status = 1;
      break;
    }
    const std::string path = std::string(kScratchPath) + "\\" + name;
    Report(Numbered("WalkAllNodes/", keys), minTime, [&] {
      const auto t0 = Clock::now();
      if (WalkTree(path) != keys) status = 1;
      return Nanoseconds(Clock::now() - t0);
    });
    MRegTool::RemoveKeyTree(scratch, std::wstring(name.begin(), name.end()));
  }

  if (items > 0) {
    HKEY key = 0;
    platform::RegCreateKeyExA(scratch, "Values", 0, nullptr, 0,
                              platform::KEY_ALL_ACCESS, nullptr, &key, nullptr);
    AddValues(key, static_cast<int>(items));
    platform::RegCloseKey(key);
    const std::string path = std::string(kScratchPath) + "\\Values";
    Report(Numbered("WalkItems/", items), minTime, [&] {
      const auto t0 = Clock::now();
      if (WalkValues(path) != items) status = 1;
      return Nanoseconds(Clock::now() - t0);
    });
    MRegTool::RemoveKeyTree(scratch, L"Values");
  }

  for (const std::int64_t keys : removes) {
    Report(Numbered("RemoveKeyTree/", keys), minTime, [&] {
      BuildTree(scratch, "Doomed", keys);
      const auto t0 = Clock::now();
      if (MRegTool::RemoveKeyTree(scratch, L"Doomed") != 0) status = 1;
      return Nanoseconds(Clock::now() - t0);
    });
  }

  platform::RegCloseKey(scratch);
  RemoveScratch();
  if (status != 0) std::fprintf(stderr, "a case did not visit what it built\n");
  return status;
}
