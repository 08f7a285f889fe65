// The wide registry functions, RegGetValue, RegDeleteTree and FormatMessageW,
// checked the same way against the emulated registry and, in the Windows
// build, against the system's own (run under Wine). Text is wchar_t: UTF-16
// on Windows, UTF-32 on Linux, where the emulation keeps UTF-16 underneath.
// Either way a name is counted in wchar_t units and string data in
// sizeof(wchar_t) bytes a unit, so the cases work their sizes out from the
// texts rather than writing numbers down.
//
// Where Wine parts from Microsoft's documentation, the case follows the
// documentation, runs on the emulated backend only and says what Wine does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "support/ScratchKey.h"

namespace corvane::platform {
namespace {

using testing::ScratchKey;

constexpr DWORD kUnit = sizeof(wchar_t);
constexpr LONG kDatatypeMismatch = 1629;

// The bytes a wide text takes as string data, with `nuls` terminators.
DWORD DataSize(std::wstring_view text, std::size_t nuls = 1) {
  return static_cast<DWORD>((text.size() + nuls) * kUnit);
}

// Writes exactly the units of `data`: pass the terminator in it when wanted.
LONG SetUnits(HKEY key, const wchar_t* name, std::wstring_view data,
              DWORD type = REG_SZ) {
  return RegSetValueExW(key, name, 0, type,
                        reinterpret_cast<const BYTE*>(data.data()),
                        static_cast<DWORD>(data.size() * kUnit));
}

LONG SetText(HKEY key, const wchar_t* name, std::wstring_view text,
             DWORD type = REG_SZ) {
  return SetUnits(key, name, std::wstring(text) + L'\0', type);
}

LONG SetDword(HKEY key, const wchar_t* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// A string value's units as stored, terminators included.
std::wstring QueryUnits(HKEY key, const wchar_t* name, DWORD* type = nullptr) {
  std::vector<wchar_t> buffer(512);
  DWORD size = static_cast<DWORD>(buffer.size() * kUnit);
  const LONG status = RegQueryValueExW(
      key, name, nullptr, type, reinterpret_cast<BYTE*>(buffer.data()), &size);
  EXPECT_EQ(status, ERROR_SUCCESS);
  if (status != ERROR_SUCCESS) return {};
  return std::wstring(buffer.data(), size / kUnit);
}

// The names of a key's subkeys, or of its values, by position.
std::vector<std::wstring> Names(HKEY key, bool values = false) {
  std::vector<std::wstring> names;
  wchar_t name[256];
  for (DWORD i = 0, length = 256;
       (values ? RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr,
                               nullptr)
               : RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr,
                               nullptr)) == ERROR_SUCCESS;
       ++i, length = 256) {
    names.emplace_back(name, length);
  }
  return names;
}
std::vector<std::wstring> SubkeyNames(HKEY key) { return Names(key); }
std::vector<std::wstring> ValueNames(HKEY key) { return Names(key, true); }

// A key's own class through `buffer`, with every other part left out.
LONG QueryClass(HKEY key, wchar_t* buffer, DWORD* length) {
  return RegQueryInfoKeyW(key, buffer, length, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

// RegGetValueW's status alone, for a value of the key's own.
LONG GetStatus(HKEY key, const wchar_t* name, DWORD flags) {
  return RegGetValueW(key, nullptr, name, flags, nullptr, nullptr, nullptr);
}

bool KeyExists(HKEY parent, const wchar_t* path) {
  HKEY key = 0;
  if (RegOpenKeyExW(parent, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

class RegistryWideConformance : public ::testing::Test {
 protected:
  HKEY Scratch() const { return scratch_.Handle(); }
  HKEY Create(const wchar_t* path, REGSAM access = KEY_ALL_ACCESS,
              wchar_t* className = nullptr) {
    HKEY key = 0;
    EXPECT_EQ(RegCreateKeyExW(Scratch(), path, 0, className, 0, access, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    return key;
  }

  ScratchKey scratch_;
};

TEST_F(RegistryWideConformance, NonLatinNamesAndDataRoundTrip) {
  // "Ключ-鍵-😀": Cyrillic, a CJK ideograph and a character beyond the BMP.
  const std::wstring keyName = L"\u041A\u043B\u044E\u0447-\u9375-\U0001F600";
  const std::wstring valueName = L"\u0417\u043D\u0430\u0447 \U0001F511";
  const std::wstring text = L"\u65E5\u672C\u8A9E \U0001F600 \u00FC";
  const std::wstring multi(L"\u03B1\0\U0001F600\0\0", 3 + 2 * (kUnit == 2));

  HKEY key = 0;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(Scratch(), keyName.c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, DWORD{REG_CREATED_NEW_KEY});
  // Created first, so that creation order and Wine's sorted order agree.
  ASSERT_EQ(SetUnits(key, L"multi", multi, REG_MULTI_SZ), ERROR_SUCCESS);
  ASSERT_EQ(SetText(key, valueName.c_str(), text), ERROR_SUCCESS);
  ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  // Found again with its Cyrillic letters in the other case.
  const std::wstring upper = L"\u041A\u041B\u042E\u0427-\u9375-\U0001F600";
  ASSERT_EQ(RegOpenKeyExW(Scratch(), upper.c_str(), 0, KEY_READ, &key),
            ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(Scratch()), std::vector<std::wstring>{keyName});
  EXPECT_EQ(ValueNames(key), (std::vector<std::wstring>{L"multi", valueName}));

  DWORD type = 0, size = 0;
  ASSERT_EQ(
      RegQueryValueExW(key, valueName.c_str(), nullptr, &type, nullptr, &size),
      ERROR_SUCCESS);
  EXPECT_EQ(type, DWORD{REG_SZ});
  EXPECT_EQ(size, DataSize(text));
  EXPECT_EQ(QueryUnits(key, valueName.c_str()), text + L'\0');
  EXPECT_EQ(QueryUnits(key, L"MULTI", &type), multi);
  EXPECT_EQ(type, DWORD{REG_MULTI_SZ});
  RegCloseKey(key);
}

TEST_F(RegistryWideConformance, UnpairedSurrogatesComeBackAsThemselves) {
  std::wstring name = L"lone-";
  name += static_cast<wchar_t>(0xD83D);
  name += L"-end";
  // A low half alone in the middle and a high half right before the NUL.
  std::wstring data = L"x";
  data += static_cast<wchar_t>(0xDC00);
  data += L"y";
  data += static_cast<wchar_t>(0xD800);

  HKEY key = Create(name.c_str());
  ASSERT_EQ(SetText(key, name.c_str(), data), ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(Scratch()), std::vector<std::wstring>{name});
  EXPECT_EQ(ValueNames(key), std::vector<std::wstring>{name});
  EXPECT_EQ(QueryUnits(key, name.c_str()), data + L'\0');
  RegCloseKey(key);

  // The ANSI functions show each half as "?".
  char ansi[32];
  DWORD length = sizeof ansi;
  ASSERT_EQ(RegEnumKeyExA(Scratch(), 0, ansi, &length, nullptr, nullptr,
                          nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(ansi, length), "lone-?-end");
}

TEST_F(RegistryWideConformance, AnsiAndWideViewsOfTheSameValue) {
  // Written wide: "café Ж" names a value holding "Grüße €5 Ж 😀".
  const std::wstring text = L"Gr\u00FC\u00DFe \u20AC5 \u0416 \U0001F600";
  ASSERT_EQ(SetText(Scratch(), L"caf\u00E9 \u0416", text), ERROR_SUCCESS);
  ASSERT_EQ(SetText(Scratch(), L"plain", text), ERROR_SUCCESS);

  // Read through the ANSI code page: what it lacks is "?", one for each
  // UTF-16 unit, so the emoji's two halves give two.
  const std::string ansi = std::string(
                               "Gr\xFC\xDF"
                               "e \x80"
                               "5 ? ??") +
                           '\0';
  char name[32];
  BYTE data[64];
  DWORD nameLength = sizeof name, size = sizeof data, type = 0;
  ASSERT_EQ(RegEnumValueA(Scratch(), 0, name, &nameLength, nullptr, &type, data,
                          &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(name, nameLength), "caf\xE9 ?");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), ansi);
  // The "?" is a question mark now, so that name finds nothing.
  EXPECT_EQ(RegQueryValueExA(Scratch(), "caf\xE9 ?", nullptr, nullptr, nullptr,
                             nullptr),
            ERROR_FILE_NOT_FOUND);
  size = 0;
  ASSERT_EQ(
      RegQueryValueExA(Scratch(), "PLAIN", nullptr, &type, nullptr, &size),
      ERROR_SUCCESS);
  EXPECT_EQ(size, ansi.size());
  size = static_cast<DWORD>(ansi.size() - 1);
  EXPECT_EQ(RegQueryValueExA(Scratch(), "plain", nullptr, &type, data, &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, ansi.size());

  // Written through the ANSI functions, read wide: "aé" holding "€ café".
  const char written[] = "\x80 caf\xE9";
  ASSERT_EQ(
      RegSetValueExA(Scratch(), "a\xE9", 0, REG_EXPAND_SZ,
                     reinterpret_cast<const BYTE*>(written), sizeof written),
      ERROR_SUCCESS);
  ASSERT_EQ(
      RegQueryValueExW(Scratch(), L"A\u00C9", nullptr, &type, nullptr, &size),
      ERROR_SUCCESS);
  EXPECT_EQ(type, DWORD{REG_EXPAND_SZ});
  EXPECT_EQ(size, DataSize(L"\u20AC caf\u00E9"));
  EXPECT_EQ(QueryUnits(Scratch(), L"a\u00E9"),
            std::wstring(L"\u20AC caf\u00E9") + L'\0');
}

TEST_F(RegistryWideConformance, SizesCountBytesForDataAndUnitsForNames) {
  const std::wstring text = L"abc\U0001F600";
  ASSERT_EQ(SetText(Scratch(), L"a-text", text), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(Scratch(), L"b-dword", 7), ERROR_SUCCESS);
  const DWORD size = DataSize(text);

  // Size only, exactly enough room, one byte short.
  DWORD type = 99, reported = 12345;
  ASSERT_EQ(RegQueryValueExW(Scratch(), L"a-text", nullptr, &type, nullptr,
                             &reported),
            ERROR_SUCCESS);
  EXPECT_EQ(type, DWORD{REG_SZ});
  EXPECT_EQ(reported, size);
  std::vector<BYTE> buffer(size + 8, 0xCC);
  EXPECT_EQ(RegQueryValueExW(Scratch(), L"a-text", nullptr, &type,
                             buffer.data(), &reported),
            ERROR_SUCCESS);
  EXPECT_EQ(std::memcmp(buffer.data(), (text + L'\0').data(), size), 0);
  EXPECT_EQ(buffer[size], 0xCC);
  std::fill(buffer.begin(), buffer.end(), 0xCC);
  reported = size - 1;
  type = 99;
  EXPECT_EQ(RegQueryValueExW(Scratch(), L"a-text", nullptr, &type,
                             buffer.data(), &reported),
            ERROR_MORE_DATA);
  EXPECT_EQ(reported, size);
  EXPECT_EQ(type, DWORD{REG_SZ});
  EXPECT_EQ(buffer[0], 0xCC) << "the buffer is left alone";
  reported = 77;
  EXPECT_EQ(RegQueryValueExW(Scratch(), L"absent", nullptr, nullptr, nullptr,
                             &reported),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reported, 0u);

  // Value names are counted in units, the NUL included on the way in.
  wchar_t name[16];
  DWORD nameLength = 6;  // "a-text" needs 7
  EXPECT_EQ(RegEnumValueW(Scratch(), 0, name, &nameLength, nullptr, nullptr,
                          nullptr, nullptr),
            ERROR_MORE_DATA);
  EXPECT_EQ(nameLength, 6u);
  nameLength = 7;
  reported = static_cast<DWORD>(buffer.size());
  ASSERT_EQ(RegEnumValueW(Scratch(), 0, name, &nameLength, nullptr, &type,
                          buffer.data(), &reported),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(name, nameLength), L"a-text");
  EXPECT_EQ(reported, size);
  nameLength = 16;
  reported = size - kUnit;
  EXPECT_EQ(RegEnumValueW(Scratch(), 0, name, &nameLength, nullptr, &type,
                          buffer.data(), &reported),
            ERROR_MORE_DATA);
  EXPECT_EQ(reported, size);

  // Subkey names: too short a buffer writes neither the name nor its length.
  const std::wstring child = L"\u0416\U0001F600";
  RegCloseKey(Create(child.c_str()));
  std::wstring className = L"Kl\u00E4sse \u0416";
  RegCloseKey(Create(L"classy", KEY_ALL_ACCESS, className.data()));
  std::fill(std::begin(name), std::end(name), L'x');
  nameLength = static_cast<DWORD>(child.size());
  EXPECT_EQ(RegEnumKeyExW(Scratch(), 1, name, &nameLength, nullptr, nullptr,
                          nullptr, nullptr),
            ERROR_MORE_DATA);
  EXPECT_EQ(nameLength, child.size());
  EXPECT_EQ(name[0], L'x');
  nameLength = static_cast<DWORD>(child.size() + 1);
  ASSERT_EQ(RegEnumKeyExW(Scratch(), 1, name, &nameLength, nullptr, nullptr,
                          nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(name, nameLength), child);

  // The largest name and class in units, the largest data in bytes.
  DWORD subkeys = 0, maxSubkey = 0, maxClass = 0, values = 0, maxValueName = 0,
        maxData = 0;
  ASSERT_EQ(RegQueryInfoKeyW(Scratch(), nullptr, nullptr, nullptr, &subkeys,
                             &maxSubkey, &maxClass, &values, &maxValueName,
                             &maxData, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 2u);
  EXPECT_EQ(maxSubkey, std::max<std::size_t>(child.size(), 6));
  EXPECT_EQ(maxClass, className.size());
  EXPECT_EQ(values, 2u);
  EXPECT_EQ(maxValueName, 7u);
  EXPECT_EQ(maxData, size);

  // A key's own class, in units.
  // Opened, not created again: under Wine that shows the class as empty.
  HKEY classy = 0;
  ASSERT_EQ(RegOpenKeyExW(Scratch(), L"classy", 0, KEY_READ, &classy),
            ERROR_SUCCESS);
  wchar_t classBuffer[16];
  DWORD classLength = 16;
  ASSERT_EQ(QueryClass(classy, classBuffer, &classLength), ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(classBuffer, classLength), className);
  // A buffer one character short: 122 (ERROR_INSUFFICIENT_BUFFER) in the W
  // form, the buffer left alone. A length of 0 asks for the length only.
  std::fill(std::begin(classBuffer), std::end(classBuffer), L'x');
  classLength = static_cast<DWORD>(className.size());
  EXPECT_EQ(QueryClass(classy, classBuffer, &classLength),
            ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(classBuffer[0], L'x');
  classLength = 0;
  EXPECT_EQ(QueryClass(classy, classBuffer, &classLength), ERROR_SUCCESS);
  EXPECT_EQ(classLength, className.size());
  EXPECT_EQ(classBuffer[0], L'x');
  RegCloseKey(classy);
}

// RegEnumValueW fills the name before it looks at the data: data too long
// still gets the name and its length, a name too long leaves the data
// alone.
TEST_F(RegistryWideConformance, EnumValueWritesTheNameBeforeTheData) {
  ASSERT_EQ(SetText(Scratch(), L"name", L"data"), ERROR_SUCCESS);
  struct Case {
    const char* what;
    DWORD nameRoom, dataRoom;
    LONG status;
    const wchar_t* name;  // as the buffer holds it afterwards
    DWORD nameLength;
    bool dataWritten;
  };
  const Case cases[] = {
      {"both fit", 5, 64, ERROR_SUCCESS, L"name", 4, true},
      {"data too long", 5, 4, ERROR_MORE_DATA, L"name", 4, false},
      {"name too long", 4, 64, ERROR_MORE_DATA, L"xxxx", 4, false},
      {"both too long", 4, 4, ERROR_MORE_DATA, L"xxxx", 4, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    wchar_t name[8];
    std::fill(std::begin(name), std::end(name), L'x');
    name[4] = 0;
    BYTE data[64];
    std::fill(std::begin(data), std::end(data), BYTE{0xCC});
    DWORD nameLength = c.nameRoom, size = c.dataRoom, type = 99;
    EXPECT_EQ(RegEnumValueW(Scratch(), 0, name, &nameLength, nullptr, &type,
                            data, &size),
              c.status);
    EXPECT_EQ(std::wstring(name, 4), std::wstring(c.name));
    EXPECT_EQ(nameLength, c.nameLength);
    EXPECT_EQ(size, DataSize(L"data"));
    EXPECT_EQ(type, DWORD{REG_SZ});
    EXPECT_EQ(data[0] != 0xCC, c.dataWritten);
  }
}

TEST_F(RegistryWideConformance, QueryAddsATerminatorWhenThereIsRoom) {
  // "ab" stored without its NUL; the unit after it in memory isn't one, so
  // nothing can take it for a terminator the caller forgot to count.
  const std::wstring source = L"abX";
  ASSERT_EQ(SetUnits(Scratch(), L"raw", std::wstring_view(source).substr(0, 2)),
            ERROR_SUCCESS);
  wchar_t buffer[4] = {L'x', L'x', L'x', L'x'};
  DWORD size = sizeof buffer;
  ASSERT_EQ(RegQueryValueExW(Scratch(), L"raw", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(buffer), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, 2 * kUnit) << "the stored size, without the added NUL";
  EXPECT_EQ(std::wstring(buffer, 3), std::wstring(L"ab\0", 3));
  // Without room for it, the data comes back as stored.
  buffer[2] = L'x';
  size = 2 * kUnit;
  ASSERT_EQ(RegQueryValueExW(Scratch(), L"raw", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(buffer), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(buffer[2], L'x');
}

// The ANSI functions read through the wide ones; names, data and classes
// longer than the small buffers they start with must come through whole.
TEST_F(RegistryWideConformance, AnsiFunctionsReadLongNamesDataAndClasses) {
  const std::string name(300, 'n');
  const std::string text(1000, 't');
  const std::vector<BYTE> binary(700, 0xAB);
  ASSERT_EQ(RegSetValueExA(Scratch(), name.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>(text.size() + 1)),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(Scratch(), "nz-binary", 0, REG_BINARY, binary.data(),
                           static_cast<DWORD>(binary.size())),
            ERROR_SUCCESS);

  std::vector<char> nameBuffer(400);
  std::vector<BYTE> data(1200);
  DWORD nameLength = static_cast<DWORD>(nameBuffer.size());
  DWORD size = static_cast<DWORD>(data.size());
  ASSERT_EQ(RegEnumValueA(Scratch(), 0, nameBuffer.data(), &nameLength, nullptr,
                          nullptr, data.data(), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(nameBuffer.data(), nameLength), name);
  EXPECT_EQ(size, text.size() + 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data.data())), text);
  nameLength = 300;
  EXPECT_EQ(RegEnumValueA(Scratch(), 0, nameBuffer.data(), &nameLength, nullptr,
                          nullptr, nullptr, &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, text.size() + 1);

  size = 0;
  ASSERT_EQ(RegQueryValueExA(Scratch(), name.c_str(), nullptr, nullptr, nullptr,
                             &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, text.size() + 1);
  size = static_cast<DWORD>(data.size());
  ASSERT_EQ(RegQueryValueExA(Scratch(), "NZ-BINARY", nullptr, nullptr,
                             data.data(), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::vector<BYTE>(data.begin(), data.begin() + size), binary);

  std::string className(100, 'c');
  HKEY key = 0;
  ASSERT_EQ(RegCreateKeyExA(Scratch(), "Classy", 0, className.data(), 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  char classBuffer[128];
  DWORD classLength = sizeof classBuffer;
  ASSERT_EQ(RegQueryInfoKeyA(key, classBuffer, &classLength, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(classBuffer, classLength), className);
  RegCloseKey(key);
  classLength = sizeof classBuffer;
  nameLength = static_cast<DWORD>(nameBuffer.size());
  ASSERT_EQ(RegEnumKeyExA(Scratch(), 0, nameBuffer.data(), &nameLength, nullptr,
                          classBuffer, &classLength, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(classBuffer, classLength), className);
}

TEST_F(RegistryWideConformance, GetValueFiltersByType) {
  const BYTE four[] = {1, 2, 3, 4};
  ASSERT_EQ(SetDword(Scratch(), L"dword", 0x12345678), ERROR_SUCCESS);
  ASSERT_EQ(SetText(Scratch(), L"sz", L"text"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(Scratch(), L"binary4", 0, REG_BINARY, four, 4),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(Scratch(), L"binary3", 0, REG_BINARY, four, 3),
            ERROR_SUCCESS);
  const unsigned long long qword = 0x0102030405060708ULL;
  ASSERT_EQ(RegSetValueExW(Scratch(), L"qword", 0, REG_QWORD,
                           reinterpret_cast<const BYTE*>(&qword), 8),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(Scratch(), L"none", 0, REG_NONE, nullptr, 0),
            ERROR_SUCCESS);

  struct Case {
    const wchar_t* name;
    DWORD flags;
    LONG status;
  } cases[] = {
      {L"dword", RRF_RT_REG_DWORD, ERROR_SUCCESS},
      {L"dword", RRF_RT_DWORD, ERROR_SUCCESS},
      {L"dword", RRF_RT_ANY, ERROR_SUCCESS},
      {L"dword", RRF_RT_REG_BINARY, ERROR_UNSUPPORTED_TYPE},
      {L"dword", RRF_RT_REG_SZ | RRF_RT_REG_QWORD, ERROR_UNSUPPORTED_TYPE},
      {L"sz", RRF_RT_REG_SZ, ERROR_SUCCESS},
      {L"sz", RRF_RT_REG_MULTI_SZ, ERROR_UNSUPPORTED_TYPE},
      {L"binary4", RRF_RT_REG_BINARY, ERROR_SUCCESS},
      // RRF_RT_DWORD and RRF_RT_QWORD take binary data of their size only.
      {L"binary4", RRF_RT_DWORD, ERROR_SUCCESS},
      {L"binary3", RRF_RT_DWORD, kDatatypeMismatch},
      {L"binary4", RRF_RT_QWORD, kDatatypeMismatch},
      {L"qword", RRF_RT_QWORD, ERROR_SUCCESS},
      {L"qword", RRF_RT_DWORD, ERROR_UNSUPPORTED_TYPE},
      {L"none", RRF_RT_REG_NONE, ERROR_SUCCESS},
      {L"none", RRF_RT_REG_BINARY, ERROR_UNSUPPORTED_TYPE},
      {L"absent", RRF_RT_ANY, ERROR_FILE_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.flags);
    BYTE data[32];
    DWORD type = 99, size = sizeof data;
    EXPECT_EQ(
        RegGetValueW(Scratch(), nullptr, c.name, c.flags, &type, data, &size),
        c.status)
        << c.name;
    // The size and data flow through unchanged: a filter says only whether
    // the type was wanted.
    EXPECT_EQ(GetStatus(Scratch(), c.name, c.flags), c.status) << c.name;
  }

  // What was read is handed out even when the type was not wanted.
  DWORD value = 0, type = 0, size = sizeof value;
  EXPECT_EQ(RegGetValueW(Scratch(), nullptr, L"dword", RRF_RT_REG_SZ, &type,
                         &value, &size),
            ERROR_UNSUPPORTED_TYPE);
  EXPECT_EQ(type, DWORD{REG_DWORD});
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(value, 0x12345678u);
  // Unless the caller asked for zeros on failure.
  value = 0xDEADBEEF;
  size = sizeof value;
  EXPECT_EQ(
      RegGetValueW(Scratch(), nullptr, L"sz",
                   RRF_RT_REG_DWORD | RRF_ZEROONFAILURE, &type, &value, &size),
      ERROR_UNSUPPORTED_TYPE);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(size, DataSize(L"text"));

  // The subkey is optional, and may be given.
  HKEY sub = Create(L"Sub");
  ASSERT_EQ(SetDword(sub, L"inner", 9), ERROR_SUCCESS);
  RegCloseKey(sub);
  size = sizeof value;
  EXPECT_EQ(RegGetValueW(Scratch(), L"sub", L"inner", RRF_RT_REG_DWORD, &type,
                         &value, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(value, 9u);
  EXPECT_EQ(RegGetValueW(Scratch(), L"", L"dword", RRF_RT_REG_DWORD, nullptr,
                         nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegGetValueW(Scratch(), L"Missing", L"inner", RRF_RT_ANY, nullptr,
                         nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegGetValueA(Scratch(), "SUB", "inner", RRF_RT_REG_DWORD, &type,
                         &value, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(RegGetValueA(Scratch(), nullptr, "inner", RRF_RT_ANY, nullptr,
                         nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);
  // A buffer without its size is refused.
  EXPECT_EQ(RegGetValueW(Scratch(), nullptr, L"dword", RRF_RT_ANY, nullptr,
                         &value, nullptr),
            ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryWideConformance, GetValueTerminatesAndExpandsStrings) {
  // Strings come back NUL-terminated, and sizes count the terminator.
  // Microsoft documents RegGetValue as adding terminators that the stored
  // data lacks; Wine hands such data back as stored, so those cases run on
  // the emulated registry only.
  const std::wstring source = L"abcX";
  ASSERT_EQ(
      SetUnits(Scratch(), L"bare", std::wstring_view(source).substr(0, 3)),
      ERROR_SUCCESS);
  ASSERT_EQ(SetText(Scratch(), L"done", L"abc"), ERROR_SUCCESS);
#ifdef CORVANE_EMULATED
  const std::vector<const wchar_t*> names = {L"done", L"bare"};
#else
  const std::vector<const wchar_t*> names = {L"done"};
#endif
  for (const wchar_t* name : names) {
    SCOPED_TRACE(::testing::Message() << (name[0] == L'b' ? "bare" : "done"));
    DWORD size = 0;
    EXPECT_EQ(RegGetValueW(Scratch(), nullptr, name, RRF_RT_REG_SZ, nullptr,
                           nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, DataSize(L"abc"));
    wchar_t buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), L'x');
    size = 3 * kUnit;
    EXPECT_EQ(RegGetValueW(Scratch(), nullptr, name, RRF_RT_REG_SZ, nullptr,
                           buffer, &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, DataSize(L"abc"));
    size = sizeof buffer;
    EXPECT_EQ(RegGetValueW(Scratch(), nullptr, name, RRF_RT_REG_SZ, nullptr,
                           buffer, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, DataSize(L"abc"));
    EXPECT_EQ(std::wstring(buffer, 4), std::wstring(L"abc\0", 4));
  }
#ifdef CORVANE_EMULATED
  char ansi[8];
  DWORD ansiSize = sizeof ansi;
  EXPECT_EQ(RegGetValueA(Scratch(), nullptr, "bare", RRF_RT_REG_SZ, nullptr,
                         ansi, &ansiSize),
            ERROR_SUCCESS);
  EXPECT_EQ(ansiSize, 4u);
  EXPECT_STREQ(ansi, "abc");
  // A multi-string ends in two NULs: one is added to "a", "b" stored with
  // a single one, and two to data with none.
  ASSERT_EQ(
      SetUnits(Scratch(), L"multi", std::wstring(L"a\0b\0", 4), REG_MULTI_SZ),
      ERROR_SUCCESS);
  ASSERT_EQ(SetUnits(Scratch(), L"unended", L"ab", REG_MULTI_SZ),
            ERROR_SUCCESS);
  for (const auto& [name, expected] :
       {std::pair{L"multi", std::wstring(L"a\0b\0\0", 5)},
        std::pair{L"unended", std::wstring(L"ab\0\0", 4)}}) {
    wchar_t buffer[8];
    DWORD size = sizeof buffer;
    EXPECT_EQ(RegGetValueW(Scratch(), nullptr, name, RRF_RT_REG_MULTI_SZ,
                           nullptr, buffer, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(buffer, size / kUnit), expected);
  }
#endif
  DWORD size = 0;

  // REG_EXPAND_SZ is expanded, and then is REG_SZ, unless RRF_NOEXPAND.
  // PATH is set on both systems; the platform's own expansion says what it
  // holds, and an undefined name stays as written.
  const std::string expandedPath = [] {
    std::string out(32768, '\0');
    const DWORD n =
        ExpandEnvironmentStringsA("%PATH%;%CORVANE_UNDEFINED_NAME%", out.data(),
                                  static_cast<DWORD>(out.size()));
    out.resize(n > 0 ? n - 1 : 0);
    return out;
  }();
  ASSERT_NE(expandedPath.find(";%CORVANE_UNDEFINED_NAME%"), std::string::npos);
  const std::wstring expanded = AnsiToWide(expandedPath);
  const std::wstring unexpanded = L"%PATH%;%CORVANE_UNDEFINED_NAME%";
  ASSERT_EQ(SetText(Scratch(), L"expand", unexpanded, REG_EXPAND_SZ),
            ERROR_SUCCESS);

  std::vector<wchar_t> buffer(expanded.size() + 8, L'x');
  DWORD type = 0;
  size = static_cast<DWORD>(buffer.size() * kUnit);
  ASSERT_EQ(RegGetValueW(Scratch(), nullptr, L"expand", RRF_RT_REG_SZ, &type,
                         buffer.data(), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, DWORD{REG_SZ});
  EXPECT_EQ(size, DataSize(expanded));
  EXPECT_EQ(std::wstring(buffer.data()), expanded);
  size = DataSize(expanded) - kUnit;
  EXPECT_EQ(RegGetValueW(Scratch(), nullptr, L"expand", RRF_RT_REG_SZ, &type,
                         buffer.data(), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, DataSize(expanded));
  size = 0;
  EXPECT_EQ(RegGetValueW(Scratch(), nullptr, L"expand", RRF_RT_ANY, &type,
                         nullptr, &size),
            ERROR_SUCCESS);
  EXPECT_GE(size, DataSize(expanded)) << "enough for the expansion";

  size = static_cast<DWORD>(buffer.size() * kUnit);
  ASSERT_EQ(RegGetValueW(Scratch(), nullptr, L"expand",
                         RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &type,
                         buffer.data(), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, DWORD{REG_EXPAND_SZ});
  EXPECT_EQ(std::wstring(buffer.data()), unexpanded);
  // Not expanded, it is not REG_SZ; and asking for REG_EXPAND_SZ alone
  // without RRF_NOEXPAND is a contradiction.
  EXPECT_EQ(GetStatus(Scratch(), L"expand", RRF_RT_REG_SZ | RRF_NOEXPAND),
            ERROR_UNSUPPORTED_TYPE);
  EXPECT_EQ(GetStatus(Scratch(), L"expand", RRF_RT_REG_EXPAND_SZ),
            ERROR_INVALID_PARAMETER);

  std::vector<char> narrow(expandedPath.size() + 8);
  size = static_cast<DWORD>(narrow.size());
  ASSERT_EQ(RegGetValueA(Scratch(), nullptr, "expand", RRF_RT_REG_SZ, &type,
                         narrow.data(), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(narrow.data()), expandedPath);
  EXPECT_EQ(size, expandedPath.size() + 1);
}

TEST_F(RegistryWideConformance, DeleteTreeTakesEverythingBelow) {
  for (const wchar_t* path :
       {L"Tree\\A\\B", L"Tree\\\u0416", L"Other", L"Kept\\One\\Two"}) {
    HKEY key = Create(path);
    ASSERT_EQ(SetDword(key, L"v", 1), ERROR_SUCCESS);
    RegCloseKey(key);
  }
  HKEY tree = Create(L"Tree");
  ASSERT_EQ(SetDword(tree, L"v", 1), ERROR_SUCCESS);

  // With a subkey: that key and all below it.
  EXPECT_EQ(RegDeleteTreeW(Scratch(), L"tree"), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists(Scratch(), L"Tree"));
  EXPECT_EQ(RegDeleteTreeW(Scratch(), L"Tree"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteTreeA(Scratch(), "Missing\\Below"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(SetDword(tree, L"w", 1), ERROR_KEY_DELETED);
  RegCloseKey(tree);

  // Without one: the key stays, emptied of its subkeys and its values.
  HKEY kept = Create(L"Kept");
  ASSERT_EQ(SetDword(kept, L"v", 1), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(kept, nullptr, 1), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTreeA(kept, nullptr), ERROR_SUCCESS);
  DWORD subkeys = 99, values = 99;
  EXPECT_EQ(
      RegQueryInfoKeyW(kept, nullptr, nullptr, nullptr, &subkeys, nullptr,
                       nullptr, &values, nullptr, nullptr, nullptr, nullptr),
      ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 0u);
  EXPECT_EQ(values, 0u);
  EXPECT_EQ(SetDword(kept, L"after", 1), ERROR_SUCCESS) << "still there";
  RegCloseKey(kept);
  EXPECT_EQ(SubkeyNames(Scratch()),
            (std::vector<std::wstring>{L"Kept", L"Other"}));

  // The ANSI form takes its path through the code page.
  RegCloseKey(Create(L"\u00C9t\u00E9\\Sub"));
  EXPECT_EQ(RegDeleteTreeA(Scratch(), "\xE9T\xC9"), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists(Scratch(), L"\u00C9t\u00E9"));
}

TEST_F(RegistryWideConformance, FormatMessageWideGivesTheAnsiTexts) {
  for (DWORD id : {0u, 2u, 5u, 87u, 234u, 1018u}) {
    SCOPED_TRACE(id);
    char ansi[512];
    wchar_t wide[512];
    const DWORD flags =
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD narrow =
        FormatMessageA(flags, nullptr, id, 0, ansi, sizeof ansi, nullptr);
    const DWORD length =
        FormatMessageW(flags, nullptr, id, 0, wide, 512, nullptr);
    ASSERT_GT(length, 2u);
    EXPECT_EQ(length, narrow);
    EXPECT_EQ(std::wstring(wide, length),
              AnsiToWide(std::string(ansi, narrow)));
    EXPECT_EQ(wide[length], L'\0');
    EXPECT_EQ(std::wstring(wide + length - 2, 2), L"\r\n");

    // Too small a buffer: nothing, and the reason.
    SetLastError(0);
    EXPECT_EQ(FormatMessageW(flags, nullptr, id, 0, wide, length, nullptr), 0u);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
  }
  wchar_t wide[64];
  SetLastError(0);
  EXPECT_EQ(
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, 0x2000FFFF, 0, wide, 64, nullptr),
      0u);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_MR_MID_NOT_FOUND});
}

// The other wide functions share the ANSI ones' handle and rights checks
// (BadHandlesGiveAStatus, EachCallChecksTheRightsOfItsHandle); these two have
// checks of their own.
TEST_F(RegistryWideConformance, GetValueAndDeleteTreeCheckTheirHandle) {
  HKEY closed = Create(L"Closed");
  ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
  for (HKEY bad : {HKEY{0}, closed}) {
    EXPECT_EQ(GetStatus(bad, L"v", RRF_RT_ANY), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegDeleteTreeW(bad, nullptr), ERROR_INVALID_HANDLE);
  }

  ASSERT_EQ(SetDword(Scratch(), L"v", 1), ERROR_SUCCESS);
  HKEY writer = 0;
  ASSERT_EQ(RegOpenKeyExW(Scratch(), nullptr, 0, KEY_WRITE, &writer),
            ERROR_SUCCESS);
  EXPECT_EQ(GetStatus(writer, L"v", RRF_RT_ANY), ERROR_ACCESS_DENIED);
  RegCloseKey(writer);
}

// A call that fails leaves the caller's FILETIME as it was, in either form;
// one that succeeds writes it.
TEST_F(RegistryWideConformance, AFailedCallLeavesTheCallersFileTime) {
  HKEY closed = Create(L"Closed");
  ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
  constexpr FILETIME kMarker{0x12345678u, 0x9ABCDEFu};
  const auto unchanged = [&](const FILETIME& time) {
    return time.dwLowDateTime == kMarker.dwLowDateTime &&
           time.dwHighDateTime == kMarker.dwHighDateTime;
  };
  FILETIME time = kMarker;
  EXPECT_EQ(
      RegQueryInfoKeyW(closed, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr, &time),
      ERROR_INVALID_HANDLE);
  EXPECT_TRUE(unchanged(time)) << "RegQueryInfoKeyW";
  EXPECT_EQ(
      RegQueryInfoKeyA(closed, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr, &time),
      ERROR_INVALID_HANDLE);
  EXPECT_TRUE(unchanged(time)) << "RegQueryInfoKeyA";

  wchar_t wideName[32];
  char name[32];
  DWORD length = 32;
  EXPECT_EQ(RegEnumKeyExW(Scratch(), 1, wideName, &length, nullptr, nullptr,
                          nullptr, &time),
            ERROR_NO_MORE_ITEMS);
  EXPECT_TRUE(unchanged(time)) << "RegEnumKeyExW";
  length = 32;
  EXPECT_EQ(
      RegEnumKeyExA(closed, 0, name, &length, nullptr, nullptr, nullptr, &time),
      ERROR_INVALID_HANDLE);
  EXPECT_TRUE(unchanged(time)) << "RegEnumKeyExA";

  EXPECT_EQ(
      RegQueryInfoKeyW(Scratch(), nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr, &time),
      ERROR_SUCCESS);
  EXPECT_FALSE(unchanged(time));
}

}  // namespace
}  // namespace corvane::platform
