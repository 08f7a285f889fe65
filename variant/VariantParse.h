// Reading a Variant's text, for its conversions to numbers and to Boolean.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// The number `s` holds: blanks around it, an optional sign, digits with an
// optional point and exponent, or "&H"/"&O" with up to 32 bits read as
// signed. Raises 6 (overflow) for a number out of range, 13 (type mismatch)
// for text that is no number.
double StringToDouble(const std::wstring& s);

// "True" or "False" in any case, blanks around allowed; nullopt for
// anything else.
std::optional<bool> TruthWord(std::wstring_view text);

}  // namespace corvane
