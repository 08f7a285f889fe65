// Formatting of the one error report the repair can make.
#include "app/Report.h"

#include <cstdint>
#include <cstdio>

namespace corvane::app {

std::wstring FailureText(const RaisedError& error) {
  char head[64];
  std::snprintf(
      head, sizeof head,
      "Run-time error '%d (%08X)':", static_cast<int>(error.Number()),
      static_cast<unsigned>(static_cast<std::uint32_t>(error.Number())));
  std::wstring text(head, head + std::char_traits<char>::length(head));
  return text + L"\n\n" + error.Description();
}

}  // namespace corvane::app
