// corvane-reg: reg's command language (query, add, delete, export, import)
// over the wide registry functions, so that no name or text is ever changed.
// RunRegCommand is the whole tool; the entry point only hands it the
// arguments and a console (Console.h).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane::cli {

// Where a command writes and whom it asks. Lines end in "\n"; the console
// makes them whatever its system wants.
class RegConsole {
 public:
  virtual ~RegConsole() = default;
  virtual void Out(std::wstring_view text) = 0;
  virtual void Err(std::wstring_view text) = 0;
  // Puts the yes/no `question` to the user; true for yes.
  virtual bool Confirm(std::wstring_view question) = 0;
};

// `args` are the arguments after the program name. Answers the exit status:
// 0 on success, 1 on failure (with "ERROR: ..." on Err), as reg does.
int RunRegCommand(const std::vector<std::wstring>& args, RegConsole& console);

}  // namespace corvane::cli
