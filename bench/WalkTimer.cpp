// A self-timing harness that builds for both registries (there is no Google
// Benchmark for mingw): the suite's walks and RemoveKeyTree timed with
// std::chrono, and the single steps of the multi-process cases, which
// compare_wine.sh starts as separate processes, natively and under Wine
// alike. Output is one line per result, "<case> <ns> <runs>" for the
// in-process cases; the fastest run is kept, as the steadiest estimate on a
// busy machine.
//
//   corvane_walktimer [--walk N,N,...] [--items N] [--remove N,N,...]
//                     [--min-time SECONDS]
//   corvane_walktimer --build N     makes tree N below the scratch key, kept
//   corvane_walktimer --cold N      walks tree N once as this process's first
//                                   registry work: "ColdWalk/N <ns> 1"
//   corvane_walktimer --drop        removes the scratch key
//   corvane_walktimer --writer ID N START_MS
//                     waits for the wall clock to reach START_MS (ms since
//                     the Unix epoch), writes N values "wID_i" under the
//                     scratch key's Writers subkey: "<start ms> <end ms>
//                     <written>"
//   corvane_walktimer --count       the values under Writers: "<count>"
//   corvane_walktimer --listen SECONDS GAP_US
//                     polls the beat: one line per beat, "<latency ns>" or
//                     "<latency ns> missed", then "end"
//   corvane_walktimer --notified SECONDS GAP_US
//                     as --listen, reading the beat each time
//                     RegNotifyChangeKeyValue returns instead of polling
//   corvane_walktimer --beat N GAP_US    beats N times once a listener is up
//   corvane_walktimer --reader SECONDS VALUES
//                     queries the VALUES values of the scratch key's Readings
//                     subkey (made first when missing) round and round:
//                     "<queries> <seconds>"
//   corvane_walktimer --churn SECONDS    sets one value of the scratch key's
//                     Churn subkey again and again: "<writes> <seconds>"
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/Workload.h"
#include "platform/Platform.h"
#include "registry/MRegTool.h"

namespace {

using namespace corvane;
using namespace corvane::bench;
using Clock = std::chrono::steady_clock;

constexpr const char* kWriters = "Writers";
constexpr const char* kBeats = "Beats";
constexpr const char* kReadings = "Readings";
constexpr const char* kChurn = "Churn";

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

std::int64_t WallMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
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

// One transaction where the registry offers it; call by call otherwise (an
// import the registry refuses falls back to the calls).
bool MakeTree(HKEY scratch, const std::string& name, std::int64_t keys) {
  if (ImportTree(name, keys)) return true;
  return BuildTree(scratch, name, keys) == keys;
}

HKEY OpenBelowScratch(const char* name) {
  const std::string path = std::string(kScratchPath) + "\\" + name;
  HKEY key = 0;
  platform::RegCreateKeyExA(platform::HKEY_CURRENT_USER, path.c_str(), 0,
                            nullptr, 0, platform::KEY_ALL_ACCESS, nullptr, &key,
                            nullptr);
  return key;
}

int Cold(std::int64_t keys) {
  const std::string path =
      std::string(kScratchPath) + "\\" + Numbered("Tree", keys);
  const auto t0 = Clock::now();
  const std::int64_t visited = WalkTree(path);
  const double ns = Nanoseconds(Clock::now() - t0);
  if (visited != keys) {
    std::fprintf(stderr, "cold walk visited %lld of %lld keys\n",
                 static_cast<long long>(visited), static_cast<long long>(keys));
    return 1;
  }
  std::printf("ColdWalk/%lld %.0f 1\n", static_cast<long long>(keys), ns);
  return 0;
}

int Build(std::int64_t keys) {
  const HKEY scratch = OpenScratch();
  const std::string name = Numbered("Tree", keys);
  MRegTool::RemoveKeyTree(scratch, std::wstring(name.begin(), name.end()));
  const bool made = MakeTree(scratch, name, keys);
  platform::RegCloseKey(scratch);
  if (!made) std::fprintf(stderr, "building %s failed\n", name.c_str());
  return made ? 0 : 1;
}

int Writer(const char* id, std::int64_t count, std::int64_t startMs) {
  const HKEY key = OpenBelowScratch(kWriters);
  if (key == 0) return 1;
  const std::int64_t wait = startMs - WallMillis();
  if (wait > 0) std::this_thread::sleep_for(std::chrono::milliseconds(wait));
  const std::int64_t began = WallMillis();
  const std::int64_t written =
      WriteValues(key, std::string("w") + id + "_", count);
  const std::int64_t ended = WallMillis();
  platform::RegCloseKey(key);
  std::printf("%lld %lld %lld\n", static_cast<long long>(began),
              static_cast<long long>(ended), static_cast<long long>(written));
  return written == count ? 0 : 1;
}

int Count() {
  const HKEY key = OpenBelowScratch(kWriters);
  const std::int64_t count = CountValues(key);
  platform::RegCloseKey(key);
  std::printf("%lld\n", static_cast<long long>(count));
  return count >= 0 ? 0 : 1;
}

int Listener(double seconds, int gapMicros, bool notified) {
  const HKEY key = OpenBelowScratch(kBeats);
  if (key == 0) return 1;
  const std::vector<Seen> beats = Listen(key, gapMicros, seconds, notified);
  platform::RegCloseKey(key);
  for (const Seen& beat : beats) {
    std::printf("%.0f%s\n", beat.latency, beat.missed ? " missed" : "");
  }
  std::printf("end\n");
  return beats.empty() ? 1 : 0;
}

// Queries `values` values of one key, one after another, for `seconds`.
int Reader(double seconds, int values) {
  const HKEY key = OpenBelowScratch(kReadings);
  if (key == 0) return 1;
  if (CountValues(key) < values) AddValues(key, values);
  std::vector<std::string> names;
  for (int i = 0; i < values; ++i) names.push_back(Numbered("v", i));
  std::int64_t queries = 0;
  bool good = true;
  const auto t0 = Clock::now();
  const auto until = t0 + std::chrono::duration<double>(seconds);
  while (Clock::now() < until) {
    for (int i = 0; i < 64; ++i, ++queries) {
      platform::BYTE data[64];
      DWORD size = sizeof data;
      good &= platform::RegQueryValueExA(key, names[queries % values].c_str(),
                                         nullptr, nullptr, data,
                                         &size) == platform::ERROR_SUCCESS;
    }
  }
  const double took = Nanoseconds(Clock::now() - t0) / 1e9;
  platform::RegCloseKey(key);
  std::printf("%lld %.3f\n", static_cast<long long>(queries), took);
  return good ? 0 : 1;
}

// Sets one value of another key as fast as it can, for `seconds`.
int Churn(double seconds) {
  const HKEY key = OpenBelowScratch(kChurn);
  if (key == 0) return 1;
  std::int64_t writes = 0;
  bool good = true;
  const auto t0 = Clock::now();
  const auto until = t0 + std::chrono::duration<double>(seconds);
  while (Clock::now() < until) {
    const DWORD data = static_cast<DWORD>(writes++);
    good &=
        platform::RegSetValueExA(key, "n", 0, platform::REG_DWORD,
                                 reinterpret_cast<const platform::BYTE*>(&data),
                                 sizeof data) == platform::ERROR_SUCCESS;
  }
  const double took = Nanoseconds(Clock::now() - t0) / 1e9;
  platform::RegCloseKey(key);
  std::printf("%lld %.3f\n", static_cast<long long>(writes), took);
  return good ? 0 : 1;
}

int Beater(int count, int gapMicros) {
  const HKEY key = OpenBelowScratch(kBeats);
  if (key == 0) return 1;
  const bool done = Beat(key, count, gapMicros, 60);
  platform::RegCloseKey(key);
  if (!done) std::fprintf(stderr, "no listener came\n");
  return done ? 0 : 1;
}

// The in-process cases: each tree is made, walked and removed in turn.
int Cases(int argc, char** argv) {
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
    if (!MakeTree(scratch, name, keys)) {
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
      if (!MakeTree(scratch, "Doomed", keys)) status = 1;
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

}  // namespace

int main(int argc, char** argv) {
  // As corvane and corvane-reg do.
  corvane::platform::DisableSqliteMemoryStatistics();
  const auto is = [&](const char* option, int operands) {
    return argc == 2 + operands && std::strcmp(argv[1], option) == 0;
  };
  if (is("--build", 1)) return Build(std::atoll(argv[2]));
  if (is("--cold", 1)) return Cold(std::atoll(argv[2]));
  if (is("--drop", 0)) {
    RemoveScratch();
    return 0;
  }
  if (is("--writer", 3)) {
    return Writer(argv[2], std::atoll(argv[3]), std::atoll(argv[4]));
  }
  if (is("--count", 0)) return Count();
  if (is("--listen", 2)) {
    return Listener(std::atof(argv[2]), std::atoi(argv[3]), false);
  }
  if (is("--notified", 2)) {
    return Listener(std::atof(argv[2]), std::atoi(argv[3]), true);
  }
  if (is("--reader", 2)) return Reader(std::atof(argv[2]), std::atoi(argv[3]));
  if (is("--churn", 1)) return Churn(std::atof(argv[2]));
  if (is("--beat", 2)) return Beater(std::atoi(argv[2]), std::atoi(argv[3]));
  return Cases(argc, argv);
}
