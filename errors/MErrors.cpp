// Error services: number conversions between the two spaces of raised
// numbers, the system's message texts and the raising of failed calls.
#include "errors/MErrors.h"

#include <algorithm>
#include <string_view>

#include "errors/RaisedError.h"
#include "errors/RuntimeError.h"
#include "platform/Platform.h"

namespace corvane::MErrors {
namespace {

constexpr std::uint32_t kBase = 0x80040000u;
constexpr std::uint32_t kApiOffset = 29000;
constexpr std::uint32_t kBareMask = 0xFFFFu;
constexpr platform::DWORD kMessageFlags =
    platform::FORMAT_MESSAGE_FROM_SYSTEM |
    platform::FORMAT_MESSAGE_IGNORE_INSERTS;
constexpr platform::DWORD kMessageBufferSize = 256;

// Each thread keeps the code of its own last KERNEL32 call.
thread_local std::int32_t recordedError = 0;

// The arithmetic is defined on the 32-bit pattern and wraps; doing it
// unsigned keeps it free of signed overflow.
std::int32_t FromPattern(std::uint32_t pattern) {
  return static_cast<std::int32_t>(pattern);
}

}  // namespace

void ApiRaiseIf(std::int32_t e) {
  if (e != 0) ApiRaise(e);
}

void ApiRaise(std::int32_t e) {
  throw RaisedError(ApiToCom(e), kRuntimeErrorSource, ApiError(e));
}

std::int32_t ComToApi(std::int32_t e) {
  return FromPattern((static_cast<std::uint32_t>(e) & kBareMask) - kApiOffset);
}

std::int32_t ApiToCom(std::int32_t e) {
  return FromPattern((static_cast<std::uint32_t>(e) | kBase) + kApiOffset);
}

std::wstring ComToApiStr(std::int32_t e) { return ApiError(ComToApi(e)); }

std::wstring ApiError(std::int32_t e) {
  char buffer[kMessageBufferSize] = {};
  const platform::DWORD n = platform::FormatMessageA(
      kMessageFlags, nullptr, static_cast<platform::DWORD>(e), 0, buffer,
      kMessageBufferSize, nullptr);
  RecordLastError();
  if (n == 0) return {};
  // n counts ANSI bytes. Converting just those bytes (rather than the whole
  // buffer, then cutting n wide characters) keeps a double-byte code page
  // from dragging NULs into the text. The clamp guards against a lookup that
  // reports more than the buffer can hold with its terminating NUL.
  // A text that won't convert is no text: raising here would hide the error
  // being described.
  const std::size_t length = std::min<std::size_t>(n, kMessageBufferSize - 1);
  std::wstring text;
  if (platform::AnsiToWide(std::string_view(buffer, length), text) != 0) {
    return {};
  }
  return text;
}

std::wstring LastApiError() {
  // ApiError records a new code itself, so read the old one first.
  return ApiError(LastRecordedError());
}

std::int32_t BasicError(std::int32_t e) {
  return FromPattern(static_cast<std::uint32_t>(e) & kBareMask);
}

std::int32_t COMError(const std::int32_t& e) {
  return FromPattern(static_cast<std::uint32_t>(e) | kBase);
}

void RecordLastError() {
  recordedError = static_cast<std::int32_t>(platform::GetLastError());
}

std::int32_t LastRecordedError() { return recordedError; }

}  // namespace corvane::MErrors
