// The KERNEL32 and ADVAPI32 calls Windows registry code makes around the
// registry, as Windows code writes them: FormatMessage with inserts, widths
// and an allocated buffer freed with LocalFree, the memory calls, and the
// process token enabling a privilege. Against <Windows.h> (the capitalised
// spelling), <winreg.h> and <winerror.h>, so that each spelling is compiled.
#include <Windows.h>
#include <gtest/gtest.h>
#include <winerror.h>
#include <winreg.h>

#include <cstdarg>
#include <cstring>
#include <string>

#include "WinRegTestSupport.h"

#if (defined(__LP64__) || defined(_LP64)) && !defined(_WIN64)
#error "a 64-bit target must define _WIN64"
#endif

namespace {

// A prototype with the annotations Windows' own carry.
LSTATUS ReadSize(_In_ HKEY key, _In_opt_ LPCWSTR name,
                 _Out_writes_bytes_opt_(*size) LPBYTE data,
                 _Inout_opt_ LPDWORD size, _Reserved_ LPDWORD reserved) {
  return RegQueryValueExW(key, name, reserved, nullptr, data, size);
}

static_assert(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US) == 0x409);
static_assert(PRIMARYLANGID(0x409) == LANG_ENGLISH);
static_assert(SUBLANGID(0x409) == SUBLANG_ENGLISH_US);
static_assert(sizeof(TCHAR) == sizeof(WCHAR), "the tests build with UNICODE");
static_assert(sizeof(LUID_AND_ATTRIBUTES) == 12);

// FormatMessageW from a string, its values from an array: the text, or
// "error N" with the last error.
std::wstring FromArray(const wchar_t* format, const DWORD_PTR* values,
                       DWORD flags = 0) {
  wchar_t buffer[256];
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY | flags,
      format, 0, 0, buffer, ARRAYSIZE(buffer),
      reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(values)));
  if (length == 0) return L"error " + std::to_wstring(GetLastError());
  return std::wstring(buffer, length);
}

// The same from the caller's variable arguments.
std::wstring FromList(const wchar_t* format, ...) {
  va_list values;
  va_start(values, format);
  wchar_t buffer[256];
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_STRING, format, 0, 0,
                                      buffer, ARRAYSIZE(buffer), &values);
  va_end(values);
  if (length == 0) return L"error " + std::to_wstring(GetLastError());
  return std::wstring(buffer, length);
}

DWORD_PTR Text(const wchar_t* text) {
  return reinterpret_cast<DWORD_PTR>(text);
}

TEST(WinKernel, FormatMessageExpandsInsertsAndEscapes) {
  const DWORD_PTR words[] = {Text(L"one"), Text(L"two")};
  const DWORD_PTR numbers[] = {42, static_cast<DWORD_PTR>(-7), 255};
  // %1!*.*s! takes its width and precision from the first two values.
  const DWORD_PTR starred[] = {4, 2, Text(L"Bill"), Text(L"Bob")};
  const struct {
    const wchar_t* format;
    const DWORD_PTR* values;
    const wchar_t* expected;
  } cases[] = {
      {L"%1 and %2", words, L"one and two"},
      {L"%2 %1 %2!s!", words, L"two one two"},
      {L"[%1!5s!][%2!-5s!][%1!.2s!]", words, L"[  one][two  ][on]"},
      {L"%1!d! %2!d! %3!x! %3!04X! %1!u!", numbers, L"42 -7 ff 00FF 42"},
      {L"%1!*.*s!|%4", starred, L"  Bi|Bob"},
      {L"100%% sure%.%!", words, L"100% sure.!"},
      {L"a%nb%tc%rd", words, L"a\r\nb\tc\rd"},
      {L"kept%0 and cut", words, L"kept"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FromArray(c.format, c.values), c.expected) << c.format;
  }
  EXPECT_EQ(FromList(L"%1 is %2!d! (%3!s!)", L"x", 17, L"y"), L"x is 17 (y)");
  // The ANSI form's !s! takes ANSI strings.
  const DWORD_PTR ansiWords[] = {reinterpret_cast<DWORD_PTR>("caf\xe9")};
  char ansi[32];
  ASSERT_EQ(FormatMessageA(
                FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                "<%1>", 0, 0, ansi, sizeof ansi,
                reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(ansiWords))),
            6u);
  EXPECT_STREQ(ansi, "<caf\xe9>");
}

TEST(WinKernel, FormatMessageLineWidths) {
  const DWORD_PTR none[] = {0};
  const wchar_t* text = L"alpha beta\r\ngamma%ndelta";
  EXPECT_EQ(FromArray(text, none), L"alpha beta\r\ngamma\r\ndelta");
  // No line breaks but %n's: the text's own become spaces.
  EXPECT_EQ(FromArray(text, none, FORMAT_MESSAGE_MAX_WIDTH_MASK),
            L"alpha beta gamma\r\ndelta");
  // A system text's closing line break becomes a space too.
  wchar_t buffer[64];
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
          FORMAT_MESSAGE_MAX_WIDTH_MASK,
      nullptr, ERROR_ACCESS_DENIED, 0, buffer, ARRAYSIZE(buffer), nullptr);
  ASSERT_GT(length, 1u);
  EXPECT_EQ(buffer[length - 1], L' ');
  // Lines shorter than the width, broken between words.
  EXPECT_EQ(FromArray(L"alpha beta gamma delta", none, 10),
            L"alpha\r\nbeta\r\ngamma\r\ndelta");
  EXPECT_EQ(FromArray(L"alpha beta gamma delta", none, 11),
            L"alpha beta\r\ngamma\r\ndelta");
  EXPECT_EQ(FromArray(L"abcdefgh", none, 4), L"abcd\r\nefgh\r\n");
  // Inserts are copied as written when they are to be ignored.
  EXPECT_EQ(FromArray(L"%1 and %2!d!", nullptr, FORMAT_MESSAGE_IGNORE_INSERTS),
            L"%1 and %2!d!");
}

TEST(WinKernel, FormatMessageFailuresLeaveWindowsStatuses) {
  wchar_t buffer[8];
  const struct {
    const char* label;
    DWORD flags;
    const void* source;
    wchar_t* target;
    DWORD size;
    DWORD error;
  } cases[] = {
      {"an insert without values", FORMAT_MESSAGE_FROM_STRING, L"%1", buffer, 8,
       ERROR_INVALID_PARAMETER},
      {"no buffer", FORMAT_MESSAGE_FROM_STRING, L"x", nullptr, 8,
       ERROR_INVALID_PARAMETER},
      {"text and NUL don't fit", FORMAT_MESSAGE_FROM_STRING, L"12345678",
       buffer, 8, ERROR_INSUFFICIENT_BUFFER},
      {"no source", FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, buffer, 8,
       ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_EQ(
        FormatMessageW(c.flags, c.source, 5, 0, c.target, c.size, nullptr), 0u)
        << c.label;
    EXPECT_EQ(GetLastError(), c.error) << c.label;
  }
}

// The error text as Windows registry code fetches it.
TEST(WinKernel, AllocatedMessagesAreFreedWithLocalFree) {
  LPWSTR message = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, ERROR_FILE_NOT_FOUND, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<LPWSTR>(&message), 0, nullptr);
  ASSERT_GT(length, 2u);
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(std::wcslen(message), length);
  EXPECT_EQ(std::wstring(message + length - 2), L"\r\n");
  EXPECT_EQ(LocalFree(message), nullptr);

  // nSize is the least the block holds; the text still fits when it is less.
  LPSTR ansi = nullptr;
  ASSERT_EQ(FormatMessageA(
                FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING,
                "short", 0, 0, reinterpret_cast<LPSTR>(&ansi), 4000, nullptr),
            5u);
  std::memset(ansi, 'x', 4000);
  EXPECT_EQ(LocalFree(ansi), nullptr);

  // A failure leaves the caller's pointer NULL.
  message = reinterpret_cast<LPWSTR>(&message);
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER |
                               FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, 0x2345678, 0,
                           reinterpret_cast<LPWSTR>(&message), 0, nullptr),
            0u);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_MR_MID_NOT_FOUND});
  EXPECT_EQ(message, nullptr);
}

TEST(WinKernel, MemoryCallsGiveWindowsAnswers) {
  auto* zeroed = static_cast<unsigned char*>(LocalAlloc(LPTR, 64));
  ASSERT_NE(zeroed, nullptr);
  EXPECT_EQ(std::memcmp(zeroed, std::string(64, '\0').data(), 64), 0);
  EXPECT_EQ(LocalFree(zeroed), nullptr);
  EXPECT_EQ(LocalFree(nullptr), nullptr);

  HGLOBAL global = GlobalAlloc(GPTR, 16);
  ASSERT_NE(global, nullptr);
  EXPECT_EQ(GlobalFree(global), nullptr);

  HANDLE heap = GetProcessHeap();
  ASSERT_NE(heap, nullptr);
  auto* block = static_cast<char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 8));
  ASSERT_NE(block, nullptr);
  std::memcpy(block, "1234567", 8);
  auto* grown =
      static_cast<char*>(HeapReAlloc(heap, HEAP_ZERO_MEMORY, block, 4096));
  ASSERT_NE(grown, nullptr);
  EXPECT_STREQ(grown, "1234567");
  EXPECT_EQ(grown[4095], '\0');
  EXPECT_TRUE(HeapFree(heap, 0, grown));

#ifdef CORVANE_EMULATED
  // Windows' heap may stop the process here; the emulation refuses.
  void* once = LocalAlloc(LMEM_FIXED, 4);
  ASSERT_EQ(LocalFree(once), nullptr);
  SetLastError(0);
  EXPECT_EQ(LocalFree(once), once);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
#endif
}

// Code that saves or loads a hive enables its privileges first.
TEST(WinKernel, ATokenEnablesTheBackupPrivilege) {
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(),
                               TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
  LUID backup = {};
  ASSERT_TRUE(LookupPrivilegeValue(nullptr, SE_BACKUP_NAME, &backup));
  LUID restore = {};
  ASSERT_TRUE(LookupPrivilegeValueA(nullptr, "serestoreprivilege", &restore));
  EXPECT_NE(backup.LowPart, restore.LowPart);

  LUID unknown = {};
  SetLastError(0);
  EXPECT_FALSE(LookupPrivilegeValueW(nullptr, L"SeNoSuchPrivilege", &unknown));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_NO_SUCH_PRIVILEGE});

  TOKEN_PRIVILEGES wanted = {};
  wanted.PrivilegeCount = 1;
  wanted.Privileges[0].Luid = backup;
  wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  SetLastError(99);
  ASSERT_TRUE(
      AdjustTokenPrivileges(token, FALSE, &wanted, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SUCCESS});

  EXPECT_TRUE(CloseHandle(token));
  SetLastError(0);
  EXPECT_FALSE(
      AdjustTokenPrivileges(token, FALSE, &wanted, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});

  // A handle opened only to query can't adjust.
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  EXPECT_FALSE(
      AdjustTokenPrivileges(token, FALSE, &wanted, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  EXPECT_TRUE(CloseHandle(token));
  EXPECT_TRUE(CloseHandle(GetCurrentProcess()));
}

// Wine's token keeps no privilege state (the previous state comes back
// empty): Windows' documented answers, as the emulation gives them.
TEST(WinKernel, ATokenReportsThePreviousStateOfWhatItChanged) {
  if (UnderWine()) GTEST_SKIP() << "Wine's token keeps no privilege state";
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(),
                               TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
  LUID backup = {};
  ASSERT_TRUE(LookupPrivilegeValue(nullptr, SE_BACKUP_NAME, &backup));
  TOKEN_PRIVILEGES wanted = {};
  wanted.PrivilegeCount = 1;
  wanted.Privileges[0].Luid = backup;
  wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  ASSERT_TRUE(
      AdjustTokenPrivileges(token, FALSE, &wanted, 0, nullptr, nullptr));

  // Too small a buffer for the previous state: the size it needs.
  wanted.Privileges[0].Attributes = 0;
  TOKEN_PRIVILEGES previous = {};
  DWORD needed = 0;
  EXPECT_FALSE(
      AdjustTokenPrivileges(token, FALSE, &wanted, 1, &previous, &needed));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
  EXPECT_EQ(needed, DWORD{sizeof previous});
  ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &wanted, sizeof previous,
                                    &previous, &needed));
  ASSERT_EQ(previous.PrivilegeCount, 1u);
  EXPECT_EQ(previous.Privileges[0].Luid.LowPart, backup.LowPart);
  EXPECT_EQ(previous.Privileges[0].Attributes & SE_PRIVILEGE_ENABLED,
            DWORD{SE_PRIVILEGE_ENABLED});

  EXPECT_TRUE(CloseHandle(token));
}

TEST(WinKernel, ReadSizeThroughAnAnnotatedPrototype) {
  DWORD size = 0;
  EXPECT_EQ(ReadSize(HKEY_CURRENT_USER, L"Corvane no such value", nullptr,
                     &size, nullptr),
            ERROR_FILE_NOT_FOUND);
}

}  // namespace
