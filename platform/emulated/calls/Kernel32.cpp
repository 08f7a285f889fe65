// The emulated KERNEL32 functions the model calls: the per-thread last-error
// value, FormatMessageA and FormatMessageW, the version, environment
// expansion and the two memory helpers. Each behaves as its Windows namesake
// does for the arguments the model passes, including the error codes it
// leaves behind.
//
// FormatMessage takes a system text (from the table of Messages.h) or the
// caller's own string, formats it (MessageFormat.h) and writes it into the
// caller's buffer or into one LocalAlloc made (FORMAT_MESSAGE_ALLOCATE_BUFFER,
// freed with LocalFree). The ANSI form is the wide one with its text through
// the code page.
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
#include "platform/emulated/calls/MessageFormat.h"
#include "platform/emulated/calls/Messages.h"

namespace corvane::platform {
namespace {

// What GetVersion gives a program without a compatibility manifest on
// Windows 8 and later: 6.2, build 9200, bit 31 clear (the NT family).
constexpr DWORD kDefaultVersion = (9200u << 16) | (2u << 8) | 6u;

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

// FormatMessage never writes more than 64K bytes into a caller's buffer.
constexpr DWORD kMaxMessageSize = 64 * 1024;

// Language 0 and English (any sublanguage, or the neutral forms) have text.
bool HasText(DWORD languageId) {
  const DWORD primary = languageId & 0x3FF;
  return languageId == 0 || primary == 0x09 || languageId == 0x400 ||
         languageId == 0x800;
}

// The message before formatting, or the status why there is none. The
// caller's string comes first; a module of the caller's has no message table
// in the emulation, so only the system's is searched.
LONG MessageSource(DWORD flags, const void* source, DWORD id, DWORD languageId,
                   bool wideCaller, std::wstring& text) {
  if ((flags & FORMAT_MESSAGE_FROM_STRING) != 0) {
    if (source == nullptr) return ERROR_INVALID_PARAMETER;
    text = wideCaller ? std::wstring(static_cast<const wchar_t*>(source))
                      : AnsiToWide(static_cast<const char*>(source));
    return ERROR_SUCCESS;
  }
  if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0) {
    return (flags & FORMAT_MESSAGE_FROM_HMODULE) != 0
               ? ERROR_RESOURCE_TYPE_NOT_FOUND
               : ERROR_INVALID_PARAMETER;
  }
  if (!HasText(languageId)) return ERROR_RESOURCE_LANG_NOT_FOUND;
  const std::optional<std::string> ansi = emulated::SystemMessageText(id);
  if (!ansi) return ERROR_MR_MID_NOT_FOUND;
  text = AnsiToWide(*ansi);
  return ERROR_SUCCESS;
}

LONG FormatToText(DWORD flags, const void* source, DWORD id, DWORD languageId,
                  va_list* arguments, bool wideCaller, std::wstring& out) {
  std::wstring text;
  const LONG status =
      MessageSource(flags, source, id, languageId, wideCaller, text);
  if (status != ERROR_SUCCESS) return status;
  emulated::MessageLayout layout;
  layout.ignoreInserts = (flags & FORMAT_MESSAGE_IGNORE_INSERTS) != 0;
  layout.maxWidth = flags & FORMAT_MESSAGE_MAX_WIDTH_MASK;
  layout.wideCaller = wideCaller;
  if (layout.ignoreInserts || arguments == nullptr) {
    emulated::InsertValues none;
    return emulated::FormatMessageText(text, none, layout, out);
  }
  if ((flags & FORMAT_MESSAGE_ARGUMENT_ARRAY) != 0) {
    emulated::InsertValues array(reinterpret_cast<const DWORD_PTR*>(arguments));
    return emulated::FormatMessageText(text, array, layout, out);
  }
  emulated::InsertValues list(arguments);
  return emulated::FormatMessageText(text, list, layout, out);
}

// The text into the caller's buffer of nSize units, or into a block of at
// least nSize units that LocalAlloc made, whose address goes where lpBuffer
// points. Returns the length without the NUL, or 0 and the reason.
template <class Char>
DWORD Deliver(DWORD flags, const std::basic_string<Char>& text, Char* lpBuffer,
              DWORD nSize) {
  Char* target = lpBuffer;
  if ((flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
    const std::size_t units = std::max<std::size_t>(text.size() + 1, nSize);
    target = static_cast<Char*>(LocalAlloc(LMEM_FIXED, units * sizeof(Char)));
    if (target == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    *reinterpret_cast<Char**>(lpBuffer) = target;
  } else if (text.size() + 1 > std::min(nSize, kMaxMessageSize)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(target, text.data(), text.size() * sizeof(Char));
  target[text.size()] = Char{};
  return static_cast<DWORD>(text.size());
}

// The checks both forms make before any text is looked at. With
// FORMAT_MESSAGE_ALLOCATE_BUFFER the caller's pointer is NULL until a block
// is made for it.
template <class Char>
bool BufferGiven(DWORD flags, Char* lpBuffer) {
  if (lpBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if ((flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
    *reinterpret_cast<Char**>(lpBuffer) = nullptr;
  }
  return true;
}

}  // namespace

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD dwErrCode) { lastError = dwErrCode; }

DWORD FormatMessageW(DWORD dwFlags, const void* lpSource, DWORD dwMessageId,
                     DWORD dwLanguageId, wchar_t* lpBuffer, DWORD nSize,
                     va_list* Arguments) {
  if (!BufferGiven(dwFlags, lpBuffer)) return 0;
  std::wstring text;
  const LONG status = FormatToText(dwFlags, lpSource, dwMessageId, dwLanguageId,
                                   Arguments, true, text);
  if (status != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(status));
    return 0;
  }
  return Deliver(dwFlags, text, lpBuffer, nSize);
}

DWORD FormatMessageA(DWORD dwFlags, const void* lpSource, DWORD dwMessageId,
                     DWORD dwLanguageId, char* lpBuffer, DWORD nSize,
                     va_list* Arguments) {
  if (!BufferGiven(dwFlags, lpBuffer)) return 0;
  std::wstring text;
  const LONG status = FormatToText(dwFlags, lpSource, dwMessageId, dwLanguageId,
                                   Arguments, false, text);
  if (status != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(status));
    return 0;
  }
  return Deliver(dwFlags, WideToAnsi(text), lpBuffer, nSize);
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
