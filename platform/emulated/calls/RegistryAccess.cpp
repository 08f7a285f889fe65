// Access rights of the emulated registry (RegistryAccess.h).
#include "platform/emulated/calls/RegistryAccess.h"

namespace corvane::platform::emulated {
namespace {

constexpr REGSAM kGenericRead = 0x80000000u;
constexpr REGSAM kGenericWrite = 0x40000000u;
constexpr REGSAM kGenericExecute = 0x20000000u;
constexpr REGSAM kGenericAll = 0x10000000u;
constexpr REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY |
                                KEY_CREATE_LINK | DELETE | WRITE_DAC |
                                WRITE_OWNER;

LONG UnderMachine(Registry& registry, CachedKey* key, bool& under) {
  while (key->parent != 0) {
    if (const LONG status = registry.view.Key(key->parent, key)) return status;
  }
  under = key->id == seed::kLocalMachine;
  return ERROR_SUCCESS;
}

REGSAM ExpandGeneric(REGSAM sam) {
  REGSAM rights =
      sam & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll |
              MAXIMUM_ALLOWED | KEY_WOW64_32KEY | KEY_WOW64_64KEY);
  if (sam & kGenericRead) rights |= KEY_READ;
  if (sam & kGenericWrite) rights |= KEY_WRITE;
  if (sam & kGenericExecute) rights |= KEY_EXECUTE;
  if (sam & kGenericAll) rights |= KEY_ALL_ACCESS;
  return rights;
}

}  // namespace

LONG KeyRefuses(Registry& registry, CachedKey* key, REGSAM& refused) {
  refused = 0;
  // A store whose files this process can't write: no key can be written.
  if (!registry.view.Unwritable().empty()) {
    refused |= kWriteRights;
    return ERROR_SUCCESS;
  }
  if (registry.readOnly) {
    bool under = false;
    if (const LONG status = UnderMachine(registry, key, under)) return status;
    if (under) refused |= kWriteRights;
  }
  return ERROR_SUCCESS;
}

LONG Grant(Registry& registry, CachedKey* key, REGSAM sam, REGSAM& granted) {
  const REGSAM wanted = ExpandGeneric(sam);
  REGSAM refused = 0;
  if (const LONG status = Refused(registry, key, refused)) return status;
  if (wanted & refused) return ERROR_ACCESS_DENIED;
  granted = wanted;
  if (sam & MAXIMUM_ALLOWED) granted |= KEY_ALL_ACCESS & ~refused;
  return ERROR_SUCCESS;
}

}  // namespace corvane::platform::emulated
