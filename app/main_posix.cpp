// Entry point of the Linux program: the repair on the emulated registry's
// store. No arguments are read and nothing is printed on success.
//   exit 0  done (steps that could not be made were passed over)
//   exit 1  the repair failed; the report is on stderr
//   exit 2  the store (or a hive of the earlier layout to import) could not
//           be used, or this process can't write it; nothing was done
#include <cstdio>

#include "app/MainApp.h"
#include "app/Report.h"
#include "base/Unicode.h"
#include "errors/RaisedError.h"
#include "platform/Platform.h"

int main() {
  using namespace corvane;
  platform::DisableSqliteMemoryStatistics();
  // The repair writes: a store this process can only read is one it can't
  // use.
  const std::string storeError = platform::RegistryWriteError();
  if (!storeError.empty()) {
    std::fprintf(stderr, "corvane: %s\n", storeError.c_str());
    return 2;
  }
  int status = 0;
  try {
    MainApp::Main();
  } catch (const RaisedError& error) {
    std::fprintf(stderr, "%s\n%s\n", base::WideToUtf8(error.Source()).c_str(),
                 base::WideToUtf8(app::FailureText(error)).c_str());
    status = 1;
  }
  MainApp::ReleaseAppNode();
  // A store that went bad on the way (a damaged page) is reported as one
  // that can't be used, whatever the repair made of it.
  const std::string lateError = platform::RegistryLoadError();
  if (!lateError.empty()) {
    std::fprintf(stderr, "corvane: %s\n", lateError.c_str());
    return 2;
  }
  return status;
}
