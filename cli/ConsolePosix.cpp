// corvane-reg's console on Linux: UTF-8 out, whether to a terminal or not.
#include <cstdio>

#include "base/Unicode.h"
#include "cli/Console.h"

namespace corvane::cli {

namespace {

void Write(std::FILE* stream, std::wstring_view text) {
  const std::string bytes = RedirectedBytes(text);
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

class PosixConsole : public RegConsole {
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
};

}  // namespace

std::unique_ptr<RegConsole> ProcessConsole() {
  return std::make_unique<PosixConsole>();
}

std::string RedirectedBytes(std::wstring_view text) {
  std::wstring shown(text);
  for (wchar_t& c : shown) {
    const auto code = static_cast<std::uint32_t>(c);
    if (base::IsSurrogate(code) || code > 0x10FFFF) c = L'\uFFFD';
  }
  return base::WideToUtf8(shown);
}

}  // namespace corvane::cli
