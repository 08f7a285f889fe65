// The emulated system functions against what Windows itself does: exact
// message texts and their failure codes, the Windows-1252 code page, the
// version hook and environment expansion.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "errors/MErrors.h"
#include "platform/Platform.h"
#include "platform/emulated/TestHooks.h"
#include "platform/emulated/calls/Messages.h"

namespace corvane::platform {
namespace {

constexpr DWORD kSystemText =
    FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

std::string Message(DWORD code, DWORD size = 512) {
  std::string buffer(size, '\x7F');
  const DWORD n = FormatMessageA(kSystemText, nullptr, code, 0, buffer.data(),
                                 size, nullptr);
  return n == 0 ? std::string() : buffer.substr(0, n);
}

TEST(EmulatedMessages, TextsAreWindowsOwn) {
  const struct {
    DWORD code;
    const char* text;
  } cases[] = {
      {0, "The operation completed successfully.\r\n"},
      {2, "The system cannot find the file specified.\r\n"},
      {5, "Access is denied.\r\n"},
      {6, "The handle is invalid.\r\n"},
      {13, "The data is invalid.\r\n"},
      {87, "The parameter is incorrect.\r\n"},
      {234, "More data is available.\r\n"},
      {259, "No more data is available.\r\n"},
      {1009, "The configuration registry database is corrupt.\r\n"},
      {1010, "The configuration registry key is invalid.\r\n"},
      {1018,
       "Illegal operation attempted on a registry key that has been "
       "marked for deletion.\r\n"},
      {317,
       "The system cannot find message text for message number 0x%1 in "
       "the message file for %2.\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(Message(c.code), c.text) << c.code;

  std::vector<DWORD> required = {87, 122, 161, 206, 234, 259, 317};
  for (DWORD c = 0; c <= 15; ++c) required.push_back(c);
  for (DWORD c = 1009; c <= 1021; ++c) required.push_back(c);
  for (DWORD code : required) {
    char buffer[300] = {};
    const DWORD n = FormatMessageA(kSystemText, nullptr, code, 0, buffer,
                                   sizeof buffer, nullptr);
    ASSERT_GT(n, 2u) << code;
    EXPECT_EQ(n, std::strlen(buffer)) << code;
    EXPECT_STREQ(buffer + n - 2, "\r\n") << code;
  }
}

TEST(EmulatedMessages, FailuresLeaveWindowsCodes) {
  char buffer[64];
  const struct {
    const char* label;
    DWORD flags, code, language, size;
    DWORD error;
  } cases[] = {
      {"no text", kSystemText, 0xFFFF92B8u, 0, 64, ERROR_MR_MID_NOT_FOUND},
      {"text plus NUL doesn't fit", kSystemText, 5, 0, 18,
       ERROR_INSUFFICIENT_BUFFER},
      {"inserts wanted but not given", FORMAT_MESSAGE_FROM_SYSTEM, 317, 0, 64,
       ERROR_INVALID_PARAMETER},
      {"not a system text", FORMAT_MESSAGE_IGNORE_INSERTS, 5, 0, 64,
       ERROR_INVALID_PARAMETER},
      {"a language without texts", kSystemText, 5, 0x407, 64, 1815},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_EQ(FormatMessageA(c.flags, nullptr, c.code, c.language, buffer,
                             c.size, nullptr),
              0u)
        << c.label;
    EXPECT_EQ(GetLastError(), c.error) << c.label;
  }
  // "Access is denied.\r\n" is 19 characters: 20 bytes hold it exactly.
  EXPECT_EQ(Message(5, 20), "Access is denied.\r\n");
  EXPECT_EQ(Message(5, 19), "");
  EXPECT_EQ(FormatMessageA(kSystemText, nullptr, 5, 0x409, buffer, 64, nullptr),
            19u);
}

TEST(EmulatedMessages, ApiErrorStopsAt255Characters) {
  // Windows has texts of every length; these two sit on either side of
  // what a 256-character buffer holds with its NUL.
  const std::string fits = std::string(253, 'a') + "\r\n";
  const std::string tooLong = std::string(254, 'b') + "\r\n";
  emulated::SetMessageText(60001, fits);
  emulated::SetMessageText(60002, tooLong);
  EXPECT_EQ(MErrors::ApiError(60001), std::wstring(fits.begin(), fits.end()));
  EXPECT_EQ(MErrors::ApiError(60002), L"");
  EXPECT_EQ(MErrors::LastRecordedError(), ERROR_INSUFFICIENT_BUFFER);
  // Characters beyond ASCII come back through the code page.
  emulated::SetMessageText(60003, "Caf\xE9 \x80 %1\r\n");
  EXPECT_EQ(MErrors::ApiError(60003), L"Caf\u00E9 \u20AC %1\r\n");
  emulated::ResetMessageTexts();
  EXPECT_EQ(MErrors::ApiError(60001), L"");
}

TEST(EmulatedLastError, IsPerThread) {
  SetLastError(5);
  DWORD seenThere = 99;
  std::thread([&] {
    seenThere = GetLastError();
    SetLastError(6);
  }).join();
  EXPECT_EQ(seenThere, 0u);
  EXPECT_EQ(GetLastError(), 5u);
}

TEST(EmulatedVersion, DefaultsToNtAndFollowsTheHook) {
  const DWORD nt = GetVersion();
  EXPECT_EQ(nt & 0x80000000u, 0u);
  EXPECT_EQ(nt & 0xFF, 6u);
  emulated::SetVersion(0xC0000A04u);  // 4.10, the 95 family
  EXPECT_EQ(GetVersion(), 0xC0000A04u);
  emulated::ResetVersion();
  EXPECT_EQ(GetVersion(), nt);
}

TEST(EmulatedCodePage, Windows1252BothWaysAndQuestionMarksForTheRest) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(WideToAnsi(AnsiToWide(all)), all);

  // Which byte is which character is the base layer's table (BaseTest).
  EXPECT_EQ(AnsiToWide("\x80\x81"), L"\u20AC\u0081");
  EXPECT_EQ(AnsiToWide(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
  // One character beyond the BMP is one "?", however wchar_t holds it.
  EXPECT_EQ(WideToAnsi(L"a\U0001F600b"), "a?b");
  EXPECT_EQ(WideToAnsi(std::wstring(1, static_cast<wchar_t>(0xD800))), "?");
}

TEST(EmulatedEnvironment, ExpandsDefinedNamesOnly) {
  setenv("CORVANE_TEST_DIR", "C:\\Data", 1);
  setenv("CORVANE_TEST_UTF8", "caf\xC3\xA9", 1);
  unsetenv("CORVANE_TEST_UNDEFINED");
  const struct {
    const char* source;
    const char* expanded;
  } cases[] = {
      {"%CORVANE_TEST_DIR%\\x", "C:\\Data\\x"},
      {"%corvane_test_dir%", "C:\\Data"},
      {"%CORVANE_TEST_UNDEFINED%", "%CORVANE_TEST_UNDEFINED%"},
      {"%CORVANE_TEST_UNDEFINED%CORVANE_TEST_DIR%",
       "%CORVANE_TEST_UNDEFINED%CORVANE_TEST_DIR%"},
      {"100% sure", "100% sure"},
      {"%%", "%%"},
      {"", ""},
      {"%CORVANE_TEST_UTF8%", "caf\xE9"},
  };
  for (const auto& c : cases) {
    char buffer[128];
    const DWORD n = ExpandEnvironmentStringsA(c.source, buffer, sizeof buffer);
    EXPECT_EQ(n, std::strlen(c.expanded) + 1) << c.source;
    EXPECT_STREQ(buffer, c.expanded) << c.source;
  }
}

TEST(EmulatedEnvironment, ShortBufferGetsTheNeededSizeOnly) {
  setenv("CORVANE_TEST_DIR", "C:\\Data", 1);
  char buffer[8] = "keep";
  EXPECT_EQ(ExpandEnvironmentStringsA("%CORVANE_TEST_DIR%", buffer, 7), 8u);
  EXPECT_STREQ(buffer, "keep");
  EXPECT_EQ(ExpandEnvironmentStringsA("%CORVANE_TEST_DIR%", nullptr, 0), 8u);
  EXPECT_EQ(ExpandEnvironmentStringsA("%CORVANE_TEST_DIR%", buffer, 8), 8u);
  EXPECT_STREQ(buffer, "C:\\Data");
}

TEST(EmulatedMemory, LengthAndOverlappingMove) {
  EXPECT_EQ(lstrlenW(nullptr), 0);
  EXPECT_EQ(lstrlenW(L""), 0);
  EXPECT_EQ(lstrlenW(L"abc\0def"), 3);
  char text[] = "abcdef";
  RtlMoveMemory(text + 1, text, 4);
  EXPECT_STREQ(text, "aabcdf");
  RtlMoveMemory(nullptr, nullptr, 0);
}

}  // namespace
}  // namespace corvane::platform
