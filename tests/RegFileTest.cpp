// The .reg reader and writer on their own: what goes in comes out byte for
// byte, files written elsewhere (REGEDIT4, 8-bit, hand-edited) read as they
// mean, and broken files are refused with the line that is wrong. Plain
// bytes in and out, so it runs on both backends.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/Unicode.h"
#include "regfile/RegFile.h"

namespace corvane::regfile {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::u16string U16(std::string_view s) { return base::Utf8ToUtf16(s); }

Bytes Le(std::u16string_view s, bool terminate = true) {
  Bytes b;
  for (char16_t c : s) b.push_back(std::uint8_t(c)), b.push_back(c >> 8);
  if (terminate) b.push_back(0), b.push_back(0);
  return b;
}

// A UTF-16LE file with its byte-order mark, from UTF-8 text.
Bytes Utf16File(std::string_view text) {
  Bytes b = {0xFF, 0xFE};
  for (std::uint8_t x : Le(U16(text), false)) b.push_back(x);
  return b;
}

Bytes Ansi(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::string Hex(std::span<const std::uint8_t> d) {
  std::string s;
  char buf[4];
  for (auto x : d) std::snprintf(buf, sizeof buf, "%02x", x), s += buf;
  return s;
}

std::string Narrow(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) {
    if (c < 0x80) {
      out += char(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "<%04x>", unsigned(c));
      out += buf;
    }
  }
  return out;
}

// Records what the reader reports, one line per call.
struct Recorder : RegSink {
  std::vector<std::string> events;
  std::string fail_on;  // an OnKey path to refuse
  std::string OnKey(std::u16string_view p) override {
    events.push_back("K " + Narrow(p));
    return Narrow(p) == fail_on ? "no such root" : "";
  }
  std::string OnDeleteKey(std::u16string_view p) override {
    events.push_back("-K " + Narrow(p));
    return {};
  }
  std::string OnValue(std::u16string_view n, std::uint32_t t,
                      std::span<const std::uint8_t> d) override {
    events.push_back("V " + Narrow(n) + " " + std::to_string(t) + " " + Hex(d));
    return {};
  }
  std::string OnDeleteValue(std::u16string_view n) override {
    events.push_back("-V " + Narrow(n));
    return {};
  }
};

std::vector<std::string> Read(const Bytes& file) {
  Recorder r;
  const std::string err = ReadRegFile(file, "t.reg", r);
  EXPECT_EQ(err, "");
  return r.events;
}

std::string ReadError(const Bytes& file) {
  Recorder r;
  return ReadRegFile(file, "t.reg", r);
}

struct Value {
  std::u16string name;
  std::uint32_t type;
  Bytes data;
};

// Everything the writer must carry unchanged: each type, data that a quoted
// string would not reproduce, and names that need escaping.
std::vector<Value> TrickyValues() {
  Bytes big(300);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = std::uint8_t(i * 7);
  return {
      {u"", 1, Le(u"default")},
      {u"@", 1, Le(u"a value named @")},
      {u"plain", 1, Le(u"C:\\Program Files\\\"quoted\"")},
      {u"empty string", 1, Le(u"")},
      {u"zero-length sz", 1, {}},
      {u"unterminated", 1, Le(u"abc", false)},
      {u"odd size", 1, {0x41, 0x00, 0x42}},
      {u"embedded nul", 1, Le(std::u16string(u"a\0b", 3))},
      {u"line breaks", 1, Le(u"one\r\ntwo\nthree")},
      {U16("ünïcødé ☃ \xF0\x9F\x98\x80"), 1,
       Le(U16("Ωmega ☃ \xF0\x9F\x98\x80"))},
      {u"lone surrogate", 1, Le(std::u16string(1, char16_t(0xD800)) + u"x")},
      {u"back\\slash \"quote\" \r\n name", 1, Le(u"x")},
      {u"expand", 2, Le(u"%SystemRoot%\\system32")},
      {u"binary", 3, big},
      {u"empty binary", 3, {}},
      {u"dword", 4, {0x78, 0x56, 0x34, 0x12}},
      {u"dword max", 4, {0xFF, 0xFF, 0xFF, 0xFF}},
      {u"short dword", 4, {0x01, 0x02, 0x03}},
      {u"long dword", 4, {1, 2, 3, 4, 5}},
      {u"big endian", 5, {0x12, 0x34, 0x56, 0x78}},
      {u"link", 6, Le(u"\\Registry\\Machine", false)},
      {u"multi", 7, Le(std::u16string(u"one\0two\0", 8))},
      {u"resource list", 8, {1, 2}},
      {u"qword", 11, {1, 2, 3, 4, 5, 6, 7, 8}},
      {u"none", 0, {}},
      {u"odd type", 0xFFFFFFFFu, {0xAB}},
  };
}

// String data written without its NUL gains one when read, as Windows
// imports it; everything else reads back as written.
Bytes AsRead(std::uint32_t type, Bytes data) {
  const std::size_t n = data.size();
  const bool isString = type == 1 || type == 2 || type == 7;
  if (isString && n > 0 && !(n >= 2 && data[n - 1] == 0 && data[n - 2] == 0)) {
    data.push_back(0), data.push_back(0);
  }
  return data;
}

TEST(RegFile, EveryValueSurvivesWriteReadWrite) {
  const std::vector<std::u16string> keys = {
      u"HKEY_CURRENT_USER\\Software\\Corvane",
      U16("HKEY_CURRENT_USER\\Software\\Ключ ☃ [brackets]"),
      u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Empty"};
  RegWriter w;
  std::vector<std::string> expected;
  for (const auto& k : keys) {
    ASSERT_TRUE(w.Key(k));
    expected.push_back("K " + Narrow(k));
    if (&k != &keys.back()) {
      for (const auto& v : TrickyValues()) {
        w.Value(v.name, v.type, v.data);
        expected.push_back("V " + Narrow(v.name) + " " +
                           std::to_string(v.type) + " " +
                           Hex(AsRead(v.type, v.data)));
      }
    }
  }
  const std::string file = w.Finish();
  const Bytes bytes(file.begin(), file.end());
  EXPECT_EQ(Read(bytes), expected);

  // Written again, what was read reads the same and writes the same bytes.
  struct Rewriter : RegSink {
    RegWriter w;
    std::string OnKey(std::u16string_view p) override {
      w.Key(p);
      return {};
    }
    std::string OnDeleteKey(std::u16string_view) override { return "?"; }
    std::string OnValue(std::u16string_view n, std::uint32_t t,
                        std::span<const std::uint8_t> d) override {
      w.Value(n, t, d);
      return {};
    }
    std::string OnDeleteValue(std::u16string_view) override { return "?"; }
  } again, third;
  ASSERT_EQ(ReadRegFile(bytes, "t.reg", again), "");
  const std::string second = again.w.Finish();
  const Bytes secondBytes(second.begin(), second.end());
  EXPECT_EQ(Read(secondBytes), expected);
  ASSERT_EQ(ReadRegFile(secondBytes, "t.reg", third), "");
  EXPECT_EQ(third.w.Finish(), second);
}

// The layout regedit and `reg export` produce, so that the file diffs cleanly
// against theirs and `reg import` takes it.
TEST(RegFile, WritesTheExportLayout) {
  Bytes bin;
  for (int i = 0; i <= 0x32; ++i) bin.push_back(std::uint8_t(i));
  RegWriter w;
  // A line break would end the key's line early: refused, and nothing written.
  EXPECT_FALSE(w.Key(u"HKEY_CURRENT_USER\\a\nb"));
  ASSERT_TRUE(w.Key(u"HKEY_CURRENT_USER\\Software\\Probe"));
  w.Value(u"", 2, Le(u"%PATH%;x"));
  w.Value(u"bin", 3, bin);
  w.Value(u"d", 4, Bytes{0x78, 0x56, 0x34, 0x12});
  w.Value(u"s", 1, Le(u"a\\b\"c"));
  w.Value(u"z", 4, Bytes{0x00, 0x01});
  w.Key(u"HKEY_CURRENT_USER\\Software\\Probe\\sub");
  const std::string file = w.Finish();
  const Bytes expected = Utf16File(
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\Software\\Probe]\r\n"
      "@=hex(2):25,00,50,00,41,00,54,00,48,00,25,00,3b,00,78,00,00,00\r\n"
      "\"bin\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,"
      "12,13,14,15,16,\\\r\n"
      "  17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,"
      "2d,2e,2f,\\\r\n"
      "  30,31,32\r\n"
      "\"d\"=dword:12345678\r\n"
      "\"s\"=\"a\\\\b\\\"c\"\r\n"
      "\"z\"=hex(4):00,01\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\Software\\Probe\\sub]\r\n"
      "\r\n");
  EXPECT_EQ(Bytes(file.begin(), file.end()), expected);
}

TEST(RegFile, ReadsRegedit4InTheAnsiCodePage) {
  // 0x80 is the euro sign and 0xE9 'é' in Windows-1252; hex(2) and hex(7)
  // bytes are ANSI too, widened to UTF-16, while hex(3) stays as it is.
  const Bytes file = Ansi(
      "REGEDIT4\r\n\r\n"
      "[HKEY_CURRENT_USER\\Caf\xE9]\r\n"
      "\"pr\xE9x\"=\"\x80 5\"\r\n"
      "\"e\"=hex(2):41,80,00\r\n"
      "\"m\"=hex(7):61,00,00\r\n"
      "\"b\"=hex:80,e9\r\n"
      "\"d\"=dword:1\r\n");
  EXPECT_EQ(Read(file),
            (std::vector<std::string>{
                "K HKEY_CURRENT_USER\\Caf<00e9>",
                "V pr<00e9>x 1 ac20200035000000", "V e 2 4100ac200000",
                "V m 7 610000000000", "V b 3 80e9", "V d 4 01000000"}));
}

TEST(RegFile, ReadsVersion5InEightBitsAndUtf16Alike) {
  const std::string text =
      "Windows Registry Editor Version 5.00\n"
      "; a comment line\n"
      "  [HKEY_CURRENT_USER\\A]  \n"
      "\"x\" = \"1\\r\\n2\\q\"  ; trailing comment\n"
      "\"bin\"=hex:01,02,\\\n"
      "    03,\\\n"
      "  04\n"
      "\"t\"=hex(b):1,2,3,4,5,6,7,8\n"
      "\"gone\"=-\n"
      "[-HKEY_CURRENT_USER\\B]\n"
      "[HKEY_CURRENT_USER\\C]\r"
      "@=DWORD:ABCDEF\r";
  const std::vector<std::string> expected = {"K HKEY_CURRENT_USER\\A",
                                             "V x 1 31000d000a00320071000000",
                                             "V bin 3 01020304",
                                             "V t 11 0102030405060708",
                                             "-V gone",
                                             "-K HKEY_CURRENT_USER\\B",
                                             "K HKEY_CURRENT_USER\\C",
                                             "V  4 efcdab00"};
  EXPECT_EQ(Read(Ansi(text)), expected);
  EXPECT_EQ(Read(Utf16File(text)), expected);
}

// The syntax Windows' import reads beyond what regedit writes, each case in
// an 8-bit and a UTF-16 file alike.
TEST(RegFile, ReadsWhatWindowsReads) {
  const std::string key = "[HKEY_CURRENT_USER\\A]\r\n";
  const std::string v5 = "Windows Registry Editor Version 5.00\r\n" + key;
  const std::string kA = "K HKEY_CURRENT_USER\\A";
  struct Case {
    const char* what;
    std::string text;
    std::vector<std::string> events;
  };
  // The default value set to `text` (ASCII) by a Windows 3.1 line.
  auto sz = [](std::string_view text) { return "V  1 " + Hex(Le(U16(text))); };
  const std::vector<Case> cases = {
      {"any first line beginning with REGEDIT",
       "REGEDIT3\r\n" + key + "\"s\"=hex(1):41\r\n",
       {kA, "V s 1 41000000"}},
      {"a blank inside the header", "REGEDIT 4\r\n" + key, {kA}},
      {"header with more after it", "REGEDIT4 FOO\r\n" + key, {kA}},
      {"blanks before the header", " \tREGEDIT4\r\n" + key, {kA}},
      {"Windows 3.1",
       "REGEDIT\r\n"
       "HKEY_CLASSES_ROOT\\.txt = txtfile\r\n"
       "\r\n; comment\r\n"
       "HKEY_CLASSES_ROOT\\a =no space\r\n"
       "HKEY_CLASSES_ROOT\\b =  one space kept \r\n"
       "HKEY_CLASSES_ROOT\\c\t=\ttab\r\n"
       "HKEY_CLASSES_ROOT\\d  no equals = \"raw\\\" ;x\r\n"
       "HKEY_CLASSES_ROOT\\e\\\\f\r\n"
       "HKEY_CLASSES_ROOT = root\r\n",
       {"K HKEY_CLASSES_ROOT\\.txt", sz("txtfile"), "K HKEY_CLASSES_ROOT\\a",
        sz("no space"), "K HKEY_CLASSES_ROOT\\b", sz(" one space kept "),
        "K HKEY_CLASSES_ROOT\\c", sz("\ttab"), "K HKEY_CLASSES_ROOT\\d",
        sz("no equals = \"raw\\\" ;x"), "K HKEY_CLASSES_ROOT\\e\\\\f", sz(""),
        "K HKEY_CLASSES_ROOT", sz("root")}},
      {"comments with # and ;",
       v5 + "#one\r\n  # two\r\n\t;three\r\n\"d\"=dword: \t2a ;c\r\n",
       {kA, "V d 4 2a000000"}},
      {"blanks around hex bytes and a comment after a continuation",
       v5 + "\"b\"=hex: 01 ,\t02 , \\ ; more below\r\n"
            "; first-column comment lines are passed over\r\n"
            ";\r\n"
            "  03,04,\\\r\n"
            "  05\r\n",
       {kA, "V b 3 0102030405"}},
      {"a continuation after a byte goes on at the next line's comma",
       v5 + "\"b\"=hex:01,02\\\r\n  ,03\\\r\n,04 \\\r\n",
       {kA, "V b 3 01020304"}},
  };
  for (const auto& c : cases) {
    for (bool utf16 : {false, true}) {
      Recorder r;
      const std::string err =
          ReadRegFile(utf16 ? Utf16File(c.text) : Ansi(c.text), "t.reg", r);
      EXPECT_EQ(err, "") << c.what << (utf16 ? " (UTF-16)" : " (8-bit)");
      EXPECT_EQ(r.events, c.events)
          << c.what << (utf16 ? " (UTF-16)" : " (8-bit)");
    }
  }
}

// Non-empty string data gains a NUL, counted in UTF-16 units: the bytes of
// a Version 5.00 file are those units, the bytes of a REGEDIT4 one ANSI
// characters.
TEST(RegFile, StringDataInHexGainsItsTerminator) {
  const std::string values =
      "[HKEY_CURRENT_USER\\A]\r\n"
      "\"sz\"=hex(1):41,00,42,00\r\n"
      "\"done\"=hex(1):41,00,00,00\r\n"
      "\"empty\"=hex(1):\r\n"
      "\"odd\"=hex(2):41,00,42\r\n"
      "\"multi\"=hex(7):41,00,00,00,42,00\r\n"
      "\"binary\"=hex:41,00,42,00\r\n"
      "\"link\"=hex(6):41,00\r\n";
  const std::vector<std::string> utf16 = {
      "K HKEY_CURRENT_USER\\A", "V sz 1 410042000000",
      "V done 1 41000000",      "V empty 1 ",
      "V odd 2 4100420000",     "V multi 7 4100000042000000",
      "V binary 3 41004200",    "V link 6 4100"};
  const std::vector<std::string> ansi = {
      "K HKEY_CURRENT_USER\\A",    "V sz 1 4100000042000000",
      "V done 1 4100000000000000", "V empty 1 ",
      "V odd 2 4100000042000000",  "V multi 7 410000000000000042000000",
      "V binary 3 41004200",       "V link 6 4100"};
  const std::string v5 = "Windows Registry Editor Version 5.00\r\n";
  EXPECT_EQ(Read(Utf16File(v5 + values)), utf16);
  EXPECT_EQ(Read(Ansi("REGEDIT4\r\n" + values)), ansi);
  EXPECT_EQ(Read(Ansi(v5 + values)), ansi);
}

TEST(RegFile, ReportsTheLineThatIsWrong) {
  const std::string head = "Windows Registry Editor Version 5.00\r\n\r\n";
  const std::string key = "[HKEY_CURRENT_USER\\A]\r\n";
  struct Case {
    std::string text;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"", "t.reg:1: not a registry file"},
      {"REDIT4\r\n", "t.reg:1: not a registry file"},
      {"\r\n\r\nhello\r\n", "t.reg:1: not a registry file"},
      {"\r\nREGEDIT4\r\n", "t.reg:1: not a registry file"},
      {"regedit4\r\n", "t.reg:1: not a registry file"},
      {"REGEDIT\r\nHKEY_CLASSES_ROOT\\a = b\r\n  HKEY_CLASSES_ROOT\\c\r\n",
       "t.reg:3: expected a line beginning with 'HKEY_CLASSES_ROOT'"},
      {"REGEDIT\r\n[HKEY_CLASSES_ROOT\\a]\r\n",
       "t.reg:2: expected a line beginning"},
      {"REGEDIT \r\nHKEY_CLASSES_ROOT\\a = b\r\n", "t.reg:2: expected '[key]'"},
      {head + "junk\r\n", "t.reg:3: expected '[key]'"},
      {head + "[HKEY_CURRENT_USER\\A\r\n", "t.reg:3: missing ']'"},
      {head + "[HKEY_CURRENT_USER\\A] x\r\n",
       "t.reg:3: unexpected text after ']'"},
      {head + "[]\r\n", "t.reg:3: empty key name"},
      {head + "\"v\"=dword:1\r\n", "t.reg:3: value outside a key"},
      {head + key + "\"v=dword:1\r\n", "t.reg:4: missing '\"'"},
      {head + key + "\"v\" dword:1\r\n", "t.reg:4: expected '='"},
      {head + key + "\"v\"=\"abc\r\n", "t.reg:4: missing '\"'"},
      {head + key + "\"v\"=\"abc\" x\r\n", "t.reg:4: unexpected text"},
      {head + key + "\"v\"=dword:\r\n", "t.reg:4: expected hex digits"},
      {head + key + "\"v\"=dword:123456789\r\n", "t.reg:4: more than 8"},
      {head + key + "\"v\"=dword:12x\r\n", "t.reg:4: unexpected text"},
      {head + key + "\"v\"=qword:1\r\n", "t.reg:4: unknown value data"},
      {head + key + "\"v\"=hex():00\r\n", "t.reg:4: expected a hex type"},
      {head + key + "\"v\"=hex(4):00\r\n\"w\"=hex(1)00\r\n",
       "t.reg:5: expected ':'"},
      {head + key + "\"v\"=hex:00,\\\r\n  01,zz\r\n",
       "t.reg:5: expected a hex byte"},
      {head + key + "\"v\"=hex:00 01\r\n", "t.reg:4: expected ','"},
      {head + key + "\"v\"=hex:001\r\n", "t.reg:4: expected ','"},
      {head + key + "\"v\"=hex:00,\\ x\r\n",
       "t.reg:4: unexpected text after '\\'"},
      {head + key + "\"v\"=hex:00,\\#x\r\n  01\r\n",
       "t.reg:4: unexpected text after '\\'"},
      // Where Windows would end a continued value early or drop it.
      {head + key + "\"v\"=hex:00,\\\r\n\r\n  01\r\n",
       "t.reg:5: a blank line inside a continued value"},
      {head + key + "\"v\"=hex:00,\\\r\n \t\r\n  01\r\n",
       "t.reg:5: a blank line inside a continued value"},
      {head + key + "\"v\"=hex:00,\\\r\n;ok\r\n  ;c\r\n  01\r\n",
       "t.reg:6: a comment line inside a continued value"},
      {head + key + "\"v\"=hex:00,\\\r\n#c\r\n  01\r\n",
       "t.reg:5: a comment line inside a continued value"},
      {head + key + "\"v\"=hex:00,\\\r\n  \\\r\n  01\r\n",
       "t.reg:5: a lone '\\' inside a continued value"},
      {head + key + "\"v\"=hex:00,01\\\r\n  02\r\n", "t.reg:5: expected ','"},
      {head + key + "\"v\"=\"a\\0b\"\r\n", "t.reg:4: '\\0' in a quoted string"},
      {head + key + "\"a\\0\"=\"b\"\r\n", "t.reg:4: '\\0' in a quoted string"},
      {head + key + "\"v\"=hex:01,,02\r\n", "t.reg:4: expected a hex byte"},
      {head + key + "\"v\"=- x\r\n", "t.reg:4: unexpected text after '-'"},
      {head + "[-HKEY_CURRENT_USER\\A]\r\n\"v\"=\"x\"\r\n",
       "t.reg:4: value outside a key"},
  };
  for (const auto& c : cases) {
    for (bool utf16 : {false, true}) {
      const std::string err =
          ReadError(utf16 ? Utf16File(c.text) : Ansi(c.text));
      EXPECT_EQ(err.rfind(c.error, 0), 0u)
          << (utf16 ? "UTF-16: " : "8-bit: ") << c.text << "\n got: " << err;
    }
  }
}

TEST(RegFile, ReportsSinkRefusalsAndTruncatedUtf16) {
  Recorder r;
  r.fail_on = "HKEY_NOWHERE\\x";
  EXPECT_EQ(
      ReadRegFile(Ansi("REGEDIT4\n\n[HKEY_CURRENT_USER]\n[HKEY_NOWHERE\\x]\n"),
                  "h.reg", r),
      "h.reg:4: no such root");

  Bytes odd = Utf16File("Windows Registry Editor Version 5.00\r\n\r\n");
  odd.push_back('[');
  EXPECT_EQ(ReadError(odd),
            "t.reg:3: the file ends in the middle of a UTF-16 character");
}

}  // namespace
}  // namespace corvane::regfile
