// The benchmark suite on the emulated registry (Google Benchmark): walks,
// subtree deletion, the value codec, importing the 100k-key classes file
// into an empty store, and the repair on a store holding its keys. Everything
// runs in this one process; what needs several (a cold walk, writers at once,
// change propagation) is in WalkTimer.cpp and BenchStore.cpp. The stores are
// kept in a temporary folder that is removed when the suite ends, so no
// benchmark touches the user's own registry.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "app/MainApp.h"
#include "bench/Workload.h"
#include "platform/Platform.h"
#include "platform/emulated/store/Seed.h"
#include "platform/emulated/store/Store.h"
#include "registry/MRegTool.h"
#include "variant/Variant.h"

namespace corvane::bench {
namespace {

using platform::HKEY;
using platform::KEY_ALL_ACCESS;

constexpr std::int64_t kClassesKeys = 100000;

// One generated tree at a time below the scratch key: trees of a million
// keys are too large to keep several around.
class TreeCache {
 public:
  // The path (below HKEY_CURRENT_USER) of a tree of `keys` keys.
  std::string Tree(std::int64_t keys) {
    if (keys != keys_) {
      Drop();
      if (!ImportTree(Name(keys), keys)) return {};
      keys_ = keys;
    }
    return std::string(kScratchPath) + "\\" + Name(keys);
  }
  void Drop() {
    if (keys_ == 0) return;
    const HKEY scratch = OpenScratch();
    const std::string name = Name(keys_);
    MRegTool::RemoveKeyTree(scratch, std::wstring(name.begin(), name.end()));
    platform::RegCloseKey(scratch);
    keys_ = 0;
  }

 private:
  static std::string Name(std::int64_t keys) { return Numbered("Tree", keys); }
  std::int64_t keys_ = 0;
};

// The fastest of the repetitions (--benchmark_repetitions): on a shared
// machine the other processes only ever add time.
double Fastest(const std::vector<double>& times) {
  return times.empty() ? 0 : *std::min_element(times.begin(), times.end());
}

TreeCache& Trees() {
  static TreeCache cache;
  return cache;
}

void WalkAllNodes(benchmark::State& state) {
  const std::int64_t keys = state.range(0);
  const std::string path = Trees().Tree(keys);
  if (path.empty()) {
    state.SkipWithError("building the tree failed");
    return;
  }
  // The first walk fills this process's view; the cold walk of a fresh
  // process is corvane_walktimer --cold.
  if (WalkTree(path) != keys) {
    state.SkipWithError("walk missed keys");
    return;
  }
  for (auto _ : state) {
    const std::int64_t visited = WalkTree(path);
    if (visited != keys) state.SkipWithError("walk missed keys");
  }
  state.SetItemsProcessed(state.iterations() * keys);
}
BENCHMARK(WalkAllNodes)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->ComputeStatistics("min", Fastest);

void WalkItems(benchmark::State& state) {
  const int values = static_cast<int>(state.range(0));
  Trees().Drop();
  const HKEY scratch = OpenScratch();
  HKEY key = 0;
  platform::RegCreateKeyExA(scratch, "Values", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr);
  AddValues(key, values);
  const std::string path = std::string(kScratchPath) + "\\Values";
  for (auto _ : state) {
    if (WalkValues(path) != values) state.SkipWithError("walk missed values");
  }
  state.SetItemsProcessed(state.iterations() * values);
  platform::RegCloseKey(key);
  MRegTool::RemoveKeyTree(scratch, L"Values");
  platform::RegCloseKey(scratch);
}
BENCHMARK(WalkItems)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->ComputeStatistics("min", Fastest);

void RemoveKeyTree(benchmark::State& state) {
  const std::int64_t keys = state.range(0);
  Trees().Drop();
  const HKEY scratch = OpenScratch();
  for (auto _ : state) {
    state.PauseTiming();
    const bool made = ImportTree("Doomed", keys);
    state.ResumeTiming();
    if (!made) {
      state.SkipWithError("building the tree failed");
      break;
    }
    if (MRegTool::RemoveKeyTree(scratch, L"Doomed") != 0) {
      state.SkipWithError("RemoveKeyTree failed");
    }
  }
  state.SetItemsProcessed(state.iterations() * keys);
  platform::RegCloseKey(scratch);
}
BENCHMARK(RemoveKeyTree)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->ComputeStatistics("min", Fastest);

// The floor under RemoveKeyTree: the store alone deleting the same tree's
// keys, each in a commit of its own, with no registry call, handle, view or
// walk around it. The keys go in descending id order, so each one is a leaf
// by the time it goes (a key is made after its parent).
class IdCollector final : public platform::emulated::KeySink {
 public:
  void Expect(std::size_t keys) override { ids.reserve(keys); }
  bool Take(platform::emulated::KeyRow&& row) override {
    ids.push_back(row.id);
    return true;
  }
  void Restart() override { ids.clear(); }
  std::vector<std::int64_t> ids;
};

// The ids of the tree `name` below the scratch key, top first; empty when
// the store could not be read.
std::vector<std::int64_t> TreeIds(platform::emulated::Store& store,
                                  const std::string& name) {
  if (store.BeginRead() != 0) return {};
  std::int64_t id = platform::emulated::seed::kCurrentUser;
  std::string path = std::string(kScratchPath) + "\\" + name;
  IdCollector tree;
  for (std::size_t from = 0; from <= path.size();) {
    const std::size_t to = std::min(path.find('\\', from), path.size());
    const std::string part = path.substr(from, to - from);
    platform::emulated::KeyRow row;
    bool found = false;
    if (store.rows().LoadChild(id, std::u16string(part.begin(), part.end()),
                               row, found) != 0 ||
        !found) {
      store.EndRead();
      return {};
    }
    id = row.id;
    from = to + 1;
  }
  platform::emulated::SubtreeRest rest;
  const std::size_t all = static_cast<std::size_t>(-1);
  if (store.subtree().Load(id, all, tree, rest) != 0) tree.ids.clear();
  store.EndRead();
  return tree.ids;
}

// A store of the benchmark's own, bound to its file; false, the benchmark
// skipped, when it can't be.
bool BindStore(benchmark::State& state, platform::emulated::Store& store) {
  Trees().Drop();
  bool reopened = false;
  if (store.Bind(reopened) == 0) return true;
  state.SkipWithError("the store could not be opened");
  return false;
}

// The ids of a tree of `keys` keys imported as `name`, top first. Bound
// again first: the first import of a run may be what makes the file.
std::vector<std::int64_t> ImportedIds(platform::emulated::Store& store,
                                      const std::string& name,
                                      std::int64_t keys) {
  bool reopened = false;
  if (!ImportTree(name, keys) || store.Bind(reopened) != 0) return {};
  return TreeIds(store, name);
}

// `write` in a commit of its own; false, the benchmark stopped, when it or
// the commit failed.
template <class Write>
bool Committed(benchmark::State& state, platform::emulated::Store& store,
               Write&& write) {
  std::uint64_t counter = 0;
  if (store.BeginWrite() == 0 && write() && store.Commit(false, counter) == 0) {
    return true;
  }
  store.Rollback();
  state.SkipWithError("a write failed");
  return false;
}

void StoreDeleteCommits(benchmark::State& state) {
  const std::int64_t keys = state.range(0);
  platform::emulated::Store store;
  if (!BindStore(state, store)) return;
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<std::int64_t> ids = ImportedIds(store, "Doomed", keys);
    state.ResumeTiming();
    if (ids.size() != static_cast<std::size_t>(keys)) {
      state.SkipWithError("building the tree failed");
      break;
    }
    std::sort(ids.rbegin(), ids.rend());
    for (const std::int64_t id : ids) {
      if (!Committed(state, store, [&] {
            return store.rows().DeleteTree(id, true, false) == 0;
          })) {
        return;
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * keys);
}
BENCHMARK(StoreDeleteCommits)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->ComputeStatistics("min", Fastest);

// The floor under a value write: the store alone makes the rows a new
// value takes (its row, its name's index entry, the key's last-write time),
// a commit each, with no registry call, handle or view around it.
void StoreValueCommits(benchmark::State& state) {
  const std::int64_t values = state.range(0);
  platform::emulated::Store store;
  if (!BindStore(state, store)) return;
  const std::u16string data = u"C:\\Program Files\\Vendor\\x.dll";
  const std::span<const platform::BYTE> bytes(
      reinterpret_cast<const platform::BYTE*>(data.c_str()),
      (data.size() + 1) * sizeof(char16_t));
  static int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    // A key of its own each round, with no value yet.
    const std::vector<std::int64_t> ids =
        ImportedIds(store, "Valued" + std::to_string(round++), 1);
    state.ResumeTiming();
    if (ids.size() != 1) {
      state.SkipWithError("making the key failed");
      break;
    }
    const std::int64_t key = ids[0];
    for (std::int64_t i = 0; i < values; ++i) {
      std::u16string name = u"v";
      for (const char c : std::to_string(i)) name.push_back(c);
      if (!Committed(state, store, [&] {
            std::int64_t ord = 0;
            bool found = false;
            auto& rows = store.rows();
            return rows.FindValue(key, name, ord, found) == 0 && !found &&
                   rows.PutValue(key, ord, true, name, platform::REG_SZ, bytes,
                                 platform::emulated::FileTimeNow()) == 0;
          })) {
        return;
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * values);
}
BENCHMARK(StoreValueCommits)
    ->Arg(20000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->ComputeStatistics("min", Fastest);

// --- The value codec --------------------------------------------------------

struct StoredValue {
  const char* name;
  platform::DWORD type;
  std::string data;
};

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

const StoredValue kStored[] = {
    {"sz", platform::REG_SZ,
     std::string("C:\\Program Files\\Vendor\\x.dll", 29) + '\0'},
    {"expand_sz", platform::REG_EXPAND_SZ,
     std::string("%CORVANE_BENCH_DIR%\\bin\\x.dll") + '\0'},
    {"multi_sz", platform::REG_MULTI_SZ,
     std::string("one\0two\0three\0\0", 15)},
    {"binary", platform::REG_BINARY, std::string(64, '\x5A')},
    {"dword", platform::REG_DWORD, Bytes({1, 0, 0, 0})},
    {"dword_be", platform::REG_DWORD_BIG_ENDIAN, Bytes({0, 0, 0, 1})},
    {"qword", platform::REG_QWORD, Bytes({1, 2, 3, 4, 5, 6, 7, 8})},
};

void ReadValue(benchmark::State& state) {
  const StoredValue& stored = kStored[state.range(0)];
  state.SetLabel(stored.name);
  setenv("CORVANE_BENCH_DIR", "C:\\Bench", 1);
  const HKEY scratch = OpenScratch();
  platform::RegSetValueExA(
      scratch, stored.name, 0, stored.type,
      reinterpret_cast<const platform::BYTE*>(stored.data.data()),
      static_cast<platform::DWORD>(stored.data.size()));
  std::wstring name(stored.name, stored.name + std::strlen(stored.name));
  Variant value;
  for (auto _ : state) {
    MRegTool::ReadValue(scratch, name, value);
    benchmark::DoNotOptimize(value);
  }
  platform::RegDeleteValueA(scratch, stored.name);
  platform::RegCloseKey(scratch);
}
BENCHMARK(ReadValue)->DenseRange(0, std::size(kStored) - 1);

Variant WrittenValue(std::int64_t kind) {
  switch (kind) {
    case 0:
      return Variant(std::int16_t{7});
    case 1:
      return Variant(std::int32_t{1});
    case 2:
      return Variant(L"C:\\Program Files\\Vendor\\x.dll");
    case 3:
      return Variant(L"%SystemRoot%\\system32\\x.dll");
    default:
      return Variant::ByteArray(std::vector<std::uint8_t>(64, 0x5A));
  }
}
const char* const kWrittenLabels[] = {"i2 (dword)", "i4 (dword)", "bstr (sz)",
                                      "bstr (expand_sz)", "byte array"};

void WriteValue(benchmark::State& state) {
  state.SetLabel(kWrittenLabels[state.range(0)]);
  const Variant value = WrittenValue(state.range(0));
  const HKEY scratch = OpenScratch();
  std::wstring name = L"written";
  for (auto _ : state) {
    benchmark::DoNotOptimize(MRegTool::WriteValue(value, scratch, name));
  }
  platform::RegDeleteValueA(scratch, "written");
  platform::RegCloseKey(scratch);
}
BENCHMARK(WriteValue)->DenseRange(0, std::size(kWrittenLabels) - 1);

// --- The classes file --------------------------------------------------------

const std::string& ClassesFile() {
  static const std::string bytes =
      ClassesFileBytes(ClassesEntries(kClassesKeys));
  return bytes;
}

std::span<const std::uint8_t> AsSpan(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::filesystem::path& StoreDir() {
  static std::filesystem::path dir;
  return dir;
}
std::string MainStore() { return (StoreDir() / "registry.db").string(); }

// The classes file into an empty store: a new store file each time, made by the
// import's own first write, as a fresh installation's would be.
void Import(benchmark::State& state) {
  const std::string& bytes = ClassesFile();
  Trees().Drop();
  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string store =
        (StoreDir() / ("import" + std::to_string(round++) + ".db")).string();
    setenv("CORVANE_REGISTRY", store.c_str(), 1);
    state.ResumeTiming();
    const std::string error =
        platform::ImportRegFile(AsSpan(bytes), "classes.reg");
    if (!error.empty()) {
      state.SkipWithError(error.c_str());
      break;
    }
    state.PauseTiming();
    // Rebinds to the main store and leaves this one closed.
    setenv("CORVANE_REGISTRY", MainStore().c_str(), 1);
    HKEY root = 0;
    platform::RegOpenKeyExA(platform::HKEY_CURRENT_USER, "", 0,
                            platform::KEY_READ, &root);
    std::error_code ignored;
    for (const char* suffix : {"", "-wal", "-shm", "-changes"}) {
      std::filesystem::remove(store + suffix, ignored);
    }
    state.ResumeTiming();
  }
  setenv("CORVANE_REGISTRY", MainStore().c_str(), 1);
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(Import)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->ComputeStatistics("min", Fastest);

// --- The repair ------------------------------------------------------------

// MainApp::Main again and again in one process: after the first run, what
// the repair costs on a warm view of a store holding the classes file's keys.
void Repair(benchmark::State& state) {
  static const bool imported =
      platform::ImportRegFile(AsSpan(ClassesFile()), "classes.reg").empty();
  if (!imported) {
    state.SkipWithError("classes file import failed");
    return;
  }
  for (auto _ : state) MainApp::Main();
  MainApp::ReleaseAppNode();
}
BENCHMARK(Repair)
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", Fastest);

void RemoveStoreDir() {
  std::error_code ignored;
  std::filesystem::remove_all(StoreDir(), ignored);
}

}  // namespace
}  // namespace corvane::bench

int main(int argc, char** argv) {
  using namespace corvane::bench;
  // As corvane and corvane-reg do.
  corvane::platform::DisableSqliteMemoryStatistics();
  // $TMPDIR chooses the file system the stores are measured on.
  const char* tmp = std::getenv("TMPDIR");
  std::string dirTemplate =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
      "/corvane-bench-XXXXXX";
  if (mkdtemp(dirTemplate.data()) == nullptr) return 2;
  StoreDir() = dirTemplate;
  std::atexit(RemoveStoreDir);
  setenv("CORVANE_REGISTRY", MainStore().c_str(), 1);
  unsetenv("CORVANE_REGISTRY_READONLY");

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Trees().Drop();
  RemoveScratch();
  return 0;
}
