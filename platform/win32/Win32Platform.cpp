// The Windows backend: every platform function forwards to ADVAPI32 or
// KERNEL32, the registry's from Platform.h's list. Key handles cross as
// 32-bit values, sign-extended to HKEY on the way in (so 0x80000000 becomes
// the predefined HKEY_CLASSES_ROOT) and truncated on the way out; registry
// handles always fit in 32 bits.
//
// This header must come before <windows.h>: see its note on macros.
#include "base/Unicode.h"
#include "platform/Forward.h"
#include "platform/Platform.h"
// clang-format off
#include <windows.h>
// clang-format on

#include <climits>
#include <cstddef>
#include <cstring>
#include <vector>

namespace corvane::platform {
namespace {

::HKEY ToSystem(HKEY key) {
  return reinterpret_cast<::HKEY>(
      static_cast<INT_PTR>(static_cast<std::int32_t>(key)));
}

HKEY FromSystem(::HKEY key) {
  return static_cast<HKEY>(reinterpret_cast<UINT_PTR>(key));
}

// Every argument not adapted below passes as it is (DWORD to ::DWORD,
// LPCSTR to LPCSTR, ...).
template <class To, class From>
class Arg : public PassedAsIs<To, From> {
  using PassedAsIs<To, From>::PassedAsIs;
};

template <>
class Arg<::HKEY, HKEY> : public PassedAsIs<::HKEY, ::HKEY> {
 public:
  explicit Arg(HKEY key) : PassedAsIs(ToSystem(key)) {}
};

// An in/out value through a local copy of the system's type, written back
// whatever the status, keeping NULL.
template <class System, class Ours, System (*In)(Ours), Ours (*Out)(System)>
class Through {
 public:
  explicit Through(Ours* target)
      : target_(target), value_(target ? In(*target) : System{}) {}
  Through(const Through&) = delete;
  Through& operator=(const Through&) = delete;
  System* Get() { return target_ ? &value_ : nullptr; }
  void Finish(LONG) const {
    if (target_) *target_ = Out(value_);
  }

 private:
  Ours* target_;
  System value_;
};

::DWORD DwordToSystem(DWORD value) { return value; }
DWORD DwordFromSystem(::DWORD value) { return static_cast<DWORD>(value); }

// DWORD is unsigned long on Windows and std::uint32_t here: same width,
// different types.
template <>
class Arg<::DWORD*, DWORD*>
    : public Through<::DWORD, DWORD, DwordToSystem, DwordFromSystem> {
  using Through::Through;
};

template <>
class Arg<::HKEY*, HKEY*> : public Through<::HKEY, HKEY, ToSystem, FromSystem> {
  using Through::Through;
};

::LONG LongToSystem(LONG value) { return value; }
LONG LongFromSystem(::LONG value) { return static_cast<LONG>(value); }

// LONG is long on Windows and std::int32_t here: same width, different types.
template <>
class Arg<::LONG*, LONG*>
    : public Through<::LONG, LONG, LongToSystem, LongFromSystem> {
  using Through::Through;
};

// A VALENT array is handed over as it lies: the platform layer's structures
// are laid out as the system's.
template <class System, class Ours>
class SameLayout {
 public:
  static_assert(sizeof(System) == sizeof(Ours));
  explicit SameLayout(Ours* given) : given_(given) {}
  System* Get() const { return reinterpret_cast<System*>(given_); }
  void Finish(LONG) const {}

 private:
  Ours* given_;
};

static_assert(offsetof(::VALENTA, ve_valueptr) ==
                  offsetof(VALENTA, ve_valueptr) &&
              offsetof(::VALENTA, ve_type) == offsetof(VALENTA, ve_type));
static_assert(offsetof(::VALENTW, ve_valueptr) ==
                  offsetof(VALENTW, ve_valueptr) &&
              offsetof(::VALENTW, ve_type) == offsetof(VALENTW, ve_type));

template <>
class Arg<::VALENTA*, VALENTA*> : public SameLayout<::VALENTA, VALENTA> {
  using SameLayout::SameLayout;
};

template <>
class Arg<::VALENTW*, VALENTW*> : public SameLayout<::VALENTW, VALENTW> {
  using SameLayout::SameLayout;
};

template <>
class Arg<::FILETIME*, FILETIME*>
    : public FileTimeOnSuccess<::FILETIME, FILETIME> {
  using FileTimeOnSuccess::FileTimeOnSuccess;
};

template <>
class Arg<::SECURITY_ATTRIBUTES*, const SECURITY_ATTRIBUTES*>
    : public AttributesCopied<::SECURITY_ATTRIBUTES, SECURITY_ATTRIBUTES> {
  using AttributesCopied::AttributesCopied;
};

}  // namespace

// The registry: each function of Platform.h's list forwards to the system's
// function of the same name. Inside this namespace the list's types are the
// platform layer's; the adapters above turn them into the system's.
#define CORVANE_WIN32_FORWARD(name, parameters, arguments) \
  LONG name parameters { return Forward<Arg>(::name) arguments; }
CORVANE_REGISTRY_FUNCTIONS(CORVANE_WIN32_FORWARD, CORVANE_WIN32_FORWARD)
#undef CORVANE_WIN32_FORWARD

DWORD FormatMessageW(DWORD dwFlags, const void* lpSource, DWORD dwMessageId,
                     DWORD dwLanguageId, wchar_t* lpBuffer, DWORD nSize,
                     va_list* Arguments) {
  return ::FormatMessageW(dwFlags, lpSource, dwMessageId, dwLanguageId,
                          lpBuffer, nSize, Arguments);
}

DWORD FormatMessageA(DWORD dwFlags, const void* lpSource, DWORD dwMessageId,
                     DWORD dwLanguageId, char* lpBuffer, DWORD nSize,
                     va_list* Arguments) {
  return ::FormatMessageA(dwFlags, lpSource, dwMessageId, dwLanguageId,
                          lpBuffer, nSize, Arguments);
}

DWORD GetVersion() { return ::GetVersion(); }

DWORD ExpandEnvironmentStringsA(const char* lpSrc, char* lpDst, DWORD nSize) {
  return ::ExpandEnvironmentStringsA(lpSrc, lpDst, nSize);
}

int lstrlenW(const wchar_t* lpString) { return ::lstrlenW(lpString); }

// <windows.h> defines RtlMoveMemory as a macro over memmove; ours is the
// function with the same effect.
#undef RtlMoveMemory
void RtlMoveMemory(void* Destination, const void* Source, std::size_t Length) {
  std::memmove(Destination, Source, Length);
}

DWORD GetLastError() { return ::GetLastError(); }

void SetLastError(DWORD dwErrCode) { ::SetLastError(dwErrCode); }

// Memory and the process token: the system's own. The structures are
// Windows' in layout, so they pass by a cast.
static_assert(sizeof(LUID) == sizeof(::LUID));
static_assert(sizeof(TOKEN_PRIVILEGES) == sizeof(::TOKEN_PRIVILEGES));
static_assert(sizeof(DWORD) == sizeof(::DWORD));

HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  return ::LocalAlloc(uFlags, uBytes);
}
HLOCAL LocalFree(HLOCAL hMem) { return ::LocalFree(hMem); }
HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
  return ::GlobalAlloc(uFlags, dwBytes);
}
HGLOBAL GlobalFree(HGLOBAL hMem) { return ::GlobalFree(hMem); }
HANDLE GetProcessHeap() { return ::GetProcessHeap(); }
void* HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
  return ::HeapAlloc(hHeap, dwFlags, dwBytes);
}
void* HeapReAlloc(HANDLE hHeap, DWORD dwFlags, void* lpMem, SIZE_T dwBytes) {
  return ::HeapReAlloc(hHeap, dwFlags, lpMem, dwBytes);
}
BOOL HeapFree(HANDLE hHeap, DWORD dwFlags, void* lpMem) {
  return ::HeapFree(hHeap, dwFlags, lpMem);
}

HANDLE GetCurrentProcess() { return ::GetCurrentProcess(); }
BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess,
                      HANDLE* TokenHandle) {
  return ::OpenProcessToken(ProcessHandle, DesiredAccess, TokenHandle);
}
BOOL LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, LUID* lpLuid) {
  return ::LookupPrivilegeValueA(lpSystemName, lpName,
                                 reinterpret_cast<::LUID*>(lpLuid));
}
BOOL LookupPrivilegeValueW(LPCWSTR lpSystemName, LPCWSTR lpName, LUID* lpLuid) {
  return ::LookupPrivilegeValueW(lpSystemName, lpName,
                                 reinterpret_cast<::LUID*>(lpLuid));
}
BOOL AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                           TOKEN_PRIVILEGES* NewState, DWORD BufferLength,
                           TOKEN_PRIVILEGES* PreviousState,
                           DWORD* ReturnLength) {
  return ::AdjustTokenPrivileges(
      TokenHandle, DisableAllPrivileges,
      reinterpret_cast<::TOKEN_PRIVILEGES*>(NewState), BufferLength,
      reinterpret_cast<::TOKEN_PRIVILEGES*>(PreviousState),
      reinterpret_cast<::DWORD*>(ReturnLength));
}
BOOL CloseHandle(HANDLE hObject) { return ::CloseHandle(hObject); }

HANDLE CreateEventA(SECURITY_ATTRIBUTES* lpEventAttributes, BOOL bManualReset,
                    BOOL bInitialState, LPCSTR lpName) {
  return ::CreateEventA(
      reinterpret_cast<::SECURITY_ATTRIBUTES*>(lpEventAttributes), bManualReset,
      bInitialState, lpName);
}
HANDLE CreateEventW(SECURITY_ATTRIBUTES* lpEventAttributes, BOOL bManualReset,
                    BOOL bInitialState, LPCWSTR lpName) {
  return ::CreateEventW(
      reinterpret_cast<::SECURITY_ATTRIBUTES*>(lpEventAttributes), bManualReset,
      bInitialState, lpName);
}
HANDLE CreateEventExA(SECURITY_ATTRIBUTES* lpEventAttributes, LPCSTR lpName,
                      DWORD dwFlags, DWORD dwDesiredAccess) {
  return ::CreateEventExA(
      reinterpret_cast<::SECURITY_ATTRIBUTES*>(lpEventAttributes), lpName,
      dwFlags, dwDesiredAccess);
}
HANDLE CreateEventExW(SECURITY_ATTRIBUTES* lpEventAttributes, LPCWSTR lpName,
                      DWORD dwFlags, DWORD dwDesiredAccess) {
  return ::CreateEventExW(
      reinterpret_cast<::SECURITY_ATTRIBUTES*>(lpEventAttributes), lpName,
      dwFlags, dwDesiredAccess);
}
HANDLE OpenEventA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName) {
  return ::OpenEventA(dwDesiredAccess, bInheritHandle, lpName);
}
HANDLE OpenEventW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName) {
  return ::OpenEventW(dwDesiredAccess, bInheritHandle, lpName);
}
BOOL SetEvent(HANDLE hEvent) { return ::SetEvent(hEvent); }
BOOL ResetEvent(HANDLE hEvent) { return ::ResetEvent(hEvent); }
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return ::WaitForSingleObject(hHandle, dwMilliseconds);
}
DWORD WaitForSingleObjectEx(HANDLE hHandle, DWORD dwMilliseconds,
                            BOOL bAlertable) {
  return ::WaitForSingleObjectEx(hHandle, dwMilliseconds, bAlertable);
}
DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles,
                             BOOL bWaitAll, DWORD dwMilliseconds) {
  return ::WaitForMultipleObjects(nCount, lpHandles, bWaitAll, dwMilliseconds);
}
DWORD WaitForMultipleObjectsEx(DWORD nCount, const HANDLE* lpHandles,
                               BOOL bWaitAll, DWORD dwMilliseconds,
                               BOOL bAlertable) {
  return ::WaitForMultipleObjectsEx(nCount, lpHandles, bWaitAll, dwMilliseconds,
                                    bAlertable);
}

namespace {

// No best-fit mapping: a character the code page lacks becomes "?", never a
// look-alike that would name another key. Some code pages refuse that flag,
// and every other, with ERROR_INVALID_FLAGS: GB18030 (54936, which Windows
// 10 and later can run as the ANSI code page), UTF-7, Symbol and the
// ISO-2022 and ISCII families. UTF-8 (the other ANSI code page they offer)
// takes only WC_ERR_INVALID_CHARS: an unpaired surrogate then fails instead
// of becoming U+FFFD, a character no caller asked for.
::DWORD WideFlags(::UINT codePage) {
  if (codePage == CP_ACP) codePage = ::GetACP();
  if (codePage == CP_UTF8) return WC_ERR_INVALID_CHARS;
  const bool takesNoFlags = codePage == 42 || codePage == 54936 ||
                            codePage == 65000 ||
                            (codePage >= 50220 && codePage <= 50229) ||
                            (codePage >= 57002 && codePage <= 57011);
  return takesNoFlags ? 0 : WC_NO_BEST_FIT_CHARS;
}

// Why a conversion failed. A code page that isn't installed keeps its own
// status; whatever else the system says, the text did not translate.
LONG ConversionFailure() {
  const ::DWORD error = ::GetLastError();
  return error == ERROR_INVALID_PARAMETER ? ERROR_INVALID_PARAMETER
                                          : ERROR_NO_UNICODE_TRANSLATION;
}

bool FitsInt(std::size_t size) {
  return size <= static_cast<std::size_t>(INT_MAX);
}

}  // namespace

LONG WideToAnsi(std::wstring_view text, std::string& out, DWORD codePage) {
  out.clear();
  if (text.empty()) return ERROR_SUCCESS;
  if (!FitsInt(text.size())) return ERROR_INVALID_PARAMETER;
  const ::DWORD flags = WideFlags(codePage);
  const int length = static_cast<int>(text.size());
  const int needed = ::WideCharToMultiByte(codePage, flags, text.data(), length,
                                           nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return ConversionFailure();
  out.resize(static_cast<std::size_t>(needed));
  if (::WideCharToMultiByte(codePage, flags, text.data(), length, out.data(),
                            needed, nullptr, nullptr) != needed) {
    out.clear();
    return ConversionFailure();
  }
  return ERROR_SUCCESS;
}

LONG AnsiToWide(std::string_view text, std::wstring& out, DWORD codePage) {
  out.clear();
  if (text.empty()) return ERROR_SUCCESS;
  if (!FitsInt(text.size())) return ERROR_INVALID_PARAMETER;
  const int length = static_cast<int>(text.size());
  const int needed =
      ::MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
  if (needed <= 0) return ConversionFailure();
  out.resize(static_cast<std::size_t>(needed));
  if (::MultiByteToWideChar(codePage, 0, text.data(), length, out.data(),
                            needed) != needed) {
    out.clear();
    return ConversionFailure();
  }
  return ERROR_SUCCESS;
}

// For display only: what can't be converted is shown as "?" rather than
// dropped, and ASCII reads the same in every ANSI code page.
std::string WideToAnsi(std::wstring_view text) {
  std::string out;
  if (WideToAnsi(text, out) == ERROR_SUCCESS) return out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    // A surrogate pair is one character, so one "?".
    if (base::IsHighSurrogate(c) && i + 1 < text.size() &&
        base::IsLowSurrogate(text[i + 1])) {
      ++i;
    }
    out += c < 0x80 ? static_cast<char>(c) : '?';
  }
  return out;
}

std::wstring AnsiToWide(std::string_view text) {
  std::wstring out;
  if (AnsiToWide(text, out) == ERROR_SUCCESS) return out;
  for (const char c : text) {
    out +=
        static_cast<unsigned char>(c) < 0x80 ? static_cast<wchar_t>(c) : L'?';
  }
  return out;
}

std::string RegistryLoadError() { return {}; }
std::string RegistryWriteError() { return {}; }

void DisableSqliteMemoryStatistics() {}

}  // namespace corvane::platform
