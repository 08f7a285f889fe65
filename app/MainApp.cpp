// The repair as one sequence of registry steps over a single, re-targeted
// registry node. A failing step is dropped and the next one runs, as an
// on-error-resume-next routine would; only the fix failure leaves Main.
#include "app/MainApp.h"

#include <memory>
#include <vector>

#include "errors/RaisedError.h"
#include "registry/CRegItem.h"
#include "registry/CRegNode.h"

namespace corvane::MainApp {
namespace {

using platform::HKEY_CLASSES_ROOT;
using platform::KEY_ALL_ACCESS;

constexpr const wchar_t* kSky6Key = L"AppID\\TheSky Version 6.EXE";
constexpr const wchar_t* kSkyKey = L"AppID\\Sky.EXE";
constexpr const wchar_t* kDriverKey = L"AppID\\Gemini Driver.exe";
// The probe in GeminiDriverHasAppID only opens, so its spelling never reaches
// the registry, whose names are case-insensitive: it finds the key kDriverKey
// names. kDriverKey is what the fix creates, and a created key keeps the case
// it was given, so that path is spelled as the AppID key is everywhere else.
constexpr const wchar_t* kDriverProbeKey = L"appID\\Gemini Driver.exe";
constexpr const wchar_t* kAppIdValue = L"AppID";
constexpr const wchar_t* kAppIdPrefix = L"AppID\\";
constexpr const wchar_t* kLevelValue = L"AuthenticationLevel";
constexpr const wchar_t* kDriverGuid =
    L"{4A017BC9-347F-4745-A1A8-993E83E8A331}";
constexpr const wchar_t* kDriverName = L"Gemini Driver";

std::shared_ptr<CRegNode>& AppNodeSlot() {
  static std::shared_ptr<CRegNode> node;
  return node;
}

CRegNode& AppNode() {
  auto& node = AppNodeSlot();
  if (!node) node = CRegNode::New();
  return *node;
}

// Runs one step under the resume-next trap: a raised error ends the step
// and nothing else.
template <typename Step>
void Try(Step&& step) {
  try {
    step();
  } catch (const RaisedError&) {
  }
}

[[noreturn]] void FixFailed() {
  throw RaisedError(kFixFailedNumber, kFixFailedSource, kFixFailedDescription);
}

void Open(const std::wstring& key) {
  Try([&] {
    AppNode().Create(Variant(key), HKEY_CLASSES_ROOT, KEY_ALL_ACCESS);
  });
}

void ReadAppId(std::wstring& guid) {
  Try([&] {
    guid = AppNode().Items(Variant(kAppIdValue))->Value().ToString();
  });
}

void WriteLevel(std::int32_t& level) {
  level = 1;
  Try([&] { AppNode().AddItem(Variant(level).SetByRef(), kLevelValue); });
}

// Does `guid` name a key below AppID? Backslashes alone don't: the
// registry takes doubled and trailing ones as nothing, so "AppID\" followed
// by any number of them is the AppID key itself.
bool NamesAKeyBelowAppId(const std::wstring& guid) {
  return guid.find_first_not_of(L'\\') != std::wstring::npos;
}

// Opens the registration of `guid` and sets its level. A registration
// without an AppID value leaves `guid` empty, and one whose value is only
// backslashes names no key either; opening "AppID\" + guid would land on the
// AppID key itself and write the level there, so the pair is passed over.
// `level` is 1 afterwards either way, as every later write expects.
void OpenAndWriteLevel(const std::wstring& guid, std::int32_t& level) {
  if (!NamesAKeyBelowAppId(guid)) {
    level = 1;
    return;
  }
  Open(kAppIdPrefix + guid);
  WriteLevel(level);
}

}  // namespace

void Main() {
  std::wstring guid;
  std::int32_t level = 0;

  Open(kSky6Key);
  ReadAppId(guid);
  OpenAndWriteLevel(guid, level);

  Open(kSkyKey);
  ReadAppId(guid);
  OpenAndWriteLevel(guid, level);

  if (!GeminiDriverHasAppID()) {
    if (!CreateRegistryKey(HKEY_CLASSES_ROOT, kDriverKey)) FixFailed();
    Open(kDriverKey);
    guid = kDriverGuid;
    Try([&] { AppNode().AddItem(Variant(guid).SetByRef(), kAppIdValue); });
    if (!CreateRegistryKey(HKEY_CLASSES_ROOT,
                           std::wstring(kAppIdPrefix) + kDriverGuid)) {
      FixFailed();
    }
    Open(std::wstring(kAppIdPrefix) + kDriverGuid);
    Try([&] { AppNode().AddItem(Variant(kDriverName)); });
  }

  Open(kDriverKey);
  ReadAppId(guid);
  OpenAndWriteLevel(guid, level);
}

bool GeminiDriverHasAppID() {
  try {
    AppNode().Create(Variant(kDriverProbeKey), HKEY_CLASSES_ROOT,
                     KEY_ALL_ACCESS);
    return true;
  } catch (const RaisedError&) {
    return false;
  }
}

bool CreateRegistryKey(platform::HKEY RootKey, const std::wstring& SubKey) {
  // An empty class string, not a null pointer; the call wants it writable.
  char keyClass[1] = {'\0'};
  platform::SECURITY_ATTRIBUTES security{12, nullptr, 1};
  platform::HKEY key = 0;
  platform::DWORD disposition = 0;
  // A path the code page can't carry creates nothing: what's left of it
  // could name another key.
  std::string subKey;
  if (platform::WideToAnsi(SubKey, subKey) != platform::ERROR_SUCCESS) {
    return false;
  }
  const platform::LONG status = platform::RegCreateKeyExA(
      RootKey, subKey.c_str(), 0, keyClass, platform::REG_OPTION_NON_VOLATILE,
      platform::KEY_WRITE, &security, &key, &disposition);
  // The handle is of no further use here; closing it keeps a long-lived
  // process from collecting them.
  if (status == platform::ERROR_SUCCESS) platform::RegCloseKey(key);
  return status == platform::ERROR_SUCCESS;
}

void ReleaseAppNode() { AppNodeSlot().reset(); }

}  // namespace corvane::MainApp
