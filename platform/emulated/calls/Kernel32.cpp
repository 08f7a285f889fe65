// The emulated KERNEL32 functions the model calls: message texts (the ANSI
// form converted from the wide one), the per-thread last-error value, the
// version, environment expansion and the two memory helpers. Each behaves as
// its Windows namesake does for the arguments the model passes, including the
// error codes it leaves behind.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/Platform.h"
#include "platform/emulated/TestHooks.h"
#include "platform/emulated/calls/Environment.h"
#include "platform/emulated/calls/Messages.h"

namespace corvane::platform {
namespace {

// What GetVersion gives a program without a compatibility manifest on
// Windows 8 and later: 6.2, build 9200, bit 31 clear (the NT family).
constexpr DWORD kDefaultVersion = (9200u << 16) | (2u << 8) | 6u;

constexpr DWORD kFormatMessageAllocateBuffer = 0x00000100;
constexpr DWORD ERROR_RESOURCE_LANG_NOT_FOUND = 1815;
// FormatMessage never writes more than 64K bytes.
constexpr DWORD kMaxMessageSize = 64 * 1024;

thread_local DWORD lastError = 0;
std::atomic<DWORD> version{kDefaultVersion};

std::mutex expansionHookMutex;
std::function<void()> afterNextExpansion;

void RunExpansionHook() {
  std::function<void()> action;
  {
    const std::lock_guard<std::mutex> lock(expansionHookMutex);
    action = std::exchange(afterNextExpansion, nullptr);
  }
  if (action) action();
}

}  // namespace

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD dwErrCode) { lastError = dwErrCode; }

DWORD FormatMessageW(DWORD dwFlags, const void* /*lpSource*/, DWORD dwMessageId,
                     DWORD dwLanguageId, wchar_t* lpBuffer, DWORD nSize,
                     va_list* Arguments) {
  // Only system texts into the caller's buffer are emulated; anything else
  // is refused rather than answered wrongly.
  if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 ||
      (dwFlags & (FORMAT_MESSAGE_FROM_STRING | kFormatMessageAllocateBuffer)) !=
          0 ||
      lpBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // Language 0 and English (any sublanguage, or the neutral forms) have text.
  const DWORD primary = dwLanguageId & 0x3FF;
  if (dwLanguageId != 0 && primary != 0x09 && dwLanguageId != 0x400 &&
      dwLanguageId != 0x800) {
    SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
    return 0;
  }
  const std::optional<std::string> text =
      emulated::SystemMessageText(dwMessageId);
  if (!text) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  // Inserts are not expanded by the emulation; a caller that wants them
  // expanded gets a refusal instead of a half-formatted text.
  if ((dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS) == 0 &&
      (text->find('%') != std::string::npos || Arguments != nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::wstring wide = AnsiToWide(*text);
  if (wide.size() + 1 > nSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::copy(wide.begin(), wide.end(), lpBuffer);
  lpBuffer[wide.size()] = L'\0';
  return static_cast<DWORD>(wide.size());
}

// The wide text converted: its characters are all in the code page, one
// byte each, so the wide call is given the caller's room.
DWORD FormatMessageA(DWORD dwFlags, const void* lpSource, DWORD dwMessageId,
                     DWORD dwLanguageId, char* lpBuffer, DWORD nSize,
                     va_list* Arguments) {
  const DWORD room = std::min(nSize, kMaxMessageSize);
  std::wstring wide(lpBuffer != nullptr ? room : 0, L'\0');
  const DWORD length = FormatMessageW(
      dwFlags, lpSource, dwMessageId, dwLanguageId,
      lpBuffer != nullptr ? wide.data() : nullptr, room, Arguments);
  if (length == 0) return 0;
  const std::string text = WideToAnsi(std::wstring_view(wide.data(), length));
  std::memcpy(lpBuffer, text.data(), text.size());
  lpBuffer[text.size()] = '\0';
  return static_cast<DWORD>(text.size());
}

DWORD GetVersion() { return version.load(); }

DWORD ExpandEnvironmentStringsA(const char* lpSrc, char* lpDst, DWORD nSize) {
  if (lpSrc == nullptr || (lpDst == nullptr && nSize != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::string out =
      WideToAnsi(emulated::ExpandVariables(AnsiToWide(lpSrc)));
  const DWORD needed = static_cast<DWORD>(out.size() + 1);
  if (needed <= nSize) {
    std::memcpy(lpDst, out.c_str(), needed);
  }
  RunExpansionHook();
  return needed;
}

int lstrlenW(const wchar_t* lpString) {
  if (lpString == nullptr) return 0;
  int n = 0;
  while (lpString[n] != L'\0') ++n;
  return n;
}

void RtlMoveMemory(void* Destination, const void* Source, std::size_t Length) {
  if (Length != 0) std::memmove(Destination, Source, Length);
}

namespace emulated {

void AfterNextExpansion(std::function<void()> action) {
  const std::lock_guard<std::mutex> lock(expansionHookMutex);
  afterNextExpansion = std::move(action);
}

void SetVersion(DWORD value) { version.store(value); }
void ResetVersion() { version.store(kDefaultVersion); }

}  // namespace emulated
}  // namespace corvane::platform
