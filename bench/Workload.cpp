// Workloads shared by the benchmark suite and the Windows harness; see
// Workload.h.
#include "bench/Workload.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>
#include <thread>

#include "regfile/RegFile.h"
#include "registry/CRegNode.h"
#include "registry/MRegTool.h"
#include "variant/Variant.h"

namespace corvane::bench {
namespace {

using platform::KEY_ALL_ACCESS;
using platform::LONG;

HKEY CreateKey(HKEY parent, const std::string& name) {
  HKEY key = 0;
  DWORD disposition = 0;
  const LONG status = platform::RegCreateKeyExA(
      parent, name.c_str(), 0, nullptr, platform::REG_OPTION_NON_VOLATILE,
      KEY_ALL_ACCESS, nullptr, &key, &disposition);
  return status == platform::ERROR_SUCCESS ? key : 0;
}

// Depth first, so that only one handle per level is open at a time.
std::int64_t BuildBelow(HKEY key, std::int64_t index, std::int64_t keys,
                        int fanout) {
  std::int64_t made = 0;
  for (int c = 1; c <= fanout; ++c) {
    const std::int64_t child = index * fanout + c;
    if (child >= keys) break;
    const HKEY sub = CreateKey(key, Numbered("k", child));
    if (sub == 0) return made;
    made += 1 + BuildBelow(sub, child, keys, fanout);
    platform::RegCloseKey(sub);
  }
  return made;
}

std::string Guid(std::uint32_t n, std::uint32_t family) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-4000-8000-00000000BEEF}", n,
                family);
  return text;
}

std::u16string Wide(std::string_view ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

}  // namespace

std::string Numbered(std::string_view prefix, std::int64_t n) {
  std::string text(prefix);
  text += std::to_string(n);
  return text;
}

HKEY OpenScratch() {
  return CreateKey(platform::HKEY_CURRENT_USER, kScratchPath);
}

void RemoveScratch() {
  MRegTool::RemoveKeyTree(
      platform::HKEY_CURRENT_USER,
      std::wstring(kScratchPath, kScratchPath + std::strlen(kScratchPath)));
}

std::int64_t BuildTree(HKEY parent, const std::string& name, std::int64_t keys,
                       int fanout) {
  if (keys <= 0) return 0;
  const HKEY top = CreateKey(parent, name);
  if (top == 0) return 0;
  const std::int64_t made = 1 + BuildBelow(top, 0, keys, fanout);
  platform::RegCloseKey(top);
  return made;
}

std::string TreeFileBytes(const std::string& path, std::int64_t keys,
                          int fanout) {
  regfile::RegWriter writer;
  if (keys <= 0) return writer.Finish();
  // Depth first with an explicit stack of (key index, path length), so that
  // a million-key tree needs no deep recursion.
  std::u16string keyPath = u"HKEY_CURRENT_USER\\" + Wide(path);
  writer.Key(keyPath);
  struct Level {
    std::int64_t index;
    std::size_t length;
    int next;  // the next child to visit, 1..fanout
  };
  std::vector<Level> stack{{0, keyPath.size(), 1}};
  while (!stack.empty()) {
    Level& top = stack.back();
    const std::int64_t child = top.index * fanout + top.next;
    if (top.next > fanout || child >= keys) {
      stack.pop_back();
      continue;
    }
    ++top.next;
    keyPath.resize(top.length);
    keyPath += u"\\";
    keyPath += Wide(Numbered("k", child));
    writer.Key(keyPath);
    stack.push_back({child, keyPath.size(), 1});
  }
  return writer.Finish();
}

bool ImportTree(const std::string& name, std::int64_t keys) {
  const std::string bytes =
      TreeFileBytes(std::string(kScratchPath) + "\\" + name, keys);
  const std::string error = platform::ImportRegFile(
      {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()},
      "tree.reg");
  if (!error.empty()) std::fprintf(stderr, "%s\n", error.c_str());
  return error.empty();
}

void AddValues(HKEY key, int count) {
  for (int i = 0; i < count; ++i) {
    const std::string name = Numbered("v", i);
    const std::string data = Numbered("value number ", i);
    platform::RegSetValueExA(
        key, name.c_str(), 0, platform::REG_SZ,
        reinterpret_cast<const platform::BYTE*>(data.c_str()),
        static_cast<DWORD>(data.size() + 1));
  }
}

std::int64_t WriteValues(HKEY key, const std::string& prefix,
                         std::int64_t count) {
  std::int64_t written = 0;
  for (std::int64_t i = 0; i < count; ++i) {
    const std::string name = Numbered(prefix, i);
    const std::uint32_t data = static_cast<std::uint32_t>(i);
    if (platform::RegSetValueExA(key, name.c_str(), 0, platform::REG_DWORD,
                                 reinterpret_cast<const platform::BYTE*>(&data),
                                 sizeof data) == platform::ERROR_SUCCESS) {
      ++written;
    }
  }
  return written;
}

std::int64_t CountValues(HKEY key) {
  DWORD values = 0;
  if (platform::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, nullptr, &values, nullptr, nullptr,
                                 nullptr, nullptr) != platform::ERROR_SUCCESS) {
    return -1;
  }
  return values;
}

std::int64_t SteadyNanos() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

namespace {

LONG SetStamp(HKEY key, const char* name, std::int64_t stamp) {
  return platform::RegSetValueExA(
      key, name, 0, platform::REG_QWORD,
      reinterpret_cast<const platform::BYTE*>(&stamp), sizeof stamp);
}

// The stamp in `name`, or -1 when there is none.
std::int64_t GetStamp(HKEY key, const char* name) {
  std::int64_t stamp = 0;
  DWORD size = sizeof stamp;
  DWORD type = 0;
  const LONG status = platform::RegQueryValueExA(
      key, name, nullptr, &type, reinterpret_cast<platform::BYTE*>(&stamp),
      &size);
  return status == platform::ERROR_SUCCESS && size == sizeof stamp ? stamp : -1;
}

// A beat as the beater leaves it: its number (from 1) and the steady
// clock's nanoseconds just before the write; 0 for the end mark.
struct BeatStamp {
  std::int64_t index = -1;
  std::int64_t stamp = 0;
};

LONG SetBeat(HKEY key, BeatStamp beat) {
  return platform::RegSetValueExA(
      key, kBeatValue, 0, platform::REG_BINARY,
      reinterpret_cast<const platform::BYTE*>(&beat), sizeof beat);
}

BeatStamp GetBeat(HKEY key) {
  BeatStamp beat;
  DWORD size = sizeof beat;
  DWORD type = 0;
  const LONG status = platform::RegQueryValueExA(
      key, kBeatValue, nullptr, &type, reinterpret_cast<platform::BYTE*>(&beat),
      &size);
  return status == platform::ERROR_SUCCESS && size == sizeof beat ? beat
                                                                  : BeatStamp{};
}

}  // namespace

bool Beat(HKEY key, int count, int gapMicros, double waitSeconds) {
  const std::int64_t giveUp =
      SteadyNanos() + static_cast<std::int64_t>(waitSeconds * 1e9);
  while (GetStamp(key, kListeningValue) < 0) {
    if (SteadyNanos() > giveUp) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  // Taken, so that the next run waits for a listener of its own.
  platform::RegDeleteValueA(key, kListeningValue);
  for (int i = 1; i <= count; ++i) {
    std::this_thread::sleep_for(std::chrono::microseconds(gapMicros));
    SetBeat(key, {i, SteadyNanos()});
  }
  // The last beat lives a gap too before the end mark replaces it.
  std::this_thread::sleep_for(std::chrono::microseconds(gapMicros));
  return SetBeat(key, {count + 1, 0}) == platform::ERROR_SUCCESS;
}

std::vector<Seen> Listen(HKEY key, int gapMicros, double timeoutSeconds,
                         bool notified) {
  std::vector<Seen> seen;
  const double gap = gapMicros * 1e3;
  // What is there before the beater starts is an earlier run's.
  SetBeat(key, {0, 0});
  SetStamp(key, kListeningValue, 1);
  const std::int64_t giveUp =
      SteadyNanos() + static_cast<std::int64_t>(timeoutSeconds * 1e9);
  std::int64_t last = 0;
  for (;;) {
    if (notified && platform::RegNotifyChangeKeyValue(
                        key, 0, platform::REG_NOTIFY_CHANGE_LAST_SET, nullptr,
                        0) != platform::ERROR_SUCCESS) {
      break;
    }
    const BeatStamp beat = GetBeat(key);
    const std::int64_t now = SteadyNanos();
    if (beat.index > last) {
      const bool end = beat.stamp == 0;
      const double latency = end ? 0 : static_cast<double>(now - beat.stamp);
      // Beat k before this one was stamped at least (index - k) gaps
      // earlier, and was never seen before now.
      for (std::int64_t k = last + 1; k < beat.index; ++k) {
        seen.push_back(
            {std::max(gap, latency + static_cast<double>(beat.index - k) * gap),
             true});
      }
      last = beat.index;
      if (end) break;
      seen.push_back({latency, false});
    }
    if (now > giveUp) break;
  }
  return seen;
}

std::int64_t WalkTree(const std::string& path) {
  auto node = CRegNode::New();
  node->Create(Variant(std::wstring(path.begin(), path.end())),
               platform::HKEY_CURRENT_USER, KEY_ALL_ACCESS);
  CountingVisitor visitor;
  node->WalkAllNodes(visitor, node, 0);
  return visitor.nodes;
}

std::int64_t WalkValues(const std::string& path) {
  auto node = CRegNode::New();
  node->Create(Variant(std::wstring(path.begin(), path.end())),
               platform::HKEY_CURRENT_USER, KEY_ALL_ACCESS);
  CountingVisitor visitor;
  node->WalkItems(visitor, 0);
  return visitor.items;
}

std::vector<ClassesEntry> ClassesEntries(std::int64_t keys) {
  using platform::REG_DWORD;
  using platform::REG_SZ;
  const std::string classes = "SOFTWARE\\Classes";
  const std::string appId = classes + "\\AppID";
  const std::string clsid = classes + "\\CLSID";
  const std::string skyGuid = Guid(0x5C7, 0xA11);

  std::vector<ClassesEntry> entries;
  entries.reserve(static_cast<std::size_t>(keys) + 8);
  entries.push_back({"SOFTWARE", {}});
  entries.push_back({classes, {}});
  entries.push_back({appId, {}});
  entries.push_back(
      {appId + "\\TheSky Version 6.EXE", {{"AppID", REG_SZ, skyGuid, 0}}});
  entries.push_back({appId + "\\Sky.EXE", {{"AppID", REG_SZ, skyGuid, 0}}});
  entries.push_back(
      {appId + "\\" + skyGuid,
       {{"", REG_SZ, "TheSky", 0}, {"AuthenticationLevel", REG_DWORD, "", 2}}});
  entries.push_back({clsid, {}});
  // Three keys per registration: its AppID, its CLSID and InprocServer32.
  const std::int64_t fixed = static_cast<std::int64_t>(entries.size());
  const std::int64_t count = keys > fixed ? (keys - fixed) / 3 : 0;
  for (std::int64_t i = 0; i < count; ++i) {
    const std::string guid = Guid(static_cast<std::uint32_t>(i), 0);
    const std::string server = Numbered("Server ", i);
    entries.push_back(
        {appId + "\\" + guid,
         {{"", REG_SZ, server, 0}, {"AuthenticationLevel", REG_DWORD, "", 2}}});
  }
  for (std::int64_t i = 0; i < count; ++i) {
    const std::string guid = Guid(static_cast<std::uint32_t>(i), 0);
    entries.push_back(
        {clsid + "\\" + guid,
         {{"", REG_SZ, Numbered("Class ", i), 0}, {"AppID", REG_SZ, guid, 0}}});
    entries.push_back(
        {clsid + "\\" + guid + "\\InprocServer32",
         {{"", REG_SZ,
           Numbered("C:\\Program Files\\Vendor\\server", i) + ".dll", 0},
          {"ThreadingModel", REG_SZ, "Both", 0}}});
  }
  return entries;
}

std::string ClassesFileBytes(const std::vector<ClassesEntry>& entries) {
  regfile::RegWriter writer;
  std::vector<std::uint8_t> data;
  for (const auto& entry : entries) {
    writer.Key(u"HKEY_LOCAL_MACHINE\\" + Wide(entry.path));
    for (const auto& value : entry.values) {
      data.clear();
      if (value.type == platform::REG_DWORD) {
        for (int b = 0; b < 4; ++b)
          data.push_back((value.dword >> (8 * b)) & 0xFF);
      } else {
        for (char c : value.text) {
          data.push_back(static_cast<std::uint8_t>(c));
          data.push_back(0);
        }
        data.push_back(0);
        data.push_back(0);
      }
      writer.Value(Wide(value.name), value.type, data);
    }
  }
  return writer.Finish();
}

LONG ImportEntries(const std::vector<ClassesEntry>& entries) {
  for (const auto& entry : entries) {
    const HKEY key = CreateKey(platform::HKEY_LOCAL_MACHINE, entry.path);
    if (key == 0) return platform::ERROR_ACCESS_DENIED;
    for (const auto& value : entry.values) {
      const bool isText = value.type != platform::REG_DWORD;
      const auto* data =
          isText ? reinterpret_cast<const platform::BYTE*>(value.text.c_str())
                 : reinterpret_cast<const platform::BYTE*>(&value.dword);
      const DWORD size =
          isText ? static_cast<DWORD>(value.text.size() + 1) : DWORD{4};
      const LONG status = platform::RegSetValueExA(key, value.name.c_str(), 0,
                                                   value.type, data, size);
      if (status != platform::ERROR_SUCCESS) {
        platform::RegCloseKey(key);
        return status;
      }
    }
    platform::RegCloseKey(key);
  }
  return platform::ERROR_SUCCESS;
}

}  // namespace corvane::bench
