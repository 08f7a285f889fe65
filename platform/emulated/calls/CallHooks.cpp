// The table of the registry calls' test seams (CallHooks.h), set to the
// real steps.
#include "platform/emulated/calls/CallHooks.h"

namespace corvane::platform::emulated {
namespace {

constexpr CallHooks kRealCallHooks{KeyRefuses, ForgetHandles, FlushKey,
                                   QueryValueA};

}  // namespace

constinit CallHooks callHooks = kRealCallHooks;

const CallHooks& RealCallHooks() { return kRealCallHooks; }

}  // namespace corvane::platform::emulated
