// The process environment as Windows code sees it: names looked up without
// regard to case, values as wide text, decoded from UTF-8 (the Linux
// environment's usual encoding) or, when they aren't UTF-8, taken byte for
// byte in the ANSI code page.
#pragma once

#include <string>
#include <string_view>

namespace corvane::platform::emulated {

// The value of the variable `name`; false when there is none.
bool FindVariable(std::wstring_view name, std::wstring& value);

// `text` with each %NAME% replaced by the variable's value, as
// ExpandEnvironmentStrings does: a name that isn't defined stays as written,
// both percent signs included, and a lone percent sign is taken literally.
std::wstring ExpandVariables(std::wstring_view text);

}  // namespace corvane::platform::emulated
