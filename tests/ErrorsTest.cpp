// Error services on whichever backend the build links: the number
// conversions at the edges of their ranges, and message texts compared with
// what the platform itself answers (Wine's texts differ from Windows', so no
// wording is assumed here; the emulated table has its own tests).
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "errors/GErrors.h"
#include "errors/MErrors.h"
#include "errors/RaisedError.h"
#include "platform/Platform.h"

namespace corvane {
namespace {

namespace p = platform;

// The platform's own text for `code`, however long, or nothing.
std::optional<std::wstring> PlatformText(std::int32_t code) {
  // FormatMessageA refuses large buffers (Wine from 32K, Windows from 64K).
  std::vector<char> buffer(16 * 1024);
  const p::DWORD n = p::FormatMessageA(
      p::FORMAT_MESSAGE_FROM_SYSTEM | p::FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<p::DWORD>(code), 0, buffer.data(),
      static_cast<p::DWORD>(buffer.size()), nullptr);
  if (n == 0) return std::nullopt;
  return p::AnsiToWide(std::string_view(buffer.data(), n));
}

TEST(ErrorNumbers, ConvertByOrAndWrapIn32Bits) {
  const struct {
    const char* label;
    std::int32_t actual, expected;
  } cases[] = {
      {"ApiToCom(0)", MErrors::ApiToCom(0), -2147192504},
      {"ApiToCom(5)", MErrors::ApiToCom(5), -2147192499},
      {"base is ORed, not added", MErrors::ApiToCom(0x40000),
       MErrors::ApiToCom(0)},
      {"ApiToCom(-1)", MErrors::ApiToCom(-1), 28999},
      {"ApiToCom(36536) wraps", MErrors::ApiToCom(36536),
       static_cast<std::int32_t>(0x80050000u)},
      {"ComToApi of the wrap", MErrors::ComToApi(MErrors::ApiToCom(36536)),
       -29000},
      {"ComToApi(0x80047155)",
       MErrors::ComToApi(static_cast<std::int32_t>(0x80047155u)), 13},
      {"ComToApi of an application error",
       MErrors::ComToApi(static_cast<std::int32_t>(0x80040400u)), -27976},
      {"ComToApi(-1)", MErrors::ComToApi(-1), 36535},
      {"COMError(1024)", MErrors::COMError(1024), -2147220480},
      {"BasicError(0x80040400)",
       MErrors::BasicError(static_cast<std::int32_t>(0x80040400u)), 1024},
      {"BasicError(-1)", MErrors::BasicError(-1), 65535},
      {"GErrors.ApiToCom", GErrors.ApiToCom(-1), 28999},
      {"GErrors.ComToApi", GErrors.ComToApi(-1), 36535},
      {"GErrors.BasicError", GErrors.BasicError(-1), 65535},
      {"GErrors.COMError", GErrors.COMError(1024), -2147220480},
  };
  for (const auto& c : cases) EXPECT_EQ(c.actual, c.expected) << c.label;
}

TEST(ErrorNumbers, RoundTripsOverTheirWholeRanges) {
  for (std::int32_t c = 0; c <= 36535; ++c) {
    ASSERT_EQ(MErrors::ComToApi(MErrors::ApiToCom(c)), c);
  }
  for (std::int32_t n = 0; n <= 65535; ++n) {
    ASSERT_EQ(MErrors::BasicError(MErrors::COMError(n)), n);
  }
}

TEST(ApiError, GivesThePlatformsTextUpTo255Characters) {
  // Wide enough to meet both texts that fit and, on Windows, some that
  // don't; codes without text in between exercise the empty answer.
  bool sawText = false;
  for (std::int32_t code = 0; code <= 1100; ++code) {
    const std::optional<std::wstring> expected = PlatformText(code);
    const std::wstring actual = MErrors::ApiError(code);
    ASSERT_LE(actual.size(), 255u) << code;
    if (expected && expected->size() <= 255) {
      sawText = true;
      ASSERT_EQ(actual, *expected) << code;
    } else {
      ASSERT_EQ(actual, L"") << code;
    }
  }
  EXPECT_TRUE(sawText);
  const std::optional<std::wstring> fileNotFound = PlatformText(2);
  ASSERT_TRUE(fileNotFound.has_value());
  EXPECT_EQ(GErrors.ApiError(2), *fileNotFound);
}

TEST(ApiError, CodeWithoutTextIsEmptyAndRecordsTheFailure) {
  // -27976 is what an application error's number looks like to ComToApi.
  ASSERT_FALSE(PlatformText(-27976).has_value());
  EXPECT_EQ(MErrors::ComToApiStr(static_cast<std::int32_t>(0x80040400u)), L"");
  EXPECT_EQ(MErrors::LastRecordedError(), p::ERROR_MR_MID_NOT_FOUND);
  EXPECT_EQ(GErrors.ComToApiStr(MErrors::ApiToCom(5)), PlatformText(5).value());
}

TEST(LastApiError, ReadsTheRecordBeforeItsOwnCall) {
  const std::wstring accessDenied = MErrors::ApiError(5);
  ASSERT_NE(accessDenied, L"");
  p::SetLastError(5);
  MErrors::RecordLastError();
  p::SetLastError(0);  // the record, not the live value, is what counts
  EXPECT_EQ(MErrors::LastRecordedError(), 5);
  EXPECT_EQ(MErrors::LastApiError(), accessDenied);

  MErrors::ApiError(-27976);  // fails, recording 317
  EXPECT_EQ(GErrors.LastApiError(),
            MErrors::ApiError(p::ERROR_MR_MID_NOT_FOUND));
}

TEST(LastApiError, RecordBelongsToTheCallingThread) {
  p::SetLastError(5);
  MErrors::RecordLastError();
  std::int32_t seenThere = -1;
  std::thread([&] {
    seenThere = MErrors::LastRecordedError();
    p::SetLastError(6);
    MErrors::RecordLastError();
  }).join();
  EXPECT_EQ(seenThere, 0);
  EXPECT_EQ(MErrors::LastRecordedError(), 5);
}

TEST(ApiRaise, RaisesTheSystemErrorWithItsText) {
  EXPECT_NO_THROW(MErrors::ApiRaiseIf(0));
  EXPECT_NO_THROW(GErrors.ApiRaiseIf(0));
  const struct {
    std::int32_t code;
    std::int32_t number;
  } cases[] = {{2, -2147192502}, {13, -2147192491}, {-5, 28995}};
  for (const auto& c : cases) {
    for (int viaGlobal = 0; viaGlobal < 2; ++viaGlobal) {
      try {
        if (viaGlobal) {
          GErrors.ApiRaiseIf(c.code);
        } else {
          MErrors::ApiRaise(c.code);
        }
        ADD_FAILURE() << "nothing raised for " << c.code;
      } catch (const RaisedError& e) {
        EXPECT_EQ(e.Number(), c.number) << c.code;
        EXPECT_EQ(e.Description(), MErrors::ApiError(c.code)) << c.code;
        EXPECT_EQ(e.Source(), L"Corvane");
      }
    }
  }
}

}  // namespace
}  // namespace corvane
