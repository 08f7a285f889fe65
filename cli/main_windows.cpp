// corvane-reg's entry point on Windows: the arguments as the system passed
// them, in UTF-16, so that none is first squeezed through the ANSI code page.
#include <string>
#include <vector>

#include "cli/Console.h"

int wmain(int argc, wchar_t** argv) {
  const auto console = corvane::cli::ProcessConsole();
  const std::vector<std::wstring> args(argv + 1, argv + argc);
  return corvane::cli::RunRegCommand(args, *console);
}
