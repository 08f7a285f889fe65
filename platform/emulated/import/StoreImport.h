// A .reg file applied to the store's rows inside the current write
// transaction, checked whole while it is applied.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/emulated/store/Rows.h"
#include "regfile/RegFile.h"

namespace corvane::platform::emulated {

// "" when the whole file was applied; else the file's fault
// ("<fileName>:<line>: ...") or the key the store refused and why, and the
// caller rolls the transaction back. The keys are those of the 32-bit
// view with `view32`, else of the 64-bit one (Wow64Paths.h).
std::string ApplyRegFile(
    Rows& rows, std::span<const std::uint8_t> bytes, std::string_view fileName,
    regfile::HexStrings strings = regfile::HexStrings::kTerminated,
    bool view32 = false);

}  // namespace corvane::platform::emulated
