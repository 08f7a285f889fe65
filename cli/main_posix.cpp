// corvane-reg's entry point on Linux: arguments in UTF-8.
#include <string>
#include <vector>

#include "base/Unicode.h"
#include "cli/Console.h"
#include "platform/Platform.h"

int main(int argc, char** argv) {
  corvane::platform::DisableSqliteMemoryStatistics();
  const auto console = corvane::cli::ProcessConsole();
  const std::string loadError = corvane::platform::RegistryLoadError();
  if (!loadError.empty()) {
    console->Err(L"ERROR: " + corvane::base::Utf8ToWide(loadError) + L"\n");
    return 1;
  }
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) {
    args.push_back(corvane::base::Utf8ToWide(argv[i]));
  }
  return corvane::cli::RunRegCommand(args, *console);
}
