// The emulated KERNEL32 functions the model calls: message texts, the
// per-thread last-error value, the version, environment expansion and the
// two memory helpers. Each behaves as its Windows namesake does for the
// arguments the model passes, including the error codes it leaves behind.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "platform/Platform.h"
#include "platform/emulated/Messages.h"
#include "platform/emulated/TestHooks.h"

#ifndef _WIN32
extern "C" char** environ;  // NOLINT: POSIX declares it only in <unistd.h>
#endif

namespace corvane::platform {
namespace {

// What GetVersion gives a program without a compatibility manifest on
// Windows 8 and later: 6.2, build 9200, bit 31 clear (the NT family).
constexpr DWORD kDefaultVersion = (9200u << 16) | (2u << 8) | 6u;

constexpr DWORD kFormatMessageAllocateBuffer = 0x00000100;
constexpr DWORD ERROR_RESOURCE_LANG_NOT_FOUND = 1815;

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

#ifndef _WIN32
// Windows' getenv already ignores case; these serve the Linux lookup.
bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

// Is the text valid UTF-8 (and so the Linux environment's usual encoding)?
bool IsUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    const std::size_t extra = b < 0x80             ? 0
                              : (b & 0xE0) == 0xC0 ? 1
                              : (b & 0xF0) == 0xE0 ? 2
                              : (b & 0xF8) == 0xF0 ? 3
                                                   : 4;
    if (extra == 4 || s.size() - i - 1 < extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += extra;
  }
  return true;
}

std::wstring FromUtf8(std::string_view s) {
  std::wstring out;
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    char32_t c;
    std::size_t extra;
    if (b < 0x80) {
      c = b, extra = 0;
    } else if ((b >> 5) == 6) {
      c = b & 0x1F, extra = 1;
    } else if ((b >> 4) == 14) {
      c = b & 0x0F, extra = 2;
    } else {
      c = b & 0x07, extra = 3;
    }
    for (std::size_t k = 1; k <= extra; ++k) {
      c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    }
    i += extra + 1;
    if (sizeof(wchar_t) == 2 && c > 0xFFFF) {
      c -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (c >> 10));
      out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<wchar_t>(c);
    }
  }
  return out;
}
#endif

// The value of the environment variable `name` in the ANSI code page.
// Windows looks names up without regard to case; the Linux environment is
// case-sensitive, so an exact match wins and any other case is the fallback.
bool FindVariable(std::string_view name, std::string* value) {
  if (name.empty()) return false;
  const std::string key(name);
  const char* found = std::getenv(key.c_str());
#ifndef _WIN32
  for (char** entry = environ; found == nullptr && entry && *entry; ++entry) {
    const char* eq = std::strchr(*entry, '=');
    if (eq != nullptr &&
        EqualsNoCase(
            std::string_view(*entry, static_cast<std::size_t>(eq - *entry)),
            name)) {
      found = eq + 1;
    }
  }
#endif
  if (found == nullptr) return false;
  const std::string_view raw(found);
#ifdef _WIN32
  *value = raw;  // already in the ANSI code page
#else
  // The Linux environment is normally UTF-8; bytes that aren't are passed on
  // as they are rather than guessed at.
  *value = IsUtf8(raw) ? WideToAnsi(FromUtf8(raw)) : std::string(raw);
#endif
  return true;
}

}  // namespace

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD dwErrCode) { lastError = dwErrCode; }

DWORD FormatMessageA(DWORD dwFlags, const void* /*lpSource*/, DWORD dwMessageId,
                     DWORD dwLanguageId, char* lpBuffer, DWORD nSize,
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
  if (text->size() + 1 > nSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpBuffer, text->data(), text->size());
  lpBuffer[text->size()] = '\0';
  return static_cast<DWORD>(text->size());
}

DWORD GetVersion() { return version.load(); }

DWORD ExpandEnvironmentStringsA(const char* lpSrc, char* lpDst, DWORD nSize) {
  if (lpSrc == nullptr || (lpDst == nullptr && nSize != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string out;
  const std::string_view src(lpSrc);
  for (std::size_t i = 0; i < src.size();) {
    if (src[i] != '%') {
      out += src[i++];
      continue;
    }
    const std::size_t close = src.find('%', i + 1);
    if (close == std::string_view::npos) {
      // A lone percent sign: the rest is literal.
      out.append(src.substr(i));
      break;
    }
    // A name that isn't defined stays as written, both percent signs
    // included, and scanning goes on after it.
    std::string value;
    if (FindVariable(src.substr(i + 1, close - i - 1), &value)) {
      out += value;
    } else {
      out.append(src.substr(i, close - i + 1));
    }
    i = close + 1;
  }
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
