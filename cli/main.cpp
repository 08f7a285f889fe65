// Entry point of corvane-reg, on both systems: the arguments and the console
// in the local encoding (UTF-8 on Linux, the ANSI code page on Windows, where
// the C runtime also turns "\n" into "\r\n"), around RunRegCommand.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/RegCommand.h"
#include "cli/TextCodec.h"
#include "platform/Platform.h"

namespace {

using corvane::cli::RegConsole;

std::wstring FromConsole(std::string_view text) {
#ifdef _WIN32
  return corvane::platform::AnsiToWide(text);
#else
  return corvane::cli::Utf8ToWide(text);
#endif
}

std::string ToConsole(std::wstring_view text) {
#ifdef _WIN32
  return corvane::platform::WideToAnsi(text);
#else
  return corvane::cli::WideToUtf8(text);
#endif
}

class StdConsole : public RegConsole {
 public:
  void Out(std::wstring_view text) override { Write(stdout, text); }
  void Err(std::wstring_view text) override {
    std::fflush(stdout);
    Write(stderr, text);
  }
  bool Confirm(std::wstring_view question) override {
    Write(stdout, question);
    std::fflush(stdout);
    char line[256];
    if (std::fgets(line, sizeof line, stdin) == nullptr) return false;
    return line[0] == 'y' || line[0] == 'Y';
  }

 private:
  static void Write(std::FILE* stream, std::wstring_view text) {
    const std::string bytes = ToConsole(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
  }
};

}  // namespace

int main(int argc, char** argv) {
  StdConsole console;
  const std::string loadError = corvane::platform::RegistryLoadError();
  if (!loadError.empty()) {
    console.Err(L"ERROR: " + FromConsole(loadError) + L"\n");
    return 1;
  }
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) args.push_back(FromConsole(argv[i]));
  return corvane::cli::RunRegCommand(args, console);
}
