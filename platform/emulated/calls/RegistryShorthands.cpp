// The registry functions Windows builds over the Ex ones, built the same
// way here so that each answers as they do: RegSetKeyValue and
// RegDeleteKeyValue (a value of a subkey), and the older RegOpenKey,
// RegCreateKey, RegEnumKey, RegQueryValue and RegSetValue. Each ANSI form goes
// over the ANSI functions, each wide form over the wide ones.
#include <cstring>
#include <cwchar>

#include "base/ValueTypes.h"
#include "platform/Platform.h"
#include "platform/emulated/calls/CallerMemory.h"
#include "platform/emulated/calls/RegistryKeys.h"

namespace corvane::platform {
namespace {

struct Ansi {
  using Char = char;
  static std::size_t Length(const char* text) { return std::strlen(text); }
  static LONG Open(HKEY key, const char* path, REGSAM sam, HKEY* opened) {
    return RegOpenKeyExA(key, path, 0, sam, opened);
  }
  static LONG Create(HKEY key, const char* path, REGSAM sam, HKEY* opened) {
    return RegCreateKeyExA(key, path, 0, nullptr, REG_OPTION_NON_VOLATILE, sam,
                           nullptr, opened, nullptr);
  }
  static LONG Set(HKEY key, const char* name, DWORD type, const BYTE* data,
                  DWORD size) {
    return RegSetValueExA(key, name, 0, type, data, size);
  }
  static LONG Query(HKEY key, const char* name, DWORD* type, BYTE* data,
                    DWORD* size) {
    return RegQueryValueExA(key, name, nullptr, type, data, size);
  }
  static LONG DeleteValue(HKEY key, const char* name) {
    return RegDeleteValueA(key, name);
  }
  static LONG EnumKey(HKEY key, DWORD index, char* name, DWORD* length) {
    return RegEnumKeyExA(key, index, name, length, nullptr, nullptr, nullptr,
                         nullptr);
  }
};

struct Wide {
  using Char = wchar_t;
  static std::size_t Length(const wchar_t* text) { return std::wcslen(text); }
  static LONG Open(HKEY key, const wchar_t* path, REGSAM sam, HKEY* opened) {
    return RegOpenKeyExW(key, path, 0, sam, opened);
  }
  static LONG Create(HKEY key, const wchar_t* path, REGSAM sam, HKEY* opened) {
    return RegCreateKeyExW(key, path, 0, nullptr, REG_OPTION_NON_VOLATILE, sam,
                           nullptr, opened, nullptr);
  }
  static LONG Set(HKEY key, const wchar_t* name, DWORD type, const BYTE* data,
                  DWORD size) {
    return RegSetValueExW(key, name, 0, type, data, size);
  }
  static LONG Query(HKEY key, const wchar_t* name, DWORD* type, BYTE* data,
                    DWORD* size) {
    return RegQueryValueExW(key, name, nullptr, type, data, size);
  }
  static LONG DeleteValue(HKEY key, const wchar_t* name) {
    return RegDeleteValueW(key, name);
  }
  static LONG EnumKey(HKEY key, DWORD index, wchar_t* name, DWORD* length) {
    return RegEnumKeyExW(key, index, name, length, nullptr, nullptr, nullptr,
                         nullptr);
  }
};

template <class Ch>
bool Names(const Ch* path) {
  return path != nullptr && path[0] != 0;
}

// A handle to the subkey `path` names (made by `open`), or hKey itself when
// there is no path (or, with `emptyIsNone`, an empty one); closed when done
// with.
class SubkeyHandle {
 public:
  template <class Ch, class Open>
  LONG Get(HKEY hKey, const Ch* path, Open&& open, bool emptyIsNone = true) {
    if (path == nullptr || (emptyIsNone && path[0] == 0)) {
      key_ = hKey;
      return ERROR_SUCCESS;
    }
    const LONG status = open(hKey, path, &key_);
    opened_ = status == ERROR_SUCCESS;
    return status;
  }
  ~SubkeyHandle() {
    if (opened_) RegCloseKey(key_);
  }
  HKEY Handle() const { return key_; }

 private:
  HKEY key_ = 0;
  bool opened_ = false;
};

template <class Form>
LONG SetKeyValue(HKEY hKey, const typename Form::Char* lpSubKey,
                 const typename Form::Char* lpValueName, DWORD dwType,
                 const void* lpData, DWORD cbData) {
  SubkeyHandle key;
  if (const LONG status =
          key.Get(hKey, lpSubKey, [](HKEY at, auto path, HKEY* opened) {
            return Form::Create(at, path, KEY_SET_VALUE, opened);
          })) {
    return status;
  }
  return Form::Set(key.Handle(), lpValueName, dwType,
                   static_cast<const BYTE*>(lpData), cbData);
}

template <class Form>
LONG DeleteKeyValue(HKEY hKey, const typename Form::Char* lpSubKey,
                    const typename Form::Char* lpValueName) {
  SubkeyHandle key;
  if (const LONG status = key.Get(
          hKey, lpSubKey,
          [](HKEY at, auto path, HKEY* opened) {
            return Form::Open(at, path, KEY_SET_VALUE, opened);
          },
          false)) {
    return status;
  }
  return Form::DeleteValue(key.Handle(), lpValueName);
}

// No subkey gives back the handle passed in, whatever it is.
template <class Form>
LONG OpenKey(HKEY hKey, const typename Form::Char* lpSubKey, HKEY* phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  if (!Names(lpSubKey)) {
    *phkResult = hKey;
    return ERROR_SUCCESS;
  }
  return Form::Open(hKey, lpSubKey, MAXIMUM_ALLOWED, phkResult);
}

// No subkey on a predefined key gives back that key; on any other handle,
// a new handle to its key.
template <class Form>
LONG CreateKey(HKEY hKey, const typename Form::Char* lpSubKey,
               HKEY* phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  if (!Names(lpSubKey) && emulated::IsRoot(hKey)) {
    *phkResult = hKey;
    return ERROR_SUCCESS;
  }
  return Form::Create(hKey, lpSubKey, MAXIMUM_ALLOWED, phkResult);
}

template <class Form>
LONG EnumKey(HKEY hKey, DWORD dwIndex, typename Form::Char* lpName,
             DWORD cchName) {
  return Form::EnumKey(hKey, dwIndex, lpName, &cchName);
}

// The default value of the subkey, which must be text: a key without one
// reads as the empty string, as every key had one when this function was
// all there was.
template <class Form>
LONG QueryValue(HKEY hKey, const typename Form::Char* lpSubKey,
                typename Form::Char* lpData, LONG* lpcbData) {
  using Ch = typename Form::Char;
  if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
  SubkeyHandle key;
  if (const LONG status =
          key.Get(hKey, lpSubKey, [](HKEY at, auto path, HKEY* opened) {
            return Form::Open(at, path, MAXIMUM_ALLOWED, opened);
          })) {
    return status;
  }
  // Asked for its type and size first: data of another type is never
  // copied into a buffer meant for text.
  DWORD type = REG_NONE, size = 0;
  LONG status = Form::Query(key.Handle(), nullptr, &type, nullptr, &size);
  if (status == ERROR_FILE_NOT_FOUND) {
    const Ch nul = 0;
    if (lpData != nullptr && *lpcbData >= static_cast<LONG>(sizeof(Ch)) &&
        !emulated::WriteCaller(lpData, &nul, sizeof nul)) {
      return ERROR_NOACCESS;
    }
    if (lpcbData != nullptr) *lpcbData = sizeof(Ch);
    return ERROR_SUCCESS;
  }
  if (status != ERROR_SUCCESS) return status;
  if (!base::IsStringType(type)) return ERROR_INVALID_DATA;
  if (lpcbData == nullptr) return ERROR_SUCCESS;
  if (lpData == nullptr) {
    *lpcbData = static_cast<LONG>(size);
    return ERROR_SUCCESS;
  }
  size = static_cast<DWORD>(*lpcbData);
  status = Form::Query(key.Handle(), nullptr, &type,
                       reinterpret_cast<BYTE*>(lpData), &size);
  *lpcbData = static_cast<LONG>(size);
  return status;
}

// REG_SZ only; the subkey is made when missing; cbData is not looked at:
// the text's own length, its NUL included, is what is stored.
template <class Form>
LONG SetValue(HKEY hKey, const typename Form::Char* lpSubKey, DWORD dwType,
              const typename Form::Char* lpData) {
  using Ch = typename Form::Char;
  if (dwType != REG_SZ || lpData == nullptr) return ERROR_INVALID_PARAMETER;
  const DWORD size =
      static_cast<DWORD>((Form::Length(lpData) + 1) * sizeof(Ch));
  return SetKeyValue<Form>(hKey, lpSubKey, nullptr, REG_SZ, lpData, size);
}

}  // namespace

LONG RegSetKeyValueA(HKEY hKey, LPCSTR lpSubKey, LPCSTR lpValueName,
                     DWORD dwType, LPCVOID lpData, DWORD cbData) {
  return SetKeyValue<Ansi>(hKey, lpSubKey, lpValueName, dwType, lpData, cbData);
}
LONG RegSetKeyValueW(HKEY hKey, LPCWSTR lpSubKey, LPCWSTR lpValueName,
                     DWORD dwType, LPCVOID lpData, DWORD cbData) {
  return SetKeyValue<Wide>(hKey, lpSubKey, lpValueName, dwType, lpData, cbData);
}

LONG RegDeleteKeyValueA(HKEY hKey, LPCSTR lpSubKey, LPCSTR lpValueName) {
  return DeleteKeyValue<Ansi>(hKey, lpSubKey, lpValueName);
}
LONG RegDeleteKeyValueW(HKEY hKey, LPCWSTR lpSubKey, LPCWSTR lpValueName) {
  return DeleteKeyValue<Wide>(hKey, lpSubKey, lpValueName);
}

LONG RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  return OpenKey<Ansi>(hKey, lpSubKey, phkResult);
}
LONG RegOpenKeyW(HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult) {
  return OpenKey<Wide>(hKey, lpSubKey, phkResult);
}

LONG RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  return CreateKey<Ansi>(hKey, lpSubKey, phkResult);
}
LONG RegCreateKeyW(HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult) {
  return CreateKey<Wide>(hKey, lpSubKey, phkResult);
}

LONG RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName) {
  return EnumKey<Ansi>(hKey, dwIndex, lpName, cchName);
}
LONG RegEnumKeyW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, DWORD cchName) {
  return EnumKey<Wide>(hKey, dwIndex, lpName, cchName);
}

LONG RegQueryValueA(HKEY hKey, LPCSTR lpSubKey, LPSTR lpData, PLONG lpcbData) {
  return QueryValue<Ansi>(hKey, lpSubKey, lpData, lpcbData);
}
LONG RegQueryValueW(HKEY hKey, LPCWSTR lpSubKey, LPWSTR lpData,
                    PLONG lpcbData) {
  return QueryValue<Wide>(hKey, lpSubKey, lpData, lpcbData);
}

LONG RegSetValueA(HKEY hKey, LPCSTR lpSubKey, DWORD dwType, LPCSTR lpData,
                  DWORD) {
  return SetValue<Ansi>(hKey, lpSubKey, dwType, lpData);
}
LONG RegSetValueW(HKEY hKey, LPCWSTR lpSubKey, DWORD dwType, LPCWSTR lpData,
                  DWORD) {
  return SetValue<Wide>(hKey, lpSubKey, dwType, lpData);
}

}  // namespace corvane::platform
