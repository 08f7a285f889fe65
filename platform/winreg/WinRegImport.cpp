// CorvaneImportRegFile, Corvane's own addition to the registry API: seeds
// the registry from a regedit .reg file in one call. The same code serves
// the emulated registry and, through the Windows backend, the real one.
//
// Platform.h comes first: see WinReg.cpp.
#include "platform/Platform.h"
// clang-format off
#include "corvane/winreg.h"
// clang-format on

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "base/ReadAll.h"

namespace {

thread_local std::string lastImportError;

LSTATUS Fail(LSTATUS status, std::string why) {
  lastImportError = std::move(why);
  return status;
}

}  // namespace

extern "C" {

LSTATUS CorvaneImportRegFile(const char* path) {
  lastImportError.clear();
  if (path == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER, "no .reg file named");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    const int error = errno;
    return Fail(error == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND,
                std::string(path) + ": " + std::strerror(error));
  }
  const std::vector<std::uint8_t> bytes = corvane::base::ReadAll(in);
  if (in.bad()) {
    const int error = errno;
    return Fail(ERROR_FILE_NOT_FOUND,
                std::string(path) + ": " + std::strerror(error));
  }
  std::string why = corvane::platform::ImportRegFile(bytes, path);
  if (why.empty()) return ERROR_SUCCESS;
  // A store that can't be used is the registry's problem, not the file's.
  return Fail(corvane::platform::RegistryLoadError().empty()
                  ? ERROR_INVALID_DATA
                  : ERROR_BADDB,
              std::move(why));
}

const char* CorvaneImportRegFileError(void) { return lastImportError.c_str(); }

}  // extern "C"
