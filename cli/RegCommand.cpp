// corvane-reg's command dispatch, its usage texts, and the one place where a
// failure becomes "ERROR: ..." and exit status 1.
#include "cli/RegCommand.h"

#include <array>

#include "base/AsciiCase.h"
#include "base/Unicode.h"
#include "cli/RegCommands.h"
#include "cli/RegCommon.h"

namespace corvane::cli {

namespace {

struct Command {
  const wchar_t* name;
  int (*run)(const std::vector<std::wstring>&, RegConsole&);
  const wchar_t* usage;
};

constexpr std::array<Command, 11> kCommands = {{
    {L"QUERY", Query,
     L"corvane-reg QUERY KEY [/v NAME | /ve] [/s] [/f TEXT] "
     L"[/reg:32 | /reg:64]\n"
     L"\n"
     L"  KEY      ROOT[\\PATH]; ROOT is HKLM, HKCU, HKCR, HKU or HKCC (or\n"
     L"           HKEY_LOCAL_MACHINE and the other long forms)\n"
     L"  /v NAME  only the value NAME\n"
     L"  /ve      only the default value\n"
     L"  /s       the whole tree below KEY\n"
     L"  /f TEXT  keys and values whose name or data holds TEXT (any case)\n"
     L"  /reg:32  in the registry's 32-bit view (/reg:64: its 64-bit view;\n"
     L"           without either, the program's own)\n"},
    {L"ADD", Add,
     L"corvane-reg ADD KEY [/v NAME | /ve] [/t TYPE] [/s SEP] [/d DATA] [/f]\n"
     L"                [/reg:32 | /reg:64]\n"
     L"\n"
     L"  Creates KEY (every missing level) and writes one value.\n"
     L"  /v NAME  the value to write; without /v or /ve, the default value\n"
     L"  /t TYPE  REG_SZ (the default), REG_EXPAND_SZ, REG_MULTI_SZ,\n"
     L"           REG_DWORD (or REG_DWORD_LITTLE_ENDIAN), "
     L"REG_DWORD_BIG_ENDIAN,\n"
     L"           REG_QWORD, REG_BINARY, REG_NONE\n"
     L"  /s SEP   the character between the strings of a REG_MULTI_SZ\n"
     L"           (default \\0)\n"
     L"  /d DATA  the data: text, a number (decimal or 0x hexadecimal), or\n"
     L"           hexadecimal digits for REG_BINARY\n"
     L"  /f       overwrite an existing value without asking\n"
     L"  /reg:32  in the registry's 32-bit view (/reg:64: its 64-bit view;\n"
     L"           without either, the program's own)\n"},
    {L"DELETE", Delete,
     L"corvane-reg DELETE KEY [/v NAME | /ve | /va] [/f] [/reg:32 | /reg:64]\n"
     L"\n"
     L"  Without /v, /ve or /va, deletes KEY with everything below it.\n"
     L"  /v NAME  the value NAME\n"
     L"  /ve      the default value\n"
     L"  /va      every value of KEY\n"
     L"  /f       delete without asking\n"
     L"  /reg:32  in the registry's 32-bit view (/reg:64: its 64-bit view;\n"
     L"           without either, the program's own)\n"},
    {L"EXPORT", Export,
     L"corvane-reg EXPORT KEY FILE [/y] [/reg:32 | /reg:64]\n"
     L"\n"
     L"  Writes KEY and its tree to FILE as a regedit .reg file.\n"
     L"  /y       overwrite FILE without asking\n"
     L"  /reg:32  in the registry's 32-bit view (/reg:64: its 64-bit view;\n"
     L"           without either, the program's own)\n"},
    {L"IMPORT", Import,
     L"corvane-reg IMPORT FILE [/reg:32 | /reg:64]\n"
     L"\n"
     L"  Applies a .reg file (REGEDIT4 or Version 5.00). A file with a\n"
     L"  mistake in it changes nothing.\n"
     L"  /reg:32  in the registry's 32-bit view (/reg:64: its 64-bit view;\n"
     L"           without either, the program's own)\n"},
    {L"COPY", Copy,
     L"corvane-reg COPY KEY1 KEY2 [/s] [/f] [/reg:32 | /reg:64]\n"
     L"\n"
     L"  Copies the values of KEY1 to KEY2, creating KEY2 when it is missing.\n"
     L"  Types, data and the order of the values are kept exactly. Keys the\n"
     L"  copy creates are non-volatile and have no class name; keys KEY2\n"
     L"  already has keep theirs. Values and subkeys only KEY2 has stay.\n"
     L"  A key can't be copied onto itself, nor with /s into its own tree.\n"
     L"  /s       the whole tree below KEY1 as well\n"
     L"  /f       overwrite values KEY2 already has without asking\n"
     L"  /reg:32  in the registry's 32-bit view (/reg:64: its 64-bit view;\n"
     L"           without either, the program's own)\n"},
    {L"COMPARE", Compare,
     L"corvane-reg COMPARE KEY1 KEY2 [/v NAME | /ve] [/oa | /od | /os | /on] "
     L"[/s]\n"
     L"                    [/reg:32 | /reg:64]\n"
     L"\n"
     L"  Compares the values and the subkey names of two keys. Either one\n"
     L"  (not both) may be a .reg file instead: the key compared in it is the\n"
     L"  other side's, HKCR standing for HKLM\\SOFTWARE\\Classes. A file that\n"
     L"  deletes anything ([-KEY], \"NAME\"=-) is refused. Names compare in\n"
     L"  any case. Each item shows after = (the same on both sides), < (only\n"
     L"  or different in KEY1) or > (only or different in KEY2).\n"
     L"  /v NAME  only the value NAME\n"
     L"  /ve      only the default value\n"
     L"  /oa      show differences and matches\n"
     L"  /od      show differences (the default)\n"
     L"  /os      show matches\n"
     L"  /on      show neither, only the result\n"
     L"  /s       the whole trees, not only the subkeys' names\n"
     L"  /reg:32  in the registry's 32-bit view (/reg:64: its 64-bit view;\n"
     L"           without either, the program's own)\n"
     L"\n"
     L"  Exit status: 0 identical, 2 different, 1 failure.\n"},
    {L"SAVE", Save,
     L"corvane-reg SAVE KEY FILE [/y] [/reg:32 | /reg:64]\n"
     L"\n"
     L"  Writes KEY and its tree to FILE as a hive file, which LOAD and\n"
     L"  RESTORE take. Volatile keys are left out.\n"
     L"  /y       overwrite FILE without asking\n"
     L"  /reg:32  in the registry's 32-bit view (/reg:64: its 64-bit view;\n"
     L"           without either, the program's own)\n"},
    {L"LOAD", Load,
     L"corvane-reg LOAD KEY FILE [/reg:32 | /reg:64]\n"
     L"\n"
     L"  Loads the hive file FILE as the new key KEY, which must be directly\n"
     L"  below HKLM or HKU. What is written to it goes to FILE by UNLOAD at\n"
     L"  the latest; a hive stays loaded until UNLOAD or the next restart.\n"
     L"  /reg:32 and /reg:64 are taken, as reg takes them: both views share\n"
     L"  the keys a hive loads below.\n"},
    {L"UNLOAD", Unload,
     L"corvane-reg UNLOAD KEY\n"
     L"\n"
     L"  Writes the hive loaded as KEY (directly below HKLM or HKU) to its\n"
     L"  file and removes it from the registry.\n"},
    {L"RESTORE", Restore,
     L"corvane-reg RESTORE KEY FILE [/reg:32 | /reg:64]\n"
     L"\n"
     L"  Replaces the values and subkeys of KEY with those of the hive file\n"
     L"  FILE (one SAVE wrote). KEY itself stays.\n"
     L"  /reg:32  in the registry's 32-bit view (/reg:64: its 64-bit view;\n"
     L"           without either, the program's own)\n"},
}};

constexpr wchar_t kOverview[] =
    L"corvane-reg QUERY | ADD | DELETE | COPY | COMPARE | EXPORT | IMPORT |\n"
    L"            SAVE | RESTORE | LOAD | UNLOAD ...\n"
    L"\n"
    L"Type \"corvane-reg COMMAND /?\" for the options of a command.\n";

// "/?" or "/h", with "-" for "/", in any case.
bool IsHelp(const std::wstring& arg) {
  const std::wstring upper = base::AsciiUpper(arg);
  return upper == L"/?" || upper == L"-?" || upper == L"/H" || upper == L"-H";
}

}  // namespace

int RunRegCommand(const std::vector<std::wstring>& args, RegConsole& console) {
  if (args.empty()) {
    console.Err(
        L"ERROR: Invalid syntax.\nType \"corvane-reg /?\" for usage.\n");
    return 1;
  }
  if (args.size() == 1 && IsHelp(args[0])) {
    console.Out(kOverview);
    return 0;
  }
  const std::wstring word = base::AsciiUpper(args[0]);
  for (const Command& command : kCommands) {
    if (word != command.name) continue;
    const std::vector<std::wstring> rest(args.begin() + 1, args.end());
    if (rest.size() == 1 && IsHelp(rest[0])) {
      console.Out(command.usage);
      return 0;
    }
    try {
      return command.run(rest, console);
    } catch (const CommandFailure& failure) {
      console.Err(L"ERROR: " + failure.message + L"\n");
    } catch (const std::exception& error) {
      // Out of memory, mostly: nothing the user can fix, but no crash.
      console.Err(L"ERROR: " + base::Utf8ToWide(error.what()) + L"\n");
    }
    return 1;
  }
  console.Err(L"ERROR: Invalid syntax.\nType \"corvane-reg /?\" for usage.\n");
  return 1;
}

}  // namespace corvane::cli
