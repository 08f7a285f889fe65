// What the corvane-reg commands share: their arguments, their failures, and
// opening, walking and reading keys through the wide registry functions.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "cli/RegCommand.h"
#include "cli/RegPath.h"
#include "cli/WideKey.h"
#include "platform/Platform.h"

namespace corvane::cli {

// A failure the user is told about as "ERROR: <message>" (the message may
// span lines); RunRegCommand reports it.
struct CommandFailure {
  std::wstring message;
};
[[noreturn]] void Fail(std::wstring message);
// reg's answer to a command line it can't make sense of.
[[noreturn]] void FailSyntax(std::wstring_view command);
// The message for a registry status: reg's wording for a missing key or
// value, otherwise the system's text without its line break.
std::wstring StatusText(platform::LONG status);
// Fails with the status's message unless it is success. `where` (a key's
// path) is added to the message: a walk's failure alone doesn't say where.
void Check(platform::LONG status);
void Check(platform::LONG status, const std::wstring& where);

// A file named on the command line. UTF-8 is the one encoding
// std::filesystem reads the same way everywhere.
std::filesystem::path FilePath(const std::wstring& name);
// The whole file, or a failure "Error opening the file <name>.".
std::vector<std::uint8_t> ReadFileBytes(const std::wstring& fileName);

// A command's arguments after the command word. Only the options the command
// knows are options (so a Linux path "/tmp/x.reg" is a plain argument);
// option names are kept in capitals without their "/" or "-".
struct CommandArgs {
  std::vector<std::wstring> positional;
  std::map<std::wstring, std::wstring> options;

  bool Has(const std::wstring& option) const {
    return options.contains(option);
  }
  const std::wstring& Value(const std::wstring& option) const {
    return options.at(option);
  }
};
// `known` maps each option to whether a value follows it. A repeated option
// or a missing value is a syntax error of `command`.
CommandArgs ParseCommandArgs(const std::vector<std::wstring>& args,
                             const std::map<std::wstring, bool>& known,
                             std::wstring_view command);
// `known` with reg's view options, /reg:32 and /reg:64, added.
std::map<std::wstring, bool> WithViews(std::map<std::wstring, bool> known);
// The view they ask for: KEY_WOW64_32KEY, KEY_WOW64_64KEY, or 0 (the
// program's own). Both at once is a syntax error of `command`, as in reg.
platform::REGSAM ViewOption(const CommandArgs& parsed,
                            std::wstring_view command);

// The key argument, in the registry view `view`; a root it doesn't know is
// reported as reg reports it.
KeyPath KeyArgument(const std::wstring& text, std::wstring_view command,
                    platform::REGSAM view = 0);

// The key on `path` (the root itself when the path is empty), in its view;
// fails when it can't be opened.
WideKey OpenKey(const KeyPath& path, platform::REGSAM access);

// Calls `visit` for `top` (level 0, shown as `topPath`), then for every key
// below it, depth first with subkeys in the registry's order, each with its
// full path. A key that can't be opened or listed ends the walk with a
// failure that names it.
using KeyVisitor = std::function<void(const WideKey& key,
                                      const std::wstring& path, int level)>;
void WalkTree(const WideKey& top, const std::wstring& topPath,
              const KeyVisitor& visit);

// The values of `key` in the registry's order; a failure names `where`.
std::vector<NamedValue> ReadValues(const WideKey& key,
                                   const std::wstring& where);
// "    name    TYPE    data", with "(Default)" for the default value.
std::wstring ValueLine(const NamedValue& value);
// What add and copy ask before they replace a value that is already there.
std::wstring OverwriteQuestion(const std::wstring& valueName);

inline constexpr wchar_t kSuccess[] =
    L"The operation completed successfully.\n";
inline constexpr wchar_t kCancelled[] = L"The operation was cancelled.\n";
inline constexpr wchar_t kNotFound[] =
    L"The system was unable to find the specified registry key or value.";

}  // namespace corvane::cli
