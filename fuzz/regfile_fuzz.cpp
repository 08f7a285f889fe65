// libFuzzer target for the .reg reader. Beyond not crashing, whatever the
// reader accepts must survive the writer: writing the keys and values it
// reported and reading that file again gives the same keys and values.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "regfile/RegFile.h"

namespace {

using corvane::regfile::ReadRegFile;
using corvane::regfile::RegSink;
using corvane::regfile::RegWriter;

struct Event {
  int kind;  // 0 key, 1 value
  std::u16string name;
  std::uint32_t type;
  std::vector<std::uint8_t> data;
  bool operator==(const Event&) const = default;
};

struct Collector : RegSink {
  std::vector<Event> events;
  std::string OnKey(std::u16string_view p) override {
    events.push_back({0, std::u16string(p), 0, {}});
    return {};
  }
  std::string OnDeleteKey(std::u16string_view) override { return {}; }
  std::string OnValue(std::u16string_view n, std::uint32_t t,
                      std::span<const std::uint8_t> d) override {
    events.push_back({1, std::u16string(n), t, {d.begin(), d.end()}});
    return {};
  }
  std::string OnDeleteValue(std::u16string_view) override { return {}; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  Collector first;
  if (!ReadRegFile({data, size}, "fuzz.reg", first).empty()) return 0;

  RegWriter writer;
  for (const Event& e : first.events) {
    if (e.kind == 0) {
      if (!writer.Key(e.name)) std::abort();  // the reader never yields one
    } else {
      writer.Value(e.name, e.type, e.data);
    }
  }
  const std::string file = writer.Finish();
  Collector second;
  const std::string err = ReadRegFile(
      {reinterpret_cast<const std::uint8_t*>(file.data()), file.size()},
      "again.reg", second);
  if (!err.empty() || second.events != first.events) std::abort();
  return 0;
}
