// MUtility: facts about the system the model runs on.
#include "registry/MUtility.h"

#include "errors/MErrors.h"
#include "platform/Platform.h"

namespace corvane::MUtility {

bool IsWinNT() {
  const platform::DWORD version = platform::GetVersion();
  MErrors::RecordLastError();
  return (version & 0x80000000u) == 0;
}

}  // namespace corvane::MUtility
