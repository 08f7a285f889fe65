// The emulated system message table: Windows' English texts for the error
// codes the model and its tests meet, each ending in "\r\n" as Windows has it.
#pragma once

#include <optional>
#include <string>

#include "platform/Platform.h"

namespace corvane::platform::emulated {

// The text for `id`, or nothing when the table has none.
std::optional<std::string> SystemMessageText(DWORD id);

// Test hook: `id` answers `text` from now on (ANSI, taken as it is), so that
// a test can give a code a text Windows would have, e.g. one too long for a
// caller's buffer, without the table carrying it.
void SetMessageText(DWORD id, std::string text);
// Forgets every text SetMessageText gave.
void ResetMessageTexts();

}  // namespace corvane::platform::emulated
