// How the registry functions answer, checked the same way against the
// emulated registry and, in the Windows build, against the system's own (run
// under Wine). Only platform/Platform.h and a scratch key are used, so a case
// that passes on both says the emulation behaves as the system does.
//
// Where Windows and Wine are known to differ, the case says which it follows.
// Cases that would hand the system a NULL it dereferences run on the
// emulated backend only.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "support/ScratchKey.h"

#ifdef CORVANE_EMULATED
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace corvane::platform {
namespace {

using testing::KeyExists;
using testing::ScratchKey;
using testing::SubkeyNames;
using testing::ValueCount;

std::vector<BYTE> Bytes(std::string_view text) {
  return std::vector<BYTE>(text.begin(), text.end());
}

// A string value as the model writes one: the ANSI text and its NUL.
LONG SetString(HKEY key, const char* name, std::string_view text,
               DWORD type = REG_SZ) {
  std::string data(text);
  return RegSetValueExA(key, name, 0, type,
                        reinterpret_cast<const BYTE*>(data.c_str()),
                        static_cast<DWORD>(data.size() + 1));
}

LONG SetDword(HKEY key, const char* name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// The calls with every optional argument left out.
LONG Query(HKEY key, const char* name) {
  return RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr);
}
LONG Info(HKEY key) {
  return RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}
LONG EnumKey(HKEY key, DWORD index, char* name, DWORD* length) {
  return RegEnumKeyExA(key, index, name, length, nullptr, nullptr, nullptr,
                       nullptr);
}
LONG EnumValue(HKEY key, DWORD index, char* name, DWORD* length) {
  return RegEnumValueA(key, index, name, length, nullptr, nullptr, nullptr,
                       nullptr);
}

class RegistryConformance : public ::testing::Test {
 protected:
  HKEY Scratch() const { return scratch_.Handle(); }
  HKEY Open(const char* path, REGSAM access) {
    HKEY key = 0;
    EXPECT_EQ(RegOpenKeyExA(Scratch(), path, 0, access, &key), ERROR_SUCCESS)
        << path;
    return key;
  }

  ScratchKey scratch_;
};

TEST_F(RegistryConformance, CreateReportsEachLevelAndOpensWhatExists) {
  HKEY key = 0;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(Scratch(), "One\\Two\\Three", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, DWORD{REG_CREATED_NEW_KEY});
  EXPECT_NE(key, 0u);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_TRUE(scratch_.Has("One\\Two"));

  // Doubled and trailing backslashes name the same key.
  ASSERT_EQ(RegCreateKeyExA(Scratch(), "one\\\\TWO\\three\\", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, DWORD{REG_OPENED_EXISTING_KEY});
  RegCloseKey(key);
  EXPECT_EQ(SubkeyNames(Scratch()), std::vector<std::string>{"One"});

  // The disposition is optional.
  ASSERT_EQ(RegCreateKeyExA(Scratch(), "Four", 0, nullptr, 0, KEY_READ, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(RegistryConformance, NamesAreCasePreservingAndCaseInsensitive) {
  scratch_.Make("MixedCase");
  HKEY key = Open("MIXEDcase", KEY_ALL_ACCESS);
  ASSERT_EQ(SetString(key, "ValueName", "x"), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(
      RegQueryValueExA(key, "valuename", nullptr, nullptr, nullptr, &size),
      ERROR_SUCCESS);
  EXPECT_EQ(size, 2u);
  // A later write under another case keeps the first spelling.
  ASSERT_EQ(SetString(key, "VALUENAME", "yy"), ERROR_SUCCESS);
  char name[32];
  DWORD nameLength = sizeof name;
  ASSERT_EQ(EnumValue(key, 0, name, &nameLength), ERROR_SUCCESS);
  EXPECT_STREQ(name, "ValueName");
  RegCloseKey(key);
  EXPECT_EQ(SubkeyNames(Scratch()), std::vector<std::string>{"MixedCase"});

  // Latin-1 letters fold too.
  scratch_.Make("\xC9t\xE9");  // "Été"
  EXPECT_TRUE(scratch_.Has("\xE9T\xC9"));
}

TEST_F(RegistryConformance, SubkeysEnumerateInCaseInsensitiveOrder) {
  for (const char* name : {"b", "_x", "C", "A", "a1"}) {
    scratch_.Make(name);
  }
#ifdef CORVANE_EMULATED
  // Windows compares names in uppercase, so "_" (0x5F) sorts after every
  // letter; the emulation follows Windows.
  EXPECT_EQ(SubkeyNames(Scratch()),
            (std::vector<std::string>{"A", "a1", "b", "C", "_x"}));
#else
  // Wine compares them in lowercase, which puts "_" first.
  EXPECT_EQ(SubkeyNames(Scratch()),
            (std::vector<std::string>{"_x", "A", "a1", "b", "C"}));
#endif
}

TEST_F(RegistryConformance, EmptySubkeyGivesTheRootBackOrANewHandle) {
  for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    for (const char* subkey : {static_cast<const char*>(nullptr), ""}) {
      HKEY key = 0;
      EXPECT_EQ(RegOpenKeyExA(root, subkey, 0, KEY_READ, &key), ERROR_SUCCESS);
      EXPECT_EQ(key, root);
      // Creating hands out a new handle to the root's key instead.
      key = 0;
      DWORD disposition = 0;
      EXPECT_EQ(RegCreateKeyExA(root, subkey, 0, nullptr, 0, KEY_READ, nullptr,
                                &key, &disposition),
                ERROR_SUCCESS);
      EXPECT_NE(key, root);
#ifdef CORVANE_EMULATED
      // Wine reports REG_CREATED_NEW_KEY for the root that was there all
      // along; the emulation says what Windows says.
      EXPECT_EQ(disposition, DWORD{REG_OPENED_EXISTING_KEY});
#endif
      EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    }
    // Closing a predefined key is always allowed and changes nothing.
    EXPECT_EQ(RegCloseKey(root), ERROR_SUCCESS);
  }

  // On an ordinary handle: a second handle to the same key.
  HKEY again = 0;
  ASSERT_EQ(RegOpenKeyExA(Scratch(), nullptr, 0, KEY_ALL_ACCESS, &again),
            ERROR_SUCCESS);
  EXPECT_NE(again, Scratch());
  ASSERT_EQ(SetDword(again, "seen", 7), ERROR_SUCCESS);
  DWORD value = 0, size = sizeof value;
  EXPECT_EQ(RegQueryValueExA(Scratch(), "seen", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(&value), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(value, 7u);
  EXPECT_EQ(RegCloseKey(again), ERROR_SUCCESS);
  EXPECT_EQ(Query(Scratch(), "seen"), ERROR_SUCCESS);
}

TEST_F(RegistryConformance, PathFormsAndLimits) {
  scratch_.Make("Here");
  const std::string relative = scratch_.Path() + "\\Here";
  struct Case {
    HKEY root;
    std::string path;
    LONG status;
  } cases[] = {
      {Scratch(), "Here", ERROR_SUCCESS},
      {Scratch(), "Missing", ERROR_FILE_NOT_FOUND},
      {Scratch(), "Here\\Missing", ERROR_FILE_NOT_FOUND},
      {Scratch(), "\\Here", ERROR_BAD_PATHNAME},
      {HKEY_CURRENT_USER, relative, ERROR_SUCCESS},
      {HKEY_CURRENT_USER, "\\" + relative, ERROR_BAD_PATHNAME},
      // HKEY_CLASSES_ROOT alone accepts a leading backslash.
      {HKEY_CLASSES_ROOT, "\\AppID", ERROR_SUCCESS},
      {HKEY_CLASSES_ROOT, "AppID", ERROR_SUCCESS},
      {Scratch(), std::string(255, 'k'), ERROR_FILE_NOT_FOUND},
  };
  for (const Case& c : cases) {
    HKEY key = 0xDEAD;
    EXPECT_EQ(RegOpenKeyExA(c.root, c.path.c_str(), 0, KEY_READ, &key),
              c.status)
        << c.path.substr(0, 40);
    if (c.status == ERROR_SUCCESS) {
      EXPECT_NE(key, 0u);
      RegCloseKey(key);
    } else {
      EXPECT_EQ(key, 0u) << "a failed open leaves the null handle";
    }
  }

  // Creating follows the same rules; nothing is made on failure.
  for (const char* bad : {"\\Lead", "Fine\\"}) {
    HKEY key = 0;
    const LONG status = RegCreateKeyExA(Scratch(), bad, 0, nullptr, 0,
                                        KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (bad[0] == '\\') {
      EXPECT_EQ(status, ERROR_BAD_PATHNAME);
      EXPECT_EQ(key, 0u);
    } else {
      EXPECT_EQ(status, ERROR_SUCCESS);
      RegCloseKey(key);
    }
  }

  // A name part over 255 characters fails and creates nothing. Windows
  // answers 87 (ERROR_INVALID_PARAMETER), as the emulation does; Wine
  // answers 2 or 234 depending on where the long part stands.
  for (const std::string& path :
       {std::string(256, 'k'), "Here\\" + std::string(256, 'k'),
        "Made\\" + std::string(256, 'k')}) {
    HKEY key = 0;
    const LONG opened =
        RegOpenKeyExA(Scratch(), path.c_str(), 0, KEY_READ, &key);
#ifdef CORVANE_EMULATED
    EXPECT_EQ(opened, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyExA(Scratch(), path.c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(key, 0u);
#else
    // Wine even creates a key whose first part is too long.
    EXPECT_NE(opened, ERROR_SUCCESS);
#endif
  }
  EXPECT_FALSE(scratch_.Has("Made"));
  EXPECT_FALSE(scratch_.Has("Lead"));
}

TEST_F(RegistryConformance, QueryValueSizesTypesAndShortBuffers) {
  const char multi[] = "one\0two\0";  // and the final NUL of the literal
  struct Case {
    const char* name;
    DWORD type;
    std::vector<BYTE> data;
  } cases[] = {
      {"sz", REG_SZ,
       Bytes(std::string_view("Gr\xFC\xDF"
                              "e",
                              6))},
      {"expand", REG_EXPAND_SZ, Bytes(std::string_view("%PATH%;x", 9))},
      {"multi", REG_MULTI_SZ, Bytes(std::string_view(multi, sizeof multi))},
      {"dword", REG_DWORD, {4, 3, 2, 1}},
      {"binary", REG_BINARY, {0, 1, 2, 0xFF, 0}},
      {"empty", REG_BINARY, {}},
      {nullptr, REG_SZ, Bytes(std::string_view("default", 8))},
      // Reads back the default value the null name wrote.
      {"", REG_SZ, Bytes(std::string_view("default", 8))},
  };
  for (const Case& c : cases) {
    if (c.name && !*c.name) continue;
    ASSERT_EQ(RegSetValueExA(Scratch(), c.name, 0, c.type,
                             c.data.empty() ? nullptr : c.data.data(),
                             static_cast<DWORD>(c.data.size())),
              ERROR_SUCCESS);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name ? c.name : "(null)");
    const DWORD size = static_cast<DWORD>(c.data.size());

    // Size only.
    DWORD type = 99, reported = 12345;
    EXPECT_EQ(
        RegQueryValueExA(Scratch(), c.name, nullptr, &type, nullptr, &reported),
        ERROR_SUCCESS);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(reported, size);

    // Exactly enough room.
    std::vector<BYTE> buffer(size + 4, 0xCC);
    reported = size;
    EXPECT_EQ(RegQueryValueExA(Scratch(), c.name, nullptr, &type, buffer.data(),
                               &reported),
              ERROR_SUCCESS);
    EXPECT_EQ(reported, size);
    EXPECT_EQ(std::vector<BYTE>(buffer.begin(), buffer.begin() + size), c.data);
    EXPECT_EQ(buffer[size], 0xCC) << "nothing past the data";

    // One byte short: 234, the size and type, the buffer untouched.
    if (size == 0) continue;
    std::fill(buffer.begin(), buffer.end(), 0xCC);
    reported = size - 1;
    type = 99;
    EXPECT_EQ(RegQueryValueExA(Scratch(), c.name, nullptr, &type, buffer.data(),
                               &reported),
              ERROR_MORE_DATA);
    EXPECT_EQ(reported, size);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(buffer[0], 0xCC);
  }
}

TEST_F(RegistryConformance, QueryValueMissingAndParameterErrors) {
  ASSERT_EQ(SetDword(Scratch(), "there", 1), ERROR_SUCCESS);
  DWORD size = 77;
  EXPECT_EQ(
      RegQueryValueExA(Scratch(), "absent", nullptr, nullptr, nullptr, &size),
      ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(size, 0u) << "a size query for a missing value reports 0";
  EXPECT_EQ(Query(Scratch(), nullptr), ERROR_FILE_NOT_FOUND)
      << "no default value yet";
  EXPECT_EQ(Query(Scratch(), "there"), ERROR_SUCCESS);
  BYTE buffer[8];
  DWORD reserved = 0;
  EXPECT_EQ(
      RegQueryValueExA(Scratch(), "there", nullptr, nullptr, buffer, nullptr),
      ERROR_INVALID_PARAMETER);
  size = sizeof buffer;
  EXPECT_EQ(
      RegQueryValueExA(Scratch(), "there", &reserved, nullptr, buffer, &size),
      ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryConformance, StringsCrossTheAnsiCodePage) {
  // "café" with an e-acute and the euro sign (0x80 in Windows-1252), stored
  // as UTF-16 and handed back in the code page.
  const std::string name = "caf\xE9";
  const std::string text = "\x80 5";
  ASSERT_EQ(SetString(Scratch(), name.c_str(), text), ERROR_SUCCESS);
  char buffer[16] = {};
  DWORD size = sizeof buffer;
  ASSERT_EQ(RegQueryValueExA(Scratch(), "CAF\xC9", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(buffer), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(buffer, size), text + '\0');

  char enumerated[16];
  DWORD length = sizeof enumerated;
  ASSERT_EQ(EnumValue(Scratch(), 0, enumerated, &length), ERROR_SUCCESS);
  EXPECT_EQ(std::string(enumerated, length), name);

  // The size a string reports is that of its ANSI form, not of its UTF-16
  // storage; RegQueryInfoKeyA's largest data is the stored size.
  DWORD maxData = 0;
  ASSERT_EQ(
      RegQueryInfoKeyA(Scratch(), nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, &maxData, nullptr, nullptr),
      ERROR_SUCCESS);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(maxData, 8u);
}

TEST_F(RegistryConformance, SetValueOverwritesAndChecksItsArguments) {
  ASSERT_EQ(SetString(Scratch(), "v", "text"), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(Scratch(), "V", 5), ERROR_SUCCESS);
  DWORD type = 0, value = 0, size = sizeof value;
  ASSERT_EQ(RegQueryValueExA(Scratch(), "v", nullptr, &type,
                             reinterpret_cast<BYTE*>(&value), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, DWORD{REG_DWORD});
  EXPECT_EQ(value, 5u);

  // No data with a size: the data can't be read (998, ERROR_NOACCESS).
  EXPECT_EQ(RegSetValueExA(Scratch(), "w", 0, REG_BINARY, nullptr, 4), 998);

  // Value names may be long, up to 16,383 characters.
  const std::string longest(16383, 'n');
  EXPECT_EQ(SetDword(Scratch(), longest.c_str(), 1), ERROR_SUCCESS);
  EXPECT_EQ(Query(Scratch(), longest.c_str()), ERROR_SUCCESS);
  const std::string tooLong(16384, 'n');
  EXPECT_EQ(SetDword(Scratch(), tooLong.c_str(), 1), ERROR_INVALID_PARAMETER);

  // A key with a dozen values finds each by name in any case, as after a
  // value is overwritten or deleted.
  const HKEY many = scratch_.CreateKey("Many");
  for (int i = 0; i < 12; ++i) {
    ASSERT_EQ(SetDword(many, ("n" + std::to_string(10 + i)).c_str(), i),
              ERROR_SUCCESS);
  }
  ASSERT_EQ(SetDword(many, "N15", 50), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteValueA(many, "n13"), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(many, "n13", 30), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteValueA(many, "N20"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(many, "n20"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ValueCount(many), 11u);
  for (const auto& [name, expected] :
       {std::pair{"n15", 50u}, {"N13", 30u}, {"n21", 11u}, {"N10", 0u}}) {
    size = sizeof value;
    EXPECT_EQ(RegQueryValueExA(many, name, nullptr, &type,
                               reinterpret_cast<BYTE*>(&value), &size),
              ERROR_SUCCESS)
        << name;
    EXPECT_EQ(value, expected) << name;
  }
  RegCloseKey(many);
}

TEST_F(RegistryConformance, EnumValueInCreationOrderWithShortBuffers) {
  // Windows hands values back in creation order, Wine in sorted order; these
  // names agree on both.
  ASSERT_EQ(SetString(Scratch(), "Alpha", "foobar"), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(Scratch(), "Beta", 2), ERROR_SUCCESS);
  ASSERT_EQ(SetString(Scratch(), "", "d"), ERROR_SUCCESS);

  // The default value has the empty name; with "" created last, Wine's
  // sorted order would put it first, so look for it by count only.
  EXPECT_EQ(ValueCount(Scratch()), 3u);
  ASSERT_EQ(RegDeleteValueA(Scratch(), ""), ERROR_SUCCESS);

  char name[16];
  BYTE data[16];
  DWORD nameLength, size, type;
  auto enumerate = [&](DWORD index, DWORD nameRoom, bool withData,
                       DWORD dataRoom) {
    std::memset(name, 'x', sizeof name);
    std::memset(data, 'x', sizeof data);
    nameLength = nameRoom;
    size = dataRoom;
    type = 99;
    return RegEnumValueA(Scratch(), index, name, &nameLength, nullptr, &type,
                         withData ? data : nullptr, &size);
  };

  ASSERT_EQ(enumerate(0, sizeof name, true, sizeof data), ERROR_SUCCESS);
  EXPECT_STREQ(name, "Alpha");
  EXPECT_EQ(nameLength, 5u);
  EXPECT_EQ(type, DWORD{REG_SZ});
  EXPECT_EQ(size, 7u);
  EXPECT_STREQ(reinterpret_cast<char*>(data), "foobar");
  ASSERT_EQ(enumerate(1, sizeof name, true, sizeof data), ERROR_SUCCESS);
  EXPECT_STREQ(name, "Beta");
  EXPECT_EQ(enumerate(2, sizeof name, true, sizeof data), ERROR_NO_MORE_ITEMS);

  // Name too short (room for "Alph" and no NUL): 234, the capacity left as
  // it was, the data size and type reported, and the data, which fits,
  // written all the same.
  EXPECT_EQ(enumerate(0, 5, true, sizeof data), ERROR_MORE_DATA);
  EXPECT_EQ(nameLength, 5u);
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(type, DWORD{REG_SZ});
  EXPECT_STREQ(reinterpret_cast<char*>(data), "foobar");
  ASSERT_EQ(enumerate(1, 4, true, sizeof data), ERROR_MORE_DATA);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(std::memcmp(data, "\2\0\0\0", 4), 0) << "Beta's DWORD";
  // Without a data buffer, the size query the model makes.
  EXPECT_EQ(enumerate(0, 5, false, 0), ERROR_MORE_DATA);
  EXPECT_EQ(nameLength, 5u);
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(enumerate(0, 6, false, 0), ERROR_SUCCESS);
  EXPECT_EQ(nameLength, 5u);
  EXPECT_EQ(size, 7u);

  // Data too short: 234 with the data size; neither buffer written.
  EXPECT_EQ(enumerate(0, sizeof name, true, 6), ERROR_MORE_DATA);
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(nameLength, DWORD{sizeof name});
  EXPECT_EQ(name[0], 'x');
  EXPECT_EQ(data[0], 'x');
}

TEST_F(RegistryConformance, EnumKeyShortNameBufferWritesNothing) {
  scratch_.Make("Child");
  char name[16];
  std::memset(name, 'x', sizeof name);
  DWORD length = 5;  // "Child" needs 6 with its NUL
  EXPECT_EQ(EnumKey(Scratch(), 0, name, &length), ERROR_MORE_DATA);
  EXPECT_EQ(length, 5u);
  EXPECT_EQ(name[0], 'x');

  length = 6;
  FILETIME written{};
  char className[8];
  DWORD classLength = sizeof className;
  EXPECT_EQ(RegEnumKeyExA(Scratch(), 0, name, &length, nullptr, className,
                          &classLength, &written),
            ERROR_SUCCESS);
  EXPECT_STREQ(name, "Child");
  EXPECT_EQ(length, 5u);
  EXPECT_EQ(classLength, 0u);
  EXPECT_NE(written.dwHighDateTime, 0u);

  length = sizeof name;
  EXPECT_EQ(EnumKey(Scratch(), 1, name, &length), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(EnumKey(Scratch(), 0xFFFFFFFF, name, &length), ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryConformance, QueryInfoKeyCountsAndLengths) {
  scratch_.Make("abc");
  scratch_.Make("Longest\\Below");
  ASSERT_EQ(SetString(Scratch(), "name", "12345"), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(Scratch(), "longer name", 1), ERROR_SUCCESS);

  char className[8] = "xxxxxxx";
  DWORD classLength = sizeof className;
  DWORD subkeys = 0, maxSubkey = 0, maxClass = 9, values = 0, maxValueName = 0,
        maxData = 0;
  FILETIME written{};
  ASSERT_EQ(RegQueryInfoKeyA(Scratch(), className, &classLength, nullptr,
                             &subkeys, &maxSubkey, &maxClass, &values,
                             &maxValueName, &maxData, nullptr, &written),
            ERROR_SUCCESS);
  EXPECT_STREQ(className, "");
  EXPECT_EQ(classLength, 0u);
  EXPECT_EQ(subkeys, 2u);
  EXPECT_EQ(maxSubkey, 7u);
  EXPECT_EQ(maxClass, 0u);
  EXPECT_EQ(values, 2u);
  EXPECT_EQ(maxValueName, 11u);
  EXPECT_EQ(maxData, 12u) << "\"12345\" and its NUL in UTF-16";
  EXPECT_NE(written.dwHighDateTime, 0u);

  EXPECT_EQ(Info(Scratch()), ERROR_SUCCESS) << "everything left out";
  // A class buffer without its length is not.
  EXPECT_EQ(
      RegQueryInfoKeyA(Scratch(), className, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
      ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryConformance, QueryInfoKeyCutsAShortClassBuffer) {
  HKEY key = 0;
  char subkeyClass[] = "subkey class";
  ASSERT_EQ(RegCreateKeyExA(Scratch(), "Classy", 0, subkeyClass, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  struct Case {
    DWORD room;
    LONG status;
    DWORD length;
    std::string written;  // then the rest of the buffer untouched
  } cases[] = {
      {13, ERROR_SUCCESS, 12, std::string("subkey class", 13)},
      {12, ERROR_MORE_DATA, 11, std::string("subkey clas", 12)},
      {1, ERROR_MORE_DATA, 0, std::string(1, '\0')},
#ifdef CORVANE_EMULATED
      {0, ERROR_SUCCESS, 0, ""},
#else
      // Wine reports the class's whole length.
      {0, ERROR_SUCCESS, 12, ""},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.room);
    char buffer[16];
    std::memset(buffer, 0x55, sizeof buffer);
    DWORD length = c.room;
    EXPECT_EQ(
        RegQueryInfoKeyA(key, buffer, &length, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
        c.status);
    EXPECT_EQ(length, c.length);
    EXPECT_EQ(std::string(buffer, c.written.size()), c.written);
    EXPECT_EQ(buffer[c.written.size()], 0x55);
  }
  RegCloseKey(key);
}

TEST_F(RegistryConformance, DeleteKeyAndValue) {
  scratch_.Make("Parent\\Child");
  scratch_.Make("Leaf");
  // The NT family keeps a key that has subkeys.
  EXPECT_EQ(RegDeleteKeyA(Scratch(), "Parent"), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(scratch_.Has("Parent\\Child"));
  EXPECT_EQ(RegDeleteKeyA(Scratch(), "parent\\CHILD"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(Scratch(), "Parent"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(Scratch(), "Parent"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(Scratch(), nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegDeleteKeyA(Scratch(), "\\Leaf"), ERROR_BAD_PATHNAME);

  // "" deletes the key of the handle itself.
  HKEY leaf = Open("Leaf", KEY_ALL_ACCESS);
  EXPECT_EQ(RegDeleteKeyA(leaf, ""), ERROR_SUCCESS);
  EXPECT_FALSE(scratch_.Has("Leaf"));
  EXPECT_EQ(RegCloseKey(leaf), ERROR_SUCCESS);

  ASSERT_EQ(SetDword(Scratch(), "v", 1), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(Scratch(), nullptr, 1), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(Scratch(), "V"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(Scratch(), "v"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueA(Scratch(), nullptr), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(Scratch(), ""), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryConformance, EachCallChecksTheRightsOfItsHandle) {
  scratch_.Make("Sub");
  ASSERT_EQ(SetDword(Scratch(), "v", 1), ERROR_SUCCESS);
  enum Call { kQuery, kEnumValue, kInfo, kSet, kDeleteValue, kEnumKey };
  auto attempt = [&](HKEY key, Call call) -> LONG {
    char name[32];
    DWORD length = sizeof name;
    switch (call) {
      case kQuery:
        return Query(key, "v");
      case kEnumValue:
        return EnumValue(key, 0, name, &length);
      case kInfo:
        return Info(key);
      case kSet:
        return SetDword(key, "w", 2);
      case kDeleteValue:
        return RegDeleteValueA(key, "w");
      case kEnumKey:
        return EnumKey(key, 0, name, &length);
    }
    return -1;
  };
  struct Case {
    REGSAM access;
    std::vector<Call> allowed, refused;
  } cases[] = {
      {KEY_QUERY_VALUE, {kQuery, kEnumValue, kInfo}, {kSet, kEnumKey}},
      {KEY_SET_VALUE, {kSet, kDeleteValue}, {kQuery, kEnumValue, kEnumKey}},
      {KEY_ENUMERATE_SUB_KEYS, {kEnumKey}, {kQuery, kSet, kDeleteValue}},
      {KEY_READ, {kQuery, kEnumValue, kInfo, kEnumKey}, {kSet, kDeleteValue}},
      {KEY_WRITE, {kSet, kDeleteValue}, {kQuery, kEnumKey}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.access);
    HKEY key = Open(nullptr, c.access);
#ifdef CORVANE_EMULATED
    // Windows wants KEY_QUERY_VALUE for RegQueryInfoKeyA; Wine wants
    // nothing. The emulation follows Windows.
    EXPECT_EQ(attempt(key, kInfo), (c.access & KEY_QUERY_VALUE)
                                       ? ERROR_SUCCESS
                                       : ERROR_ACCESS_DENIED);
#endif
    for (Call call : c.allowed) {
      EXPECT_EQ(attempt(key, call), ERROR_SUCCESS) << "call " << call;
    }
    for (Call call : c.refused) {
      EXPECT_EQ(attempt(key, call), ERROR_ACCESS_DENIED) << "call " << call;
    }
    RegCloseKey(key);
  }

  // Opening or creating below a handle doesn't need the handle's rights.
  HKEY none = Open(nullptr, 0);
  HKEY child = 0;
  EXPECT_EQ(RegCreateKeyExA(none, "Made", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &child, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(child);
  EXPECT_EQ(RegOpenKeyExA(none, "Sub", 0, KEY_ALL_ACCESS, &child),
            ERROR_SUCCESS);
  RegCloseKey(child);
  RegCloseKey(none);
}

// Every function through a handle that is null, never was, was closed, or
// whose key is gone.
TEST_F(RegistryConformance, BadHandlesGiveAStatus) {
  scratch_.Make("Doomed");
  auto calls = [](HKEY key) {
    char name[32];
    DWORD length = sizeof name, size = 0;
    BYTE data[8] = {};
    HKEY opened = 0;
    std::vector<LONG> statuses;
    statuses.push_back(RegOpenKeyExA(key, "x", 0, KEY_READ, &opened));
    statuses.push_back(RegCreateKeyExA(key, "x", 0, nullptr, 0, KEY_READ,
                                       nullptr, &opened, nullptr));
    statuses.push_back(
        RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, &size));
    statuses.push_back(EnumValue(key, 0, name, &length));
    statuses.push_back(RegSetValueExA(key, "v", 0, REG_BINARY, data, 1));
    statuses.push_back(EnumKey(key, 0, name, &length));
    statuses.push_back(Info(key));
    statuses.push_back(RegDeleteKeyA(key, "x"));
    statuses.push_back(RegDeleteValueA(key, "v"));
    statuses.push_back(RegFlushKey(key));
    return statuses;
  };

  HKEY closed = Open("Doomed", KEY_ALL_ACCESS);
  ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
  const std::vector<LONG> invalid(10, ERROR_INVALID_HANDLE);
  EXPECT_EQ(calls(0), invalid) << "null handle";
  EXPECT_EQ(calls(closed), invalid) << "closed handle";
  EXPECT_EQ(calls(0x7654320), invalid) << "a handle never handed out";
  EXPECT_EQ(RegCloseKey(closed), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(0), ERROR_INVALID_HANDLE);

  // Turned away before the result is touched: an open through a bad handle
  // leaves it as the caller had it (a missing key sets it to the null
  // handle; see PathFormsAndLimits).
  HKEY result = 0xBEEF;
  EXPECT_EQ(RegOpenKeyExA(0, "Doomed", 0, KEY_READ, &result),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(result, HKEY{0xBEEF});
  EXPECT_EQ(RegOpenKeyExA(closed, "Doomed", 0, KEY_READ, &result),
            ERROR_INVALID_HANDLE);
#ifdef CORVANE_EMULATED
  EXPECT_EQ(result, HKEY{0xBEEF});
#else
  // Wine sets it to the null handle before it finds a closed handle out.
  EXPECT_EQ(result, HKEY{0});
#endif

  // A key deleted through another handle: 1018 through this one, which
  // still closes.
  HKEY doomed = Open("Doomed", KEY_ALL_ACCESS);
  ASSERT_EQ(RegDeleteKeyA(Scratch(), "Doomed"), ERROR_SUCCESS);
  const std::vector<LONG> deleted = calls(doomed);
  for (std::size_t i = 0; i < deleted.size(); ++i) {
    EXPECT_EQ(deleted[i], ERROR_KEY_DELETED) << "call " << i;
  }
  EXPECT_EQ(RegCloseKey(doomed), ERROR_SUCCESS);
  EXPECT_FALSE(scratch_.Has("Doomed"));
}

TEST_F(RegistryConformance, NullPointersGiveAStatus) {
  DWORD length = 8;
  EXPECT_EQ(EnumValue(Scratch(), 0, nullptr, &length), ERROR_INVALID_PARAMETER);
  DWORD reserved = 0;
  char name[8];
  EXPECT_EQ(RegEnumKeyExA(Scratch(), 0, name, &length, &reserved, nullptr,
                          nullptr, nullptr),
            ERROR_INVALID_PARAMETER);
#ifdef CORVANE_EMULATED
  // The system dereferences these; the emulation refuses them.
  EXPECT_EQ(RegOpenKeyExA(Scratch(), "x", 0, KEY_READ, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyExA(Scratch(), "x", 0, nullptr, 0, KEY_READ, nullptr,
                            nullptr, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(EnumKey(Scratch(), 0, nullptr, &length), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(EnumKey(Scratch(), 0, name, nullptr), ERROR_INVALID_PARAMETER);
  ASSERT_EQ(SetDword(Scratch(), "v", 1), ERROR_SUCCESS);
  EXPECT_EQ(EnumValue(Scratch(), 0, name, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyExA(Scratch(), "x", 1, nullptr, 0, KEY_READ, nullptr,
                            nullptr, nullptr),
            ERROR_INVALID_PARAMETER);
#endif
  EXPECT_FALSE(scratch_.Has("x"));
}

// HKEY_CLASSES_ROOT: HKEY_CURRENT_USER\Software\Classes merged over
// HKEY_LOCAL_MACHINE\SOFTWARE\Classes. Wine shows the machine's classes
// only; the emulation follows Windows, and each case says what Wine answers.
class ClassesRootMerge : public ::testing::Test {
 protected:
  ClassesRootMerge() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    name_ = std::string("Corvane Merge ") + info->name() + "-" +
            std::to_string(
                std::chrono::steady_clock::now().time_since_epoch().count() %
                1000000007);
  }
  ~ClassesRootMerge() override {
    testing::DeleteTreeForTest(HKEY_CURRENT_USER, User(""));
    testing::DeleteTreeForTest(HKEY_LOCAL_MACHINE, Machine(""));
  }

  // The class's key at `path` in each half, and through the merged view.
  std::string User(const std::string& path) const {
    return "Software\\Classes\\" + Merged(path);
  }
  std::string Machine(const std::string& path) const {
    return "SOFTWARE\\Classes\\" + Merged(path);
  }
  std::string Merged(const std::string& path) const {
    return path.empty() ? name_ : name_ + "\\" + path;
  }

  static void Make(HKEY root, const std::string& path,
                   const char* className = nullptr) {
    HKEY key = 0;
    std::string cls = className ? className : "";
    ASSERT_EQ(
        RegCreateKeyExA(root, path.c_str(), 0, className ? cls.data() : nullptr,
                        0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS)
        << path;
    RegCloseKey(key);
  }
  static void Put(HKEY root, const std::string& path, const char* value,
                  const char* text) {
    HKEY key = 0;
    ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << path;
    EXPECT_EQ(SetString(key, value, text), ERROR_SUCCESS);
    RegCloseKey(key);
  }
  // The string `value` holds below `parent`, or "-" for no key or value.
  static std::string Get(HKEY parent, const std::string& path,
                         const char* value) {
    HKEY key = 0;
    if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
      return "-";
    }
    char text[64] = {};
    DWORD size = sizeof text - 1;
    const LONG status = RegQueryValueExA(key, value, nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::string(text) : "-";
  }

  std::string name_;
};

TEST_F(ClassesRootMerge, OpenFindsTheUsersCopyFirstAndKeepsToIt) {
  Put(HKEY_LOCAL_MACHINE, Machine(""), "who", "machine");
  Put(HKEY_CURRENT_USER, User(""), "who", "user");
  Put(HKEY_LOCAL_MACHINE, Machine("MachineOnly"), "who", "machine");
  Put(HKEY_CURRENT_USER, User("UserOnly"), "who", "user");

  HKEY merged = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, Merged("").c_str(), 0,
                          KEY_ALL_ACCESS, &merged),
            ERROR_SUCCESS);
  ASSERT_EQ(SetString(merged, "written", "through the merged view"),
            ERROR_SUCCESS);
  // Paths below a merged handle are merged too: the machine's subkey is
  // found below the user's copy, which lacks it.
  EXPECT_EQ(Get(merged, "MachineOnly", "who"), "machine");
  EXPECT_EQ(Get(HKEY_CLASSES_ROOT, Merged("MachineOnly"), "who"), "machine");
#ifdef CORVANE_EMULATED
  EXPECT_EQ(Get(merged, "", "who"), "user");
  EXPECT_EQ(Get(HKEY_CURRENT_USER, User(""), "written"),
            "through the merged view");
  EXPECT_EQ(Get(HKEY_LOCAL_MACHINE, Machine(""), "written"), "-");
  EXPECT_EQ(Get(merged, "UserOnly", "who"), "user");
  EXPECT_EQ(Get(HKEY_CLASSES_ROOT, Merged("UserOnly"), "who"), "user");
#else
  EXPECT_EQ(Get(merged, "", "who"), "machine");
  EXPECT_EQ(Get(HKEY_LOCAL_MACHINE, Machine(""), "written"),
            "through the merged view");
  EXPECT_EQ(Get(HKEY_CLASSES_ROOT, Merged("UserOnly"), "who"), "-");
#endif

  // The handle finds its copy at each call: once the user's copy is gone,
  // it reads the machine's.
  ASSERT_EQ(testing::DeleteTreeForTest(HKEY_CURRENT_USER, User("")),
            ERROR_SUCCESS);
  EXPECT_EQ(Get(merged, "", "who"), "machine");
  // With neither copy left, the key is a deleted one.
  ASSERT_EQ(testing::DeleteTreeForTest(HKEY_LOCAL_MACHINE, Machine("")),
            ERROR_SUCCESS);
  EXPECT_EQ(Query(merged, "who"), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(merged), ERROR_SUCCESS);
  Put(HKEY_LOCAL_MACHINE, Machine(""), "who", "machine");
  EXPECT_EQ(Get(HKEY_CLASSES_ROOT, Merged(""), "who"), "machine");
}

TEST_F(ClassesRootMerge, SubkeysAreTheUsersAndTheMachinesEachOnce) {
  for (const char* name : {"Both", "M1", "zeta", "Both\\FromMachine"}) {
    Make(HKEY_LOCAL_MACHINE, Machine(name));
  }
  Make(HKEY_CURRENT_USER, User("both\\FromUser"));
  Make(HKEY_CURRENT_USER, User("UserOnlyLongest"), "user class");

  HKEY merged = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, Merged("").c_str(), 0, KEY_READ,
                          &merged),
            ERROR_SUCCESS);
  DWORD subkeys = 0, maxSubkey = 0, maxClass = 0;
  ASSERT_EQ(
      RegQueryInfoKeyA(merged, nullptr, nullptr, nullptr, &subkeys, &maxSubkey,
                       &maxClass, nullptr, nullptr, nullptr, nullptr, nullptr),
      ERROR_SUCCESS);
  HKEY both = 0;
  ASSERT_EQ(RegOpenKeyExA(merged, "BOTH", 0, KEY_READ, &both), ERROR_SUCCESS);
#ifdef CORVANE_EMULATED
  // A name both hold is listed once, spelled as the user's copy has it.
  EXPECT_EQ(
      testing::SubkeyNames(merged),
      (std::vector<std::string>{"both", "M1", "UserOnlyLongest", "zeta"}));
  EXPECT_EQ(subkeys, 4u);
  EXPECT_EQ(maxSubkey, 15u);
  EXPECT_EQ(maxClass, 10u);
  EXPECT_EQ(SubkeyNames(both),
            (std::vector<std::string>{"FromMachine", "FromUser"}));
#else
  EXPECT_EQ(SubkeyNames(merged),
            (std::vector<std::string>{"Both", "M1", "zeta"}));
  EXPECT_EQ(subkeys, 3u);
  EXPECT_EQ(maxSubkey, 4u);
  EXPECT_EQ(SubkeyNames(both), std::vector<std::string>{"FromMachine"});
#endif
  RegCloseKey(both);

  // The same handle sees keys made since, in either half.
  Make(HKEY_LOCAL_MACHINE, Machine("Added"));
  Make(HKEY_CURRENT_USER, User("UAdded"));
#ifdef CORVANE_EMULATED
  EXPECT_EQ(SubkeyNames(merged),
            (std::vector<std::string>{"Added", "both", "M1", "UAdded",
                                      "UserOnlyLongest", "zeta"}));
#else
  EXPECT_EQ(SubkeyNames(merged),
            (std::vector<std::string>{"Added", "Both", "M1", "zeta"}));
#endif
  RegCloseKey(merged);
}

TEST_F(ClassesRootMerge, CreateGoesToTheMachineDeleteTakesTheUsersCopy) {
  Make(HKEY_LOCAL_MACHINE, Machine(""));
  Put(HKEY_CURRENT_USER, User("UserOnly"), "who", "user");
  Put(HKEY_LOCAL_MACHINE, Machine("Both"), "who", "machine");
  Put(HKEY_CURRENT_USER, User("Both"), "who", "user");

  // An existing key is opened where the merged view finds it.
  HKEY key = 0;
  DWORD disposition = 0;
  ASSERT_EQ(
      RegCreateKeyExA(HKEY_CLASSES_ROOT, Merged("UserOnly").c_str(), 0, nullptr,
                      0, KEY_ALL_ACCESS, nullptr, &key, &disposition),
      ERROR_SUCCESS);
#ifdef CORVANE_EMULATED
  EXPECT_EQ(disposition, DWORD{REG_OPENED_EXISTING_KEY});
  EXPECT_EQ(Get(key, "", "who"), "user");
#else
  EXPECT_EQ(disposition, DWORD{REG_CREATED_NEW_KEY});
#endif
  // A new key goes to the machine's classes, with the ancestors the machine
  // lacks, even below a handle on the user's copy.
  HKEY made = 0;
  ASSERT_EQ(RegCreateKeyExA(key, "New\\Deeper", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &made, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, DWORD{REG_CREATED_NEW_KEY});
  ASSERT_EQ(SetString(made, "who", "new"), ERROR_SUCCESS);
  RegCloseKey(made);
  RegCloseKey(key);
  EXPECT_EQ(Get(HKEY_LOCAL_MACHINE, Machine("UserOnly\\New\\Deeper"), "who"),
            "new");
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, User("UserOnly\\New")));

  // A delete takes the user's copy and uncovers the machine's.
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, Merged("Both").c_str()),
            ERROR_SUCCESS);
#ifdef CORVANE_EMULATED
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, User("Both")));
  EXPECT_EQ(Get(HKEY_CLASSES_ROOT, Merged("Both"), "who"), "machine");
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, Merged("Both").c_str()),
            ERROR_SUCCESS);
#else
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, User("Both")));
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, Merged("Both").c_str()),
            ERROR_FILE_NOT_FOUND);
#endif
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Machine("Both")));
}

// Windows finds a classes handle's copy at each call; Wine's handle stays
// on the machine's key it opened. Each step: what changes, then what the
// handle reads and where its own write lands.
TEST_F(ClassesRootMerge, AHandleTurnsToTheUsersCopyOnceItExists) {
  Put(HKEY_LOCAL_MACHINE, Machine(""), "who", "machine");
  HKEY merged = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, Merged("").c_str(), 0,
                          KEY_ALL_ACCESS, &merged),
            ERROR_SUCCESS);
  // The low two bits of a classes handle are Windows' tag; other handles
  // carry none. A tagged handle serves every call.
  HKEY plain = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, Machine("").c_str(), 0,
                          KEY_ALL_ACCESS, &plain),
            ERROR_SUCCESS);
  EXPECT_EQ(plain & 3u, 0u);
#ifdef CORVANE_EMULATED
  EXPECT_EQ(merged & 3u, 2u);
#endif

  struct Step {
    const char* what;
    std::function<void()> change;
    const char* reads;    // through the classes handle
    const char* machine;  // "wrote" once the handle's write landed there
    const char* user;
  };
  const Step steps[] = {
      {"only the machine's copy", [] {}, "machine", "wrote", "-"},
      {"the user's copy appears",
       [&] { Put(HKEY_CURRENT_USER, User(""), "who", "user"); }, "user",
       "machine", "wrote"},
      {"the machine's copy changes through its own handle",
       [&] { ASSERT_EQ(SetString(plain, "who", "changed"), ERROR_SUCCESS); },
       "user", "changed", "wrote"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.change();
#ifdef CORVANE_EMULATED
    EXPECT_EQ(Get(merged, "", "who"), step.reads);
    ASSERT_EQ(SetString(merged, "who", "wrote"), ERROR_SUCCESS);
    EXPECT_EQ(Get(HKEY_LOCAL_MACHINE, Machine(""), "who"), step.machine);
    EXPECT_EQ(Get(HKEY_CURRENT_USER, User(""), "who"), step.user);
    // Undo the handle's own write, so the next step starts from the change.
    if (std::string(step.user) == "wrote") {
      Put(HKEY_CURRENT_USER, User(""), "who", "user");
    } else {
      ASSERT_EQ(SetString(plain, "who", "machine"), ERROR_SUCCESS);
    }
#else
    EXPECT_NE(Get(merged, "", "who"), "user");
#endif
  }
  RegCloseKey(plain);
  RegCloseKey(merged);
}

TEST_F(ClassesRootMerge, ValuesAreTheUsersThenTheMachinesEachOnce) {
  // Names whose creation and sorted orders agree within each copy.
  Put(HKEY_LOCAL_MACHINE, Machine(""), "a", "machine");
  Put(HKEY_LOCAL_MACHINE, Machine(""), "Both", "machine");
  Put(HKEY_LOCAL_MACHINE, Machine(""), "m", "machine");
  Put(HKEY_CURRENT_USER, User(""), "both", "user");
  Put(HKEY_CURRENT_USER, User(""), "u", "user");

  HKEY merged = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, Merged("").c_str(), 0, KEY_READ,
                          &merged),
            ERROR_SUCCESS);
  std::vector<std::string> listed;
  char name[16];
  char data[16];
  for (DWORD i = 0;; ++i) {
    DWORD length = sizeof name, size = sizeof data;
    if (RegEnumValueA(merged, i, name, &length, nullptr, nullptr,
                      reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS) {
      break;
    }
    listed.push_back(std::string(name) + "=" + data);
  }
  DWORD count = 0, longestName = 0;
  ASSERT_EQ(RegQueryInfoKeyA(merged, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, &count, &longestName, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(count, listed.size());
#ifdef CORVANE_EMULATED
  EXPECT_EQ(listed, (std::vector<std::string>{"both=user", "u=user",
                                              "a=machine", "m=machine"}));
  EXPECT_EQ(longestName, 4u);
#else
  EXPECT_EQ(listed, (std::vector<std::string>{"a=machine", "Both=machine",
                                              "m=machine"}));
#endif
  RegCloseKey(merged);
}

// Microsoft documents a tree at most 512 levels deep and at most 32 levels
// made by one RegCreateKeyEx, without a status; the emulation answers 87,
// as for a name too long. Wine enforces neither.
#ifdef CORVANE_EMULATED
TEST_F(RegistryConformance, CreateStopsAtTheDepthLimits) {
  auto levels = [](int n) {
    std::string path;
    for (int i = 0; i < n; ++i) path += (i ? "\\k" : "k");
    return path;
  };
  HKEY key = 0;
  EXPECT_EQ(RegCreateKeyExA(Scratch(), levels(33).c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(scratch_.Has("k"));
  // 32 at a time, until the tree is 512 deep: the scratch key is at some
  // depth of its own, so the last create is the one that doesn't fit.
  HKEY at = 0;
  ASSERT_EQ(RegOpenKeyExA(Scratch(), "", 0, KEY_ALL_ACCESS, &at),
            ERROR_SUCCESS);
  LONG status = ERROR_SUCCESS;
  int made = 0;
  while (status == ERROR_SUCCESS && made < 600) {
    status = RegCreateKeyExA(at, levels(32).c_str(), 0, nullptr, 0,
                             KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) break;
    RegCloseKey(at);
    at = key;
    made += 32;
  }
  EXPECT_EQ(status, ERROR_INVALID_PARAMETER);
  EXPECT_LT(made, 512);
  // What is left below the limit is made one level at a time, the last
  // level refused.
  int more = 0;
  while (RegCreateKeyExA(at, "k", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                         nullptr) == ERROR_SUCCESS) {
    RegCloseKey(at);
    at = key;
    ++more;
  }
  EXPECT_LT(more, 32);
  EXPECT_EQ(RegCreateKeyExA(at, "k", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_INVALID_PARAMETER);
  // Opening what exists is no create: the whole depth opens in one call.
  HKEY deep = 0;
  EXPECT_EQ(
      RegOpenKeyExA(Scratch(), levels(made + more).c_str(), 0, KEY_READ, &deep),
      ERROR_SUCCESS);
  RegCloseKey(deep);
  RegCloseKey(at);
}
#endif

// Windows' kernel answers 998 (ERROR_NOACCESS) for a buffer the process
// can't read or write. Wine answers for binary data handed over; it crashes
// on ANSI string data and buffers to write into, and answers 998 for wide
// string data of size 0, so those cases ask the emulation alone.
TEST_F(RegistryConformance, UnusableBuffersGiveNoAccess) {
  const auto* unreadable = reinterpret_cast<const BYTE*>(1);
  EXPECT_EQ(RegSetValueExA(Scratch(), "v", 0, REG_BINARY, unreadable, 1),
            ERROR_NOACCESS);
  EXPECT_EQ(RegSetValueExW(Scratch(), L"v", 0, REG_BINARY, unreadable, 8),
            ERROR_NOACCESS);
  // Nothing to read: nothing is read.
  EXPECT_EQ(RegSetValueExA(Scratch(), "v", 0, REG_BINARY, unreadable, 0),
            ERROR_SUCCESS);
#ifdef CORVANE_EMULATED
  EXPECT_EQ(RegSetValueExA(Scratch(), "v", 0, REG_SZ, unreadable, 1),
            ERROR_NOACCESS);
  EXPECT_EQ(RegSetValueExW(Scratch(), L"v", 0, REG_SZ, unreadable, 8),
            ERROR_NOACCESS);
  EXPECT_EQ(RegSetValueExA(Scratch(), "v", 0, REG_SZ, unreadable, 0),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(Scratch(), L"v", 0, REG_SZ, unreadable, 0),
            ERROR_SUCCESS);
  ASSERT_EQ(SetString(Scratch(), "v", "text"), ERROR_SUCCESS);

  // A page that can be read but not written, and one that can't be either.
  const long page = sysconf(_SC_PAGESIZE);
  void* pages =
      mmap(nullptr, 2 * page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(pages, MAP_FAILED);
  auto* readOnly = static_cast<BYTE*>(pages);
  ASSERT_EQ(mprotect(readOnly + page, page, PROT_NONE), 0);
  for (BYTE* bad : {readOnly, readOnly + page}) {
    DWORD size = 64, length = 16;
    EXPECT_EQ(RegQueryValueExA(Scratch(), "v", nullptr, nullptr, bad, &size),
              ERROR_NOACCESS);
    size = 64;
    EXPECT_EQ(RegQueryValueExW(Scratch(), L"v", nullptr, nullptr, bad, &size),
              ERROR_NOACCESS);
    EXPECT_EQ(RegEnumValueA(Scratch(), 0, reinterpret_cast<char*>(bad), &length,
                            nullptr, nullptr, nullptr, nullptr),
              ERROR_NOACCESS);
    size = 16;
    EXPECT_EQ(
        RegGetValueA(Scratch(), nullptr, "v", RRF_RT_ANY, nullptr, bad, &size),
        ERROR_NOACCESS);
    EXPECT_EQ(RegSetValueExA(Scratch(), "w", 0, REG_BINARY, bad, 0),
              ERROR_SUCCESS);
  }
  // The readable page is data a write may take, again and again; what was
  // read before vouches for no byte past its page.
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(RegSetValueExA(Scratch(), "w", 0, REG_BINARY, readOnly, 4),
              ERROR_SUCCESS);
    EXPECT_EQ(
        RegSetValueExA(Scratch(), "w", 0, REG_BINARY, readOnly + page - 2, 4),
        ERROR_NOACCESS);
    EXPECT_EQ(RegSetValueExA(Scratch(), "w", 0, REG_BINARY, readOnly + page, 4),
              ERROR_NOACCESS);
  }
  munmap(pages, 2 * page);
#endif
}

}  // namespace
}  // namespace corvane::platform
