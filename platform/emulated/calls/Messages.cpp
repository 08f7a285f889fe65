// The emulated system message table. The wording is Windows' own (English,
// as FormatMessageA gives it with language 0 on an English system), so that
// texts the model shows read the same under the emulation as on Windows.
// Every status the drop-in header defines has its text here, in the order of
// the codes.
#include "platform/emulated/calls/Messages.h"

#include <map>
#include <mutex>
#include <utility>

namespace corvane::platform::emulated {
namespace {

struct Entry {
  DWORD id;
  std::string_view text;
};

constexpr Entry kTable[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {4, "The system cannot open the file.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {7, "The storage control blocks were destroyed.\r\n"},
    {8,
     "Not enough memory resources are available to process this "
     "command.\r\n"},
    {9, "The storage control block address is invalid.\r\n"},
    {10, "The environment is incorrect.\r\n"},
    {11,
     "An attempt was made to load a program with an incorrect "
     "format.\r\n"},
    {12, "The access code is invalid.\r\n"},
    {13, "The data is invalid.\r\n"},
    {14,
     "Not enough memory resources are available to complete this "
     "operation.\r\n"},
    {15, "The system cannot find the drive specified.\r\n"},
    {16, "The directory cannot be removed.\r\n"},
    {17, "The system cannot move the file to a different disk drive.\r\n"},
    {18, "There are no more files.\r\n"},
    {19, "The media is write protected.\r\n"},
    {31, "A device attached to the system is not functioning.\r\n"},
    {32,
     "The process cannot access the file because it is being used by "
     "another process.\r\n"},
    {33,
     "The process cannot access the file because another process has "
     "locked a portion of the file.\r\n"},
    {50, "The request is not supported.\r\n"},
    {53, "The network path was not found.\r\n"},
    {80, "The file exists.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {112, "There is not enough space on the disk.\r\n"},
    {120, "This function is not supported on this system.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {123,
     "The filename, directory name, or volume label syntax is "
     "incorrect.\r\n"},
    {161, "The specified path is invalid.\r\n"},
    {170, "The requested resource is in use.\r\n"},
    {183, "Cannot create a file when that file already exists.\r\n"},
    {206, "The filename or extension is too long.\r\n"},
    {222, "The file type being saved or retrieved has been blocked.\r\n"},
    {234, "More data is available.\r\n"},
    {259, "No more data is available.\r\n"},
    {317,
     "The system cannot find message text for message number 0x%1 in "
     "the message file for %2.\r\n"},
    {998, "Invalid access to memory location.\r\n"},
    {1004, "Invalid flags.\r\n"},
    {1008, "An attempt was made to reference a token that does not exist.\r\n"},
    {1009, "The configuration registry database is corrupt.\r\n"},
    {1010, "The configuration registry key is invalid.\r\n"},
    {1011, "The configuration registry key could not be opened.\r\n"},
    {1012, "The configuration registry key could not be read.\r\n"},
    {1013, "The configuration registry key could not be written.\r\n"},
    {1014,
     "One of the files in the registry database had to be recovered "
     "by use of a log or alternate copy. The recovery was "
     "successful.\r\n"},
    {1015,
     "The registry is corrupted. The structure of one of the files "
     "containing registry data is corrupted, or the system's memory "
     "image of the file is corrupted, or the file could not be "
     "recovered because the alternate copy or log was absent or "
     "corrupted.\r\n"},
    {1016,
     "An I/O operation initiated by the registry failed "
     "unrecoverably. The registry could not read in, or write out, or "
     "flush, one of the files that contain the system's image of the "
     "registry.\r\n"},
    {1017,
     "The system has attempted to load or restore a file into the "
     "registry, but the specified file is not in a registry file "
     "format.\r\n"},
    {1018,
     "Illegal operation attempted on a registry key that has been "
     "marked for deletion.\r\n"},
    {1019,
     "System could not allocate the required space in a registry "
     "log.\r\n"},
    {1020,
     "Cannot create a symbolic link in a registry key that already has "
     "subkeys or values.\r\n"},
    {1021, "Cannot create a stable subkey under a volatile parent key.\r\n"},
    {1113,
     "No mapping for the Unicode character exists in the target multi-byte "
     "code page.\r\n"},
    {1168, "Element not found.\r\n"},
    {1300,
     "Not all privileges or groups referenced are assigned to the "
     "caller.\r\n"},
    {1313, "A specified privilege does not exist.\r\n"},
    {1314, "A required privilege is not held by the client.\r\n"},
    {1326, "The user name or password is incorrect.\r\n"},
    {1450,
     "Insufficient system resources exist to complete the requested "
     "service.\r\n"},
    {1630, "Data of this type is not supported.\r\n"},
    {1722, "The RPC server is unavailable.\r\n"},
    {1813,
     "The specified resource type cannot be found in the image file.\r\n"},
    {1815,
     "The specified resource language ID cannot be found in the image "
     "file.\r\n"},
};

// Texts a test put in; they shadow the table. Tests may run on several
// threads, so the overrides are guarded.
struct Overrides {
  std::mutex mutex;
  std::map<DWORD, std::string> texts;
};

Overrides& TheOverrides() {
  static Overrides overrides;
  return overrides;
}

}  // namespace

std::optional<std::string> SystemMessageText(DWORD id) {
  {
    Overrides& o = TheOverrides();
    std::lock_guard lock(o.mutex);
    if (auto it = o.texts.find(id); it != o.texts.end()) return it->second;
  }
  for (const Entry& entry : kTable) {
    if (entry.id == id) return std::string(entry.text);
  }
  return std::nullopt;
}

void SetMessageText(DWORD id, std::string text) {
  Overrides& o = TheOverrides();
  std::lock_guard lock(o.mutex);
  o.texts[id] = std::move(text);
}

void ResetMessageTexts() {
  Overrides& o = TheOverrides();
  std::lock_guard lock(o.mutex);
  o.texts.clear();
}

}  // namespace corvane::platform::emulated
