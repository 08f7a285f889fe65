// Placeholder persistence: the registry lives in memory only until the .reg
// hive reader and writer take over.
#include "platform/emulated/Hive.h"

namespace corvane::platform::emulated {

std::string LoadHive(KeyTree&) { return {}; }
std::string SaveHive(const KeyTree&) { return {}; }

}  // namespace corvane::platform::emulated
