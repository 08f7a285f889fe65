// File names of a store (StorePaths.h).
#include "platform/emulated/store/StorePaths.h"

#include <cstdlib>
#include <filesystem>

namespace corvane::platform::emulated {
namespace {

constexpr std::string_view kOldHiveExtension = ".reg";
constexpr std::string_view kBuilding = ".building-";
constexpr std::string_view kLog = "-wal";
constexpr std::string_view kSharedMemory = "-shm";

}  // namespace

std::string DatabasePathFor(const std::string& name) {
  if (name.ends_with(kOldHiveExtension)) return name + ".db";
  return name;
}

std::string ChangesPath(const std::string& db) { return db + "-changes"; }

std::string LogPath(const std::string& db) { return db + std::string(kLog); }

std::string SharedMemoryPath(const std::string& db) {
  return db + std::string(kSharedMemory);
}

std::string BuildingPath(const std::string& db, pid_t pid) {
  return db + std::string(kBuilding) + std::to_string(pid);
}

pid_t BuildingOwner(const std::string& db, std::string_view fileName) {
  const std::string prefix =
      std::filesystem::path(db).filename().string() + std::string(kBuilding);
  if (!fileName.starts_with(prefix)) return 0;
  const std::string rest(fileName.substr(prefix.size()));
  char* end = nullptr;
  const long pid = std::strtol(rest.c_str(), &end, 10);
  const std::string_view suffix = end;
  const bool known = suffix.empty() || suffix == kLog ||
                     suffix == kSharedMemory || suffix == "-journal";
  return known && end != rest.c_str() && pid > 0 ? static_cast<pid_t>(pid) : 0;
}

}  // namespace corvane::platform::emulated
