// The console corvane-reg's entry point hands to RunRegCommand: the process's
// stdout and stderr, and its stdin for answers. One implementation per
// system, chosen by the build: ConsolePosix.cpp writes UTF-8,
// ConsoleWindows.cpp writes a console's own wide text, or the console's
// output code page where the output is redirected, as reg does.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "cli/RegCommand.h"

namespace corvane::cli {

std::unique_ptr<RegConsole> ProcessConsole();

// The bytes `text` becomes on an output that is a file or a pipe: UTF-8 on
// Linux, where a lone surrogate (which the registry can hold but UTF-8
// can't) shows as U+FFFD; the console's output code page on Windows, with
// "\r\n" line ends.
std::string RedirectedBytes(std::wstring_view text);

}  // namespace corvane::cli
