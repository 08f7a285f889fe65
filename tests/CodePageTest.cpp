// The platform's text conversions with an explicit code page: the two that
// Windows 10 and later can run as the ANSI code page (UTF-8 and GB18030)
// refuse the no-best-fit flag the others take, and a text a code page can't
// carry must come back as a status, never as an empty string. Runs on both
// backends; a code page the platform lacks (the emulation has only
// Windows-1252, Wine 8 has no GB18030) skips its case.
#include <gtest/gtest.h>

#include <string>

#include "platform/Platform.h"

namespace corvane::platform {
namespace {

constexpr DWORD kWindows1252 = 1252;
constexpr DWORD kGb18030 = 54936;

bool Installed(DWORD codePage) {
  std::string out;
  return WideToAnsi(L"a", out, codePage) != ERROR_INVALID_PARAMETER;
}

// Converts `wide` to `codePage` and back, expecting `bytes` in between.
void ExpectRoundTrip(DWORD codePage, const std::wstring& wide,
                     const std::string& bytes) {
  std::string ansi = "stale";
  EXPECT_EQ(WideToAnsi(wide, ansi, codePage), ERROR_SUCCESS);
  EXPECT_EQ(ansi, bytes);
  std::wstring back = L"stale";
  EXPECT_EQ(AnsiToWide(bytes, back, codePage), ERROR_SUCCESS);
  EXPECT_EQ(back, wide);
}

TEST(CodePage, Windows1252MarksWhatItLacksWithAQuestionMark) {
  ExpectRoundTrip(kWindows1252, L"caf\u00E9 \u20AC", "caf\xE9 \x80");
  std::string ansi;
  EXPECT_EQ(WideToAnsi(L"a\u4E2D\u0100", ansi, kWindows1252), ERROR_SUCCESS);
  EXPECT_EQ(ansi, "a??");
}

TEST(CodePage, Utf8ConvertsEveryCharacterAndRefusesAnUnpairedSurrogate) {
  if (!Installed(CP_UTF8)) GTEST_SKIP() << "no UTF-8 code page here";
  ExpectRoundTrip(CP_UTF8, L"caf\u00E9 \u4E2D", "caf\xC3\xA9 \xE4\xB8\xAD");
  // U+FFFD in its place would name a key nobody asked for.
  const std::wstring lone = {L'a', static_cast<wchar_t>(0xD800), L'b'};
  std::string ansi = "stale";
  EXPECT_EQ(WideToAnsi(lone, ansi, CP_UTF8), ERROR_NO_UNICODE_TRANSLATION);
  EXPECT_EQ(ansi, "");
}

TEST(CodePage, Gb18030ConvertsWithoutTheFlagsItRefuses) {
  if (!Installed(kGb18030)) GTEST_SKIP() << "no GB18030 code page here";
  ExpectRoundTrip(kGb18030, L"a\u4E2D", "a\xD6\xD0");
}

TEST(CodePage, ACodePageTheSystemLacksIsAStatusToo) {
  std::string ansi = "stale";
  EXPECT_EQ(WideToAnsi(L"a", ansi, 12345), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ansi, "");
  std::wstring wide = L"stale";
  EXPECT_EQ(AnsiToWide("a", wide, 12345), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(wide, L"");
}

}  // namespace
}  // namespace corvane::platform
