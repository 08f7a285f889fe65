// The emulation has no tokens to adjust (Privileges.h).
#include "support/Privileges.h"

namespace corvane::testing {

bool EnableHivePrivileges() { return true; }

}  // namespace corvane::testing
