// RegGetValueA and RegGetValueW: one value read the way a caller wants it,
// its type checked against the RRF_RT_* types asked for, string data always
// ending in its terminators, REG_EXPAND_SZ expanded unless RRF_NOEXPAND.
// Built, as on Windows, over RegOpenKeyEx, RegQueryValueEx and environment
// expansion of the same text width, so each form answers in its own units.
#include <cstring>
#include <string>
#include <vector>

#include "base/ValueTypes.h"
#include "platform/Platform.h"
#include "platform/emulated/calls/CallerMemory.h"
#include "platform/emulated/calls/Environment.h"

namespace corvane::platform {
namespace {

constexpr LONG kErrorDatatypeMismatch = 1629;

using base::IsStringType;

struct Ansi {
  using Char = char;
  static LONG Open(HKEY key, const char* path, REGSAM view, HKEY* opened) {
    return RegOpenKeyExA(key, path, 0, KEY_QUERY_VALUE | view, opened);
  }
  static LONG Query(HKEY key, const char* name, DWORD* type, BYTE* data,
                    DWORD* size) {
    return RegQueryValueExA(key, name, nullptr, type, data, size);
  }
  static std::string Expand(const std::string& text) {
    std::string out(text.size() + 64, '\0');
    for (;;) {
      const DWORD needed = ExpandEnvironmentStringsA(
          text.c_str(), out.data(), static_cast<DWORD>(out.size()));
      if (needed == 0) return text;
      if (needed <= out.size()) {
        out.resize(needed - 1);
        return out;
      }
      out.resize(needed);
    }
  }
};

struct Wide {
  using Char = wchar_t;
  static LONG Open(HKEY key, const wchar_t* path, REGSAM view, HKEY* opened) {
    return RegOpenKeyExW(key, path, 0, KEY_QUERY_VALUE | view, opened);
  }
  static LONG Query(HKEY key, const wchar_t* name, DWORD* type, BYTE* data,
                    DWORD* size) {
    return RegQueryValueExW(key, name, nullptr, type, data, size);
  }
  static std::wstring Expand(const std::wstring& text) {
    return emulated::ExpandVariables(text);
  }
};

// The whole value, however long it grows between two reads.
template <class Api>
LONG ReadValue(HKEY key, const typename Api::Char* name, DWORD& type,
               std::vector<BYTE>& data) {
  data.resize(256);
  for (;;) {
    DWORD size = static_cast<DWORD>(data.size());
    const LONG status = Api::Query(key, name, &type, data.data(), &size);
    if (status == ERROR_MORE_DATA) {
      data.resize(size);
      continue;
    }
    data.resize(status == ERROR_SUCCESS ? size : 0);
    return status;
  }
}

// String data as the caller gets it: expanded (and then REG_SZ), or with
// the terminators it lacks added, one for a string and two for the end of
// a multi-string. Bytes past the last whole character are dropped.
template <class Api>
void FinishString(DWORD flags, DWORD& type, std::vector<BYTE>& data) {
  using Ch = typename Api::Char;
  std::basic_string<Ch> text(data.size() / sizeof(Ch), Ch{});
  std::memcpy(text.data(), data.data(), text.size() * sizeof(Ch));
  if (type == REG_EXPAND_SZ && (flags & RRF_NOEXPAND) == 0) {
    text = Api::Expand(text.substr(0, text.find(Ch{})));
    text.push_back(Ch{});
    type = REG_SZ;
  } else {
    if (text.empty() || text.back() != Ch{}) text.push_back(Ch{});
    if (type == REG_MULTI_SZ &&
        (text.size() < 2 || text[text.size() - 2] != Ch{})) {
      text.push_back(Ch{});
    }
  }
  data.resize(text.size() * sizeof(Ch));
  std::memcpy(data.data(), text.data(), data.size());
}

DWORD TypeFlag(DWORD type) {
  switch (type) {
    case REG_NONE:
      return RRF_RT_REG_NONE;
    case REG_SZ:
      return RRF_RT_REG_SZ;
    case REG_EXPAND_SZ:
      return RRF_RT_REG_EXPAND_SZ;
    case REG_BINARY:
      return RRF_RT_REG_BINARY;
    case REG_DWORD:
      return RRF_RT_REG_DWORD;
    case REG_MULTI_SZ:
      return RRF_RT_REG_MULTI_SZ;
    case REG_QWORD:
      return RRF_RT_REG_QWORD;
  }
  return 0;
}

// Whether a value of this type and size is one of the types wanted.
// RRF_RT_DWORD and RRF_RT_QWORD take REG_BINARY data of their width only.
LONG Filter(DWORD wanted, DWORD type, std::size_t size) {
  if (wanted == RRF_RT_ANY) return ERROR_SUCCESS;
  if ((wanted & TypeFlag(type)) == 0) return ERROR_UNSUPPORTED_TYPE;
  if (type == REG_BINARY && ((wanted == RRF_RT_DWORD && size != 4) ||
                             (wanted == RRF_RT_QWORD && size != 8))) {
    return kErrorDatatypeMismatch;
  }
  return ERROR_SUCCESS;
}

template <class Api>
LONG GetValue(HKEY hkey, const typename Api::Char* lpSubKey,
              const typename Api::Char* lpValue, DWORD dwFlags, DWORD* pdwType,
              void* pvData, DWORD* pcbData) {
  if (pvData != nullptr && pcbData == nullptr) return ERROR_INVALID_PARAMETER;
  const DWORD wanted = dwFlags & RRF_RT_ANY;
  // An expanded REG_EXPAND_SZ is REG_SZ: asking for REG_EXPAND_SZ without
  // RRF_NOEXPAND asks for what can't come back.
  if ((wanted & RRF_RT_REG_EXPAND_SZ) != 0 && (dwFlags & RRF_NOEXPAND) == 0 &&
      wanted != RRF_RT_ANY) {
    return ERROR_INVALID_PARAMETER;
  }
  // The subkey's view: one flag at most.
  const DWORD views = dwFlags & (RRF_SUBKEY_WOW6464KEY | RRF_SUBKEY_WOW6432KEY);
  if (views == (RRF_SUBKEY_WOW6464KEY | RRF_SUBKEY_WOW6432KEY)) {
    return ERROR_INVALID_PARAMETER;
  }
  const REGSAM view = views == RRF_SUBKEY_WOW6432KEY   ? KEY_WOW64_32KEY
                      : views == RRF_SUBKEY_WOW6464KEY ? KEY_WOW64_64KEY
                                                       : 0;
  HKEY key = hkey;
  if (lpSubKey != nullptr && *lpSubKey != 0) {
    if (const LONG status = Api::Open(hkey, lpSubKey, view, &key)) {
      return status;
    }
  }
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  LONG status = ReadValue<Api>(key, lpValue, type, data);
  if (key != hkey) RegCloseKey(key);

  const DWORD capacity = pvData != nullptr ? *pcbData : 0;
  if (status == ERROR_SUCCESS) {
    if (IsStringType(type)) FinishString<Api>(dwFlags, type, data);
    status = Filter(wanted, type, data.size());
    // What was read is handed out even when its type was not wanted.
    if (pvData != nullptr) {
      if (data.size() <= capacity) {
        if (!emulated::WriteCaller(pvData, data.data(), data.size())) {
          return ERROR_NOACCESS;
        }
      } else if (status == ERROR_SUCCESS) {
        status = ERROR_MORE_DATA;
      }
    }
    if (pdwType != nullptr) *pdwType = type;
    if (pcbData != nullptr) *pcbData = static_cast<DWORD>(data.size());
  } else if (status == ERROR_FILE_NOT_FOUND && pvData == nullptr &&
             pcbData != nullptr) {
    *pcbData = 0;
  }
  if (status != ERROR_SUCCESS && pvData != nullptr &&
      (dwFlags & RRF_ZEROONFAILURE) != 0) {
    if (!emulated::FillCaller(pvData, 0, capacity)) return ERROR_NOACCESS;
  }
  return status;
}

}  // namespace

LONG RegGetValueA(HKEY hkey, const char* lpSubKey, const char* lpValue,
                  DWORD dwFlags, DWORD* pdwType, void* pvData, DWORD* pcbData) {
  return GetValue<Ansi>(hkey, lpSubKey, lpValue, dwFlags, pdwType, pvData,
                        pcbData);
}

LONG RegGetValueW(HKEY hkey, const wchar_t* lpSubKey, const wchar_t* lpValue,
                  DWORD dwFlags, DWORD* pdwType, void* pvData, DWORD* pcbData) {
  return GetValue<Wide>(hkey, lpSubKey, lpValue, dwFlags, pdwType, pvData,
                        pcbData);
}

}  // namespace corvane::platform
