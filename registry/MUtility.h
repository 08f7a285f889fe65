// MUtility: facts about the system the model runs on.
#pragma once

namespace corvane::MUtility {

// True on the NT family (bit 31 of GetVersion clear).
bool IsWinNT();

}  // namespace corvane::MUtility
