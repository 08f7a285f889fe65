// The shared base layer: the code page table both ways, the Unicode forms
// with their edge cases, hex digits, root-key lookup and registry name
// folding, reading a stream whole. Pure functions, so it runs on both
// backends.
#include <gtest/gtest.h>

#include <sstream>
#include <streambuf>
#include <string>

#include "base/HexDigits.h"
#include "base/ReadAll.h"
#include "base/RegistryNames.h"
#include "base/RootKeys.h"
#include "base/Unicode.h"
#include "base/Windows1252.h"

namespace corvane::base {
namespace {

TEST(Windows1252, EveryByteRoundTripsAndOthersHaveNone) {
  for (int b = 0; b < 256; ++b) {
    const char16_t u = Windows1252ToUnicode(static_cast<std::uint8_t>(b));
    EXPECT_EQ(UnicodeToWindows1252(u), b) << b;
  }
  // The five bytes Windows leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D)
  // stand for the C1 control of the same value.
  const std::pair<std::uint8_t, char16_t> pairs[] = {
      {0x41, u'A'},   {0x80, 0x20AC}, {0x81, 0x0081}, {0x8D, 0x008D},
      {0x8F, 0x008F}, {0x90, 0x0090}, {0x9D, 0x009D}, {0x9F, 0x0178},
      {0x92, 0x2019}, {0xA0, 0x00A0}, {0xE9, 0x00E9}, {0xFF, 0x00FF}};
  for (const auto& [byte, unit] : pairs) {
    EXPECT_EQ(Windows1252ToUnicode(byte), unit) << int{byte};
  }
  for (char32_t c : {U'\u0100', U'\u4E2D', U'\uFFFD', U'\U0001F600'}) {
    EXPECT_EQ(UnicodeToWindows1252(c), -1) << std::hex << unsigned(c);
  }
}

TEST(Unicode, WellFormedTextRoundTripsThroughEveryForm) {
  const std::string utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  const std::u16string utf16 = u"a\u00E9\u20AC\U0001F600";
  const std::wstring wide = L"a\u00E9\u20AC\U0001F600";
  EXPECT_EQ(Utf8ToUtf16(utf8), utf16);
  EXPECT_EQ(Utf16ToUtf8(utf16), utf8);
  EXPECT_EQ(Utf8ToWide(utf8), wide);
  EXPECT_EQ(WideToUtf8(wide), utf8);
  EXPECT_EQ(Utf16ToWide(utf16), wide);
  EXPECT_EQ(WideToUtf16(wide), utf16);
}

TEST(Unicode, MalformedUtf8BecomesReplacementCharacters) {
  // A stray continuation, an overlong '/', a truncated sequence, a byte
  // that can never lead, and a sequence beyond Unicode.
  EXPECT_EQ(Utf8ToUtf16("\x80x\xC0\xAFy\xE2\x82"),
            u"\uFFFDx\uFFFD\uFFFDy\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xF5\x80\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
}

TEST(Unicode, LoneSurrogatesSurviveAndShowInUtf8) {
  // The registry stores unpaired surrogates; a name holding one must come
  // out of every conversion as something, and back where it can.
  const std::u16string lone = {u'a', char16_t(0xDC00), char16_t(0xD800)};
  EXPECT_EQ(Utf16ToUtf8(lone), "a\xED\xB0\x80\xED\xA0\x80");
  EXPECT_EQ(WideToUtf16(Utf16ToWide(lone)), lone);
  // High then low is one character; low then high is two lone halves.
  const std::u16string pair = {char16_t(0xD83D), char16_t(0xDE00)};
  EXPECT_EQ(Utf16ToUtf8(pair), "\xF0\x9F\x98\x80");
  std::u16string out;
  AppendUtf16(out, U'\U0001F600');
  AppendUtf16(out, char32_t(0x110000));
  EXPECT_EQ(out, u"\U0001F600\uFFFD");
  EXPECT_EQ(CombineSurrogates(0xD83D, 0xDE00), U'\U0001F600');
}

TEST(HexDigits, EveryCharacterTypeReadsTheSameDigits) {
  EXPECT_EQ(HexDigitValue('0'), 0u);
  EXPECT_EQ(HexDigitValue(u'a'), 10u);
  EXPECT_EQ(HexDigitValue(L'F'), 15u);
  for (char32_t c : {U'g', U'G', U'/', U':', U'@', U'`', U' ', U'\uFF10',
                     char32_t(0x130), char32_t(0x10030)}) {
    EXPECT_EQ(HexDigitValue(c), kNotHex) << std::hex << unsigned(c);
  }
  // Digits a wide unit would reach by truncation to a byte are no digits.
  EXPECT_EQ(HexDigitValue(char16_t(0x0141)), kNotHex);
  EXPECT_EQ(kLowerHexDigits[HexDigitValue('c')], 'c');
}

TEST(RootKeys, FoundByEitherNameInAnyCaseAndByValue) {
  ASSERT_NE(FindRootKey(u"hklm"), nullptr);
  EXPECT_EQ(FindRootKey(u"hklm")->value, 0x80000002u);
  EXPECT_EQ(FindRootKey(L"Hkey_Classes_Root")->value, 0x80000000u);
  EXPECT_EQ(FindRootKey(u"HKEY_DYN_DATA")->value, 0x80000006u);
  for (const char16_t* wrong : {u"", u"HKLM\\", u"HKEY_LOCAL", u"HKLMX",
                                u"\uFF28KLM" /* fullwidth H */}) {
    EXPECT_EQ(FindRootKey(std::u16string_view(wrong)), nullptr);
  }
  for (const RootKey& root : kRootKeys) {
    EXPECT_EQ(RootKeyOf(root.value), &root);
  }
  EXPECT_EQ(RootKeyOf(0x7FFFFFFFu), nullptr);
  EXPECT_EQ(RootKeyOf(0x80000007u), nullptr);
}

TEST(RegistryNames, FoldToUppercaseLikeWindows) {
  struct Case {
    char16_t lower, upper;
  } same[] = {
      {u'a', u'A'},           {u'z', u'Z'},           {0xE9, 0xC9} /* é */,
      {0xFE, 0xDE} /* þ */,   {0xFF, 0x178} /* ÿ */,  {0x161, 0x160} /* š */,
      {0x153, 0x152} /* œ */, {0x17E, 0x17D} /* ž */, {0x142, 0x141} /* ł */,
      {0x3C9, 0x3A9} /* ω */, {0x3C2, 0x3A3} /* ς */, {0x3AC, 0x386} /* ά */,
      {0x44F, 0x42F} /* я */, {0x451, 0x401} /* ё */, {0xFF41, 0xFF21},
  };
  for (const Case& c : same) {
    EXPECT_EQ(FoldChar(c.lower), c.upper) << std::hex << int(c.lower);
    EXPECT_EQ(FoldChar(c.upper), c.upper) << std::hex << int(c.upper);
  }
  // Characters that must stay themselves: no uppercase of their own, or
  // one Windows doesn't fold to.
  for (char16_t c : {u'_', u'[', u'@', char16_t{0xF7} /* ÷ */,
                     char16_t{0xDF} /* ß */, char16_t{0xB5} /* µ */,
                     char16_t{0x131} /* ı */, char16_t{0x138} /* ĸ */}) {
    EXPECT_EQ(FoldChar(c), c) << std::hex << int(c);
  }
  EXPECT_EQ(CompareNames(u"abc", u"ABC"), 0);
  EXPECT_LT(CompareNames(u"ab", u"ABC"), 0);
  EXPECT_GT(CompareNames(u"_", u"z"), 0);
}

// A pipe: reads, but can't tell where it is.
class UnseekableBuffer : public std::stringbuf {
 public:
  using std::stringbuf::stringbuf;

 protected:
  pos_type seekoff(off_type, std::ios::seekdir, std::ios::openmode) override {
    return pos_type(-1);
  }
};

TEST(ReadAll, ReadsTheRestFromWhereTheStreamIsSeekableOrNot) {
  std::string text(200000, '\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char>(i * 7);
  }
  std::istringstream file(text);
  file.ignore(3);
  UnseekableBuffer pipeBuffer(text);
  std::istream pipe(&pipeBuffer);
  pipe.ignore(3);
  for (std::istream* in : {static_cast<std::istream*>(&file), &pipe}) {
    const std::vector<std::uint8_t> bytes = ReadAll(*in);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), text.substr(3));
    EXPECT_TRUE(in->eof());
    EXPECT_FALSE(in->bad());
  }
}

}  // namespace
}  // namespace corvane::base
