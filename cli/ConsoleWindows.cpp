// corvane-reg's console on Windows, written as reg writes its own: wide text
// through WriteConsoleW on a console, so that every character reaches it;
// otherwise the text in the console's output code page through WriteFile.
#include "cli/Console.h"
// clang-format off
#include <windows.h>
// clang-format on

#include <cstdio>

namespace corvane::cli {

namespace {

// A process with no console at all (started by a service, or by Wine without
// a terminal) has no output code page; the OEM code page is the one a
// console would start with.
UINT OutputCodePage() {
  const UINT codePage = ::GetConsoleOutputCP();
  return codePage != 0 ? codePage : ::GetOEMCP();
}

std::wstring WithCrLf(std::wstring_view text) {
  std::wstring out;
  out.reserve(text.size() + 8);
  for (wchar_t c : text) {
    if (c == L'\n') out.push_back(L'\r');
    out.push_back(c);
  }
  return out;
}

void Write(DWORD which, std::wstring_view text) {
  const HANDLE stream = ::GetStdHandle(which);
  if (stream == nullptr || stream == INVALID_HANDLE_VALUE) return;
  const std::wstring lines = WithCrLf(text);
  DWORD mode = 0;
  DWORD written = 0;
  if (::GetConsoleMode(stream, &mode)) {
    ::WriteConsoleW(stream, lines.data(), static_cast<DWORD>(lines.size()),
                    &written, nullptr);
    return;
  }
  const std::string bytes = RedirectedBytes(text);
  ::WriteFile(stream, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
              nullptr);
}

class WindowsConsole : public RegConsole {
 public:
  void Out(std::wstring_view text) override { Write(STD_OUTPUT_HANDLE, text); }
  void Err(std::wstring_view text) override { Write(STD_ERROR_HANDLE, text); }
  bool Confirm(std::wstring_view question) override {
    Write(STD_OUTPUT_HANDLE, question);
    char line[256];
    if (std::fgets(line, sizeof line, stdin) == nullptr) return false;
    return line[0] == 'y' || line[0] == 'Y';
  }
};

}  // namespace

std::unique_ptr<RegConsole> ProcessConsole() {
  return std::make_unique<WindowsConsole>();
}

std::string RedirectedBytes(std::wstring_view text) {
  const std::wstring lines = WithCrLf(text);
  if (lines.empty()) return {};
  // No flags, as reg converts: the code page's own best fit, "?" past it.
  const UINT codePage = OutputCodePage();
  const int length = static_cast<int>(lines.size());
  const int needed = ::WideCharToMultiByte(codePage, 0, lines.data(), length,
                                           nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(needed > 0 ? needed : 0), '\0');
  ::WideCharToMultiByte(codePage, 0, lines.data(), length, out.data(), needed,
                        nullptr, nullptr);
  return out;
}

}  // namespace corvane::cli
