// Writing a Variant's value as text, for its conversion to String.
#pragma once

#include <cstdint>
#include <string>

namespace corvane {

// The shorter of fixed and scientific form at `digits` significant digits
// (15 for a double, 7 for a single), the exponent as "E+15" / "E-05".
std::wstring FormatFloat(double value, int digits);

// A scaled integer (`m` / 10^scale) in plain form, without trailing zeros
// in the fraction.
std::wstring FormatScaled(std::int64_t m, unsigned scale);

// Days since 30 Dec 1899, the fraction being the time of day, as
// "M/D/YYYY h:mm:ss AM"; either part left out when it is zero. Raises 6
// (overflow) for a value that is not finite or lies over 2958466 days (31
// Dec 9999) either side.
std::wstring FormatDate(double value);

}  // namespace corvane
