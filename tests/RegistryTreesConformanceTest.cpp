// Copying and renaming keys, values of a subkey, many values at once, and
// the older registry functions, checked the same way against the emulated
// registry and, in the Windows build, against the system's own (under Wine).
// Where Wine parts from Microsoft's documentation the case follows the
// documentation, runs on the emulated backend only and says what Wine does.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "support/ScratchKey.h"

namespace corvane::platform {
namespace {

using testing::QueryString;
using testing::ScratchKey;
using testing::SubkeyNames;
using testing::ValueCount;

LONG SetString(HKEY key, const char* name, const std::string& text) {
  return RegSetValueExA(key, name, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
}

LONG SetDword(HKEY key, const char* name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// A key's class, through RegQueryInfoKeyA.
std::string ClassOf(HKEY key) {
  char text[64] = "";
  DWORD length = sizeof text;
  EXPECT_EQ(
      RegQueryInfoKeyA(key, text, &length, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr),
      ERROR_SUCCESS);
  return std::string(text, length);
}

class RegistryTrees : public ::testing::Test {
 protected:
  HKEY Scratch() const { return scratch_.Handle(); }
  HKEY Open(const char* path, REGSAM access = KEY_ALL_ACCESS) {
    HKEY key = 0;
    EXPECT_EQ(RegOpenKeyExA(Scratch(), path, 0, access, &key), ERROR_SUCCESS)
        << path;
    return key;
  }
  // Source\{Leaf (classed, two values), Sub\Deep (one value)} and a value
  // of its own.
  void MakeSource() {
    HKEY key = 0;
    char className[] = "Classy";
    ASSERT_EQ(RegCreateKeyExA(Scratch(), "Source\\Leaf", 0, className, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(SetString(key, "Text", "leaf"), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(key, "Number", 7), ERROR_SUCCESS);
    RegCloseKey(key);
    key = scratch_.CreateKey("Source\\Sub\\Deep");
    EXPECT_EQ(SetString(key, "", "deep default"), ERROR_SUCCESS);
    RegCloseKey(key);
    key = Open("Source");
    EXPECT_EQ(SetString(key, "Top", "top"), ERROR_SUCCESS);
    RegCloseKey(key);
  }

  ScratchKey scratch_;
};

TEST_F(RegistryTrees, CopyTreeCopiesValuesAndSubkeysButNoClasses) {
  MakeSource();
  HKEY destination = scratch_.CreateKey("Target");
  HKEY kept = scratch_.CreateKey("Target\\Leaf");
  ASSERT_EQ(SetString(kept, "Own", "stays"), ERROR_SUCCESS);
  ASSERT_EQ(SetString(kept, "Text", "overwritten"), ERROR_SUCCESS);
  RegCloseKey(kept);

  ASSERT_EQ(RegCopyTreeA(Scratch(), "Source", destination), ERROR_SUCCESS);
  EXPECT_EQ(QueryString(destination, "Top"), "top");
  EXPECT_EQ(SubkeyNames(destination),
            (std::vector<std::string>{"Leaf", "Sub"}));
  HKEY leaf = Open("Target\\Leaf");
  EXPECT_EQ(QueryString(leaf, "Text"), "leaf");
  EXPECT_EQ(QueryString(leaf, "Own"), "stays");
  EXPECT_EQ(ValueCount(leaf), 3u);
  RegCloseKey(leaf);
  HKEY deep = Open("Target\\Sub\\Deep");
  EXPECT_EQ(QueryString(deep, ""), "deep default");
  RegCloseKey(deep);
  // Made by the copy, without the source's class.
  scratch_.Make("Elsewhere");
  HKEY elsewhere = Open("Elsewhere");
  ASSERT_EQ(RegCopyTreeW(Scratch(), L"Source", elsewhere), ERROR_SUCCESS);
  HKEY copiedLeaf = Open("Elsewhere\\Leaf");
  EXPECT_EQ(ClassOf(copiedLeaf), "");
  RegCloseKey(copiedLeaf);
  RegCloseKey(elsewhere);

  // No subkey copies the handle's own key; onto itself nothing changes.
  HKEY source = Open("Source", KEY_READ);
  HKEY third = scratch_.CreateKey("Third");
  EXPECT_EQ(RegCopyTreeA(source, nullptr, third), ERROR_SUCCESS);
  EXPECT_EQ(QueryString(third, "Top"), "top");
  HKEY self = Open("Source");
  EXPECT_EQ(RegCopyTreeA(self, nullptr, self), ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(self), (std::vector<std::string>{"Leaf", "Sub"}));
  EXPECT_EQ(ValueCount(self), 1u);
  for (HKEY key : {source, third, self, destination}) RegCloseKey(key);
}

TEST_F(RegistryTrees, CopyTreeRefusals) {
  MakeSource();
  HKEY destination = scratch_.CreateKey("Target");
  // (A closed handle's value may be handed out again at once on Windows.)
  EXPECT_EQ(RegCopyTreeA(Scratch(), "Source", 0), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCopyTreeA(0, nullptr, destination), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCopyTreeA(Scratch(), "Missing", destination),
            ERROR_FILE_NOT_FOUND);
  // The source must be readable, the destination writable for its values.
  HKEY writeOnly = Open("Source", KEY_WRITE);
  EXPECT_EQ(RegCopyTreeA(writeOnly, nullptr, destination), ERROR_ACCESS_DENIED);
  HKEY readOnly = Open("Target", KEY_READ);
  EXPECT_EQ(RegCopyTreeA(Scratch(), "Source", readOnly), ERROR_ACCESS_DENIED);
  EXPECT_EQ(ValueCount(destination), 0u);
  EXPECT_TRUE(SubkeyNames(destination).empty());
  RegCloseKey(writeOnly);
  RegCloseKey(readOnly);

  // A volatile key can't hold the copy's lasting keys. The emulation copies
  // in one transaction, so the values written before that was found are
  // gone too; Windows and Wine copy call by call and leave them.
  HKEY volatileKey = 0;
  ASSERT_EQ(
      RegCreateKeyExA(Scratch(), "Volatile", 0, nullptr, REG_OPTION_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &volatileKey, nullptr),
      ERROR_SUCCESS);
  EXPECT_EQ(RegCopyTreeA(Scratch(), "Source", volatileKey),
            ERROR_CHILD_MUST_BE_VOLATILE);
#ifdef CORVANE_EMULATED
  EXPECT_EQ(ValueCount(volatileKey), 0u);

  // Into its own tree a copy would never end (Wine copies until the keys
  // grow too deep): refused, and nothing is written.
  HKEY inside = Open("Source\\Sub\\Deep");
  EXPECT_EQ(RegCopyTreeA(Scratch(), "Source", inside), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(SubkeyNames(inside).empty());
  EXPECT_EQ(ValueCount(inside), 1u);
  RegCloseKey(inside);
#endif
  RegCloseKey(volatileKey);
  RegCloseKey(destination);
}

TEST_F(RegistryTrees, DeleteKeyExTakesViewFlagsAndNoSubtree) {
  scratch_.Make("Parent\\Child");
  scratch_.Make("One");
  scratch_.Make("Two");
  scratch_.Make("Three");
  EXPECT_EQ(RegDeleteKeyExA(Scratch(), "One", KEY_WOW64_64KEY, 0),
            ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyExW(Scratch(), L"two", KEY_WOW64_32KEY, 0),
            ERROR_SUCCESS);
  // Rights other than the view flags are of no use to it, and passed over.
  EXPECT_EQ(RegDeleteKeyExA(Scratch(), "Three", KEY_READ, 0), ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(Scratch()), std::vector<std::string>{"Parent"});
  EXPECT_EQ(RegDeleteKeyExA(Scratch(), "Parent", 0, 0), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyExA(Scratch(), "Missing", 0, 0), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyExA(Scratch(), nullptr, 0, 0), ERROR_INVALID_PARAMETER);
#ifdef CORVANE_EMULATED
  // Reserved must be 0, as documented; Wine doesn't look at it.
  EXPECT_EQ(RegDeleteKeyExA(Scratch(), "Parent\\Child", 0, 1),
            ERROR_INVALID_PARAMETER);
#endif
  EXPECT_TRUE(scratch_.Has("Parent\\Child"));
}

TEST_F(RegistryTrees, SetKeyValueMakesTheSubkeyDeleteKeyValueDoesNot) {
  const DWORD number = 42;
  EXPECT_EQ(RegSetKeyValueA(Scratch(), "Made\\Here", "Number", REG_DWORD,
                            &number, sizeof number),
            ERROR_SUCCESS);
  HKEY made = Open("Made\\Here");
  DWORD read = 0, size = sizeof read;
  EXPECT_EQ(RegQueryValueExA(made, "Number", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(&read), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(read, 42u);
  const std::wstring text = L"wide";
  EXPECT_EQ(
      RegSetKeyValueW(made, nullptr, L"Text", REG_SZ, text.c_str(),
                      static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
      ERROR_SUCCESS);
  EXPECT_EQ(QueryString(made, "Text"), "wide");

  EXPECT_EQ(RegDeleteKeyValueA(Scratch(), "Made\\Here", "Number"),
            ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyValueW(Scratch(), L"Made\\Here", L"Number"),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyValueW(made, nullptr, L"Text"), ERROR_SUCCESS);
  EXPECT_EQ(ValueCount(made), 0u);
  EXPECT_EQ(RegDeleteKeyValueA(Scratch(), "Absent", "Number"),
            ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(scratch_.Has("Absent"));
  RegCloseKey(made);

  // Without a subkey the handle's own rights decide. RegDeleteKeyValue opens
  // an empty one anew, with the rights the key allows; RegSetKeyValue takes
  // it as none.
  HKEY readOnly = Open("Made", KEY_READ);
  EXPECT_EQ(RegSetKeyValueA(readOnly, nullptr, "X", REG_DWORD, &number,
                            sizeof number),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyValueA(readOnly, nullptr, "X"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyValueA(readOnly, "", "X"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(
      RegSetKeyValueA(readOnly, "", "X", REG_DWORD, &number, sizeof number),
      ERROR_ACCESS_DENIED);
  RegCloseKey(readOnly);
}

// Wine answers 120 (ERROR_CALL_NOT_IMPLEMENTED) for some calls of
// RegRenameKey; those cases run on the emulated backend only.
TEST_F(RegistryTrees, RenameKeyKeepsContentAndHandles) {
  scratch_.Make("Old\\Child");
  HKEY open = Open("Old");
  ASSERT_EQ(SetString(open, "Value", "kept"), ERROR_SUCCESS);
  const LONG renamed = RegRenameKey(Scratch(), L"Old", L"New");
#ifndef CORVANE_EMULATED
  if (renamed == ERROR_CALL_NOT_IMPLEMENTED) {
    RegCloseKey(open);
    GTEST_SKIP() << "this system has no RegRenameKey";
  }
#endif
  ASSERT_EQ(renamed, ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(Scratch()), std::vector<std::string>{"New"});
  EXPECT_TRUE(scratch_.Has("New\\Child"));
  // The handle opened before follows the key.
  EXPECT_EQ(QueryString(open, "Value"), "kept");
  EXPECT_EQ(SetString(open, "Later", "x"), ERROR_SUCCESS);
  HKEY reopened = Open("New");
  EXPECT_EQ(QueryString(reopened, "Later"), "x");
  RegCloseKey(reopened);

  // No subkey renames the handle's own key.
  EXPECT_EQ(RegRenameKey(open, nullptr, L"Newer"), ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(Scratch()), std::vector<std::string>{"Newer"});
  RegCloseKey(open);

  scratch_.Make("Other");
  for (const wchar_t* bad :
       {static_cast<const wchar_t*>(nullptr), L"", L"A\\B"}) {
    EXPECT_EQ(RegRenameKey(Scratch(), L"Other", bad), ERROR_INVALID_PARAMETER);
  }
  EXPECT_EQ(RegRenameKey(Scratch(), L"Missing", L"Any"), ERROR_FILE_NOT_FOUND);
  // A name the parent already lists, in any case, the key's own included:
  // access denied.
  EXPECT_EQ(RegRenameKey(Scratch(), L"Other", L"newer"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegRenameKey(Scratch(), L"Other", L"OTHER"), ERROR_ACCESS_DENIED);
  HKEY readOnly = Open("Other", KEY_READ);
  EXPECT_EQ(RegRenameKey(readOnly, nullptr, L"Else"), ERROR_ACCESS_DENIED);
  RegCloseKey(readOnly);
#ifdef CORVANE_EMULATED
  // A predefined key keeps its name; Wine answers 6 (ERROR_INVALID_HANDLE).
  EXPECT_EQ(RegRenameKey(HKEY_CURRENT_USER, nullptr, L"Else"),
            ERROR_ACCESS_DENIED);
#endif
  EXPECT_EQ(SubkeyNames(Scratch()),
            (std::vector<std::string>{"Newer", "Other"}));
}

TEST_F(RegistryTrees, QueryMultipleValuesPacksDataAndReportsSizes) {
  ASSERT_EQ(SetString(Scratch(), "Text", "abcdefg"), ERROR_SUCCESS);  // 8
  ASSERT_EQ(SetDword(Scratch(), "Number", 0x01020304), ERROR_SUCCESS);
  char text[] = "Text", number[] = "Number", missing[] = "Missing";
  VALENTA entries[2] = {{text, 0, 0, 0}, {number, 0, 0, 0}};
  std::vector<char> buffer(64, '\x7f');

  // No buffer, or one too small: 234 and the size needed.
  DWORD total = 0;
  EXPECT_EQ(RegQueryMultipleValuesA(Scratch(), entries, 2, nullptr, &total),
            ERROR_MORE_DATA);
  EXPECT_EQ(total, 12u);
  total = 11;
  EXPECT_EQ(
      RegQueryMultipleValuesA(Scratch(), entries, 2, buffer.data(), &total),
      ERROR_MORE_DATA);
  EXPECT_EQ(total, 12u);

  total = static_cast<DWORD>(buffer.size());
  ASSERT_EQ(
      RegQueryMultipleValuesA(Scratch(), entries, 2, buffer.data(), &total),
      ERROR_SUCCESS);
  EXPECT_EQ(total, 12u);
  EXPECT_EQ(entries[0].ve_type, DWORD{REG_SZ});
  EXPECT_EQ(entries[0].ve_valuelen, 8u);
  EXPECT_STREQ(reinterpret_cast<const char*>(entries[0].ve_valueptr),
               "abcdefg");
  EXPECT_EQ(entries[1].ve_type, DWORD{REG_DWORD});
  EXPECT_EQ(entries[1].ve_valuelen, 4u);
  DWORD read = 0;
  std::memcpy(&read, reinterpret_cast<const void*>(entries[1].ve_valueptr),
              sizeof read);
  EXPECT_EQ(read, 0x01020304u);
  for (const VALENTA& entry : entries) {
    EXPECT_GE(entry.ve_valueptr, reinterpret_cast<std::uintptr_t>(&buffer[0]));
    EXPECT_LE(entry.ve_valueptr + entry.ve_valuelen,
              reinterpret_cast<std::uintptr_t>(&buffer[0] + total));
  }

  // The wide form counts string data in wchar_t units.
  wchar_t wideText[] = L"Text";
  VALENTW wide[1] = {{wideText, 0, 0, 0}};
  std::vector<wchar_t> wideBuffer(16);
  total = static_cast<DWORD>(wideBuffer.size() * sizeof(wchar_t));
  ASSERT_EQ(
      RegQueryMultipleValuesW(Scratch(), wide, 1, wideBuffer.data(), &total),
      ERROR_SUCCESS);
  EXPECT_EQ(total, 8 * sizeof(wchar_t));
  EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(wide[0].ve_valueptr)),
            L"abcdefg");

  VALENTA withMissing[2] = {{text, 0, 0, 0}, {missing, 0, 0, 0}};
  total = static_cast<DWORD>(buffer.size());
  EXPECT_EQ(
      RegQueryMultipleValuesA(Scratch(), withMissing, 2, buffer.data(), &total),
      ERROR_FILE_NOT_FOUND);
  HKEY writeOnly = Open("", KEY_WRITE);
  EXPECT_EQ(
      RegQueryMultipleValuesA(writeOnly, entries, 2, buffer.data(), &total),
      ERROR_ACCESS_DENIED);
  RegCloseKey(writeOnly);
#ifdef CORVANE_EMULATED
  // Wine reads the size through the NULL pointer.
  EXPECT_EQ(
      RegQueryMultipleValuesA(Scratch(), entries, 2, buffer.data(), nullptr),
      ERROR_INVALID_PARAMETER);
  // Past a megabyte of list and data together, as documented; Wine has no
  // such limit.
  EXPECT_EQ(RegQueryMultipleValuesA(Scratch(), entries, 1u << 20, buffer.data(),
                                    &total),
            ERROR_TRANSFER_TOO_LONG);
#endif
}

TEST_F(RegistryTrees, OpenKeyAndCreateKeyWithoutSubkeyGiveTheHandleBack) {
  scratch_.Make("Existing");
  HKEY key = 0;
  for (const char* none : {static_cast<const char*>(nullptr), ""}) {
    EXPECT_EQ(RegOpenKeyA(Scratch(), none, &key), ERROR_SUCCESS);
    EXPECT_EQ(key, Scratch());
    EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, none, &key), ERROR_SUCCESS);
    EXPECT_EQ(key, HKEY_CURRENT_USER);
  }
  EXPECT_EQ(RegOpenKeyW(Scratch(), L"existing", &key), ERROR_SUCCESS);
  EXPECT_NE(key, Scratch());
  RegCloseKey(key);
  EXPECT_EQ(RegOpenKeyA(Scratch(), "Missing", &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyA(Scratch(), "Existing", nullptr),
            ERROR_INVALID_PARAMETER);

  EXPECT_EQ(RegCreateKeyA(Scratch(), "Made\\Deep", &key), ERROR_SUCCESS);
  EXPECT_EQ(SetString(key, "", "x"), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(RegCreateKeyW(Scratch(), L"made\\deep", &key), ERROR_SUCCESS);
  EXPECT_EQ(QueryString(key, ""), "x");
  RegCloseKey(key);
#ifdef CORVANE_EMULATED
  // Wine writes through the NULL pointer.
  EXPECT_EQ(RegCreateKeyA(Scratch(), "Any", nullptr), ERROR_INVALID_PARAMETER);
  // A predefined key with no subkey comes back as itself, as documented;
  // Wine hands out a new handle to it.
  EXPECT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, nullptr, &key), ERROR_SUCCESS);
  EXPECT_EQ(key, HKEY_CURRENT_USER);
#endif
}

TEST_F(RegistryTrees, EnumKeyListsSubkeys) {
  scratch_.Make("Beta");
  scratch_.Make("alpha");
  char name[8];
  wchar_t wide[8];
  EXPECT_EQ(RegEnumKeyA(Scratch(), 0, name, sizeof name), ERROR_SUCCESS);
  EXPECT_STREQ(name, "alpha");
  EXPECT_EQ(RegEnumKeyW(Scratch(), 1, wide, 8), ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(wide), L"Beta");
  EXPECT_EQ(RegEnumKeyA(Scratch(), 2, name, sizeof name), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegEnumKeyA(Scratch(), 0, name, 5), ERROR_MORE_DATA);
  HKEY noList = Open("", KEY_QUERY_VALUE);
  EXPECT_EQ(RegEnumKeyA(noList, 0, name, sizeof name), ERROR_ACCESS_DENIED);
  RegCloseKey(noList);
}

TEST_F(RegistryTrees, QueryValueReadsTheDefaultTextOfASubkey) {
  HKEY key = scratch_.CreateKey("Sub");
  ASSERT_EQ(SetString(key, "", "text"), ERROR_SUCCESS);
  char data[16] = "untouched";
  LONG size = sizeof data;
  EXPECT_EQ(RegQueryValueA(Scratch(), "Sub", data, &size), ERROR_SUCCESS);
  EXPECT_STREQ(data, "text");
  EXPECT_EQ(size, 5);
  size = 0;
  EXPECT_EQ(RegQueryValueA(key, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 5);
  size = 3;
  EXPECT_EQ(RegQueryValueA(key, "", data, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 5);
  wchar_t wide[8];
  size = sizeof wide;
  EXPECT_EQ(RegQueryValueW(Scratch(), L"sub", wide, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(wide), L"text");
  EXPECT_EQ(size, LONG{5 * sizeof(wchar_t)});

  // A key without a default value reads as the empty string.
  scratch_.Make("Empty");
  size = sizeof data;
  EXPECT_EQ(RegQueryValueA(Scratch(), "Empty", data, &size), ERROR_SUCCESS);
  EXPECT_STREQ(data, "");
  EXPECT_EQ(size, 1);
  EXPECT_EQ(RegQueryValueA(Scratch(), "Missing", data, &size),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueA(Scratch(), "Sub", data, nullptr),
            ERROR_INVALID_PARAMETER);

#ifdef CORVANE_EMULATED
  // Data that isn't text is never handed over as if it were; Wine copies
  // it out.
  ASSERT_EQ(SetDword(key, "", 5), ERROR_SUCCESS);
  size = sizeof data;
  EXPECT_EQ(RegQueryValueA(key, nullptr, data, &size), ERROR_INVALID_DATA);
#endif
  RegCloseKey(key);
}

TEST_F(RegistryTrees, SetValueWritesTextOnlyAndMakesTheSubkey) {
  // cbData is not looked at: the text's own length is.
  EXPECT_EQ(RegSetValueA(Scratch(), "New\\Key", REG_SZ, "abc", 1),
            ERROR_SUCCESS);
  HKEY key = Open("New\\Key");
  EXPECT_EQ(QueryString(key, ""), "abc");
  EXPECT_EQ(RegSetValueW(key, nullptr, REG_SZ, L"wide", 0), ERROR_SUCCESS);
  EXPECT_EQ(QueryString(key, ""), "wide");
  EXPECT_EQ(RegSetValueA(key, nullptr, REG_EXPAND_SZ, "x", 2),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueA(key, nullptr, REG_SZ, nullptr, 0),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueA(Scratch(), "Not\\Made", REG_DWORD, "x", 2),
            ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(scratch_.Has("Not"));
  RegCloseKey(key);
  HKEY readOnly = Open("New", KEY_READ);
  EXPECT_EQ(RegSetValueA(readOnly, nullptr, REG_SZ, "x", 2),
            ERROR_ACCESS_DENIED);
  RegCloseKey(readOnly);
}

}  // namespace
}  // namespace corvane::platform
