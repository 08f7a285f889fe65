// The C functions of corvane/winreg.h on the emulated registry, forwarded
// from the platform layer's list of registry functions (Platform.h): each
// argument passes through an adapter below, which turns Windows'
// pointer-sized HKEY into the platform layer's 32-bit handle and handles
// and structures back. Checks of arguments stay with the platform layer, so
// statuses and their order are the emulation's own.
//
// Platform.h comes first: corvane/winreg.h defines Windows' constants as
// macros, which would rewrite the platform layer's names of the same
// spelling. Below, constants are only ever spelled Windows' way; the list's
// types (HKEY, LPCSTR, ...) are corvane/winreg.h's at this global scope.
#include "platform/Platform.h"
// clang-format off
#include "corvane/winreg.h"
// clang-format on

#include <cstddef>
#include <cstdint>

#include "platform/Forward.h"

namespace p = corvane::platform;

namespace {

// A handle is a 32-bit number held in a pointer, sign-extended as Windows
// extends the predefined keys. A predefined key is known by its low 32 bits
// alone, as Windows knows it, whatever the upper half holds. Any other
// pointer whose upper half is not the sign of its lower (a stray pointer)
// must not alias whichever key its low half happens to name: it becomes
// handle 0, which the platform answers as the invalid handle it is.
bool IsPredefined(std::uint32_t low) {
  return (low >= 0x80000000u && low <= 0x80000007u) || low == 0x80000050u ||
         low == 0x80000060u;
}

p::HKEY In(HKEY key) {
  const auto value = reinterpret_cast<std::intptr_t>(key);
  const auto low = static_cast<std::int32_t>(value);
  if (low == value || IsPredefined(static_cast<std::uint32_t>(low))) {
    return static_cast<p::HKEY>(low);
  }
  return 0;
}

HKEY Out(p::HKEY handle) {
  return reinterpret_cast<HKEY>(
      static_cast<std::intptr_t>(static_cast<std::int32_t>(handle)));
}

// Every argument not adapted below passes as it is.
template <class To, class From>
class Arg : public p::PassedAsIs<To, From> {
  using p::PassedAsIs<To, From>::PassedAsIs;
};

template <>
class Arg<p::HKEY, HKEY> : public p::PassedAsIs<p::HKEY, p::HKEY> {
 public:
  explicit Arg(HKEY key) : PassedAsIs(In(key)) {}
};

// An out-handle through a local copy, written back only when the platform
// wrote it: a call turned away early (a bad handle) leaves the caller's
// variable as it was, as Windows does, and any other failure the NULL the
// platform put there.
template <>
class Arg<p::HKEY*, PHKEY> {
 public:
  explicit Arg(PHKEY target) : target_(target) {}
  Arg(const Arg&) = delete;
  Arg& operator=(const Arg&) = delete;
  p::HKEY* Get() { return target_ != nullptr ? &value_ : nullptr; }
  void Finish(LSTATUS) const {
    if (target_ != nullptr && value_ != kUntouched) *target_ = Out(value_);
  }

 private:
  // No key has this handle: not a root, and past the last one handed out.
  static constexpr p::HKEY kUntouched = 0xFFFFFFFFu;
  PHKEY target_;
  p::HKEY value_ = kUntouched;
};

template <>
class Arg<const p::SECURITY_ATTRIBUTES*, const SECURITY_ATTRIBUTES*>
    : public p::AttributesCopied<p::SECURITY_ATTRIBUTES, SECURITY_ATTRIBUTES> {
  using AttributesCopied::AttributesCopied;
};

// A VALENT array is handed over as it lies: the header's structures are
// laid out as the platform layer's.
template <class Ours, class Given>
class SameLayout {
 public:
  static_assert(sizeof(Ours) == sizeof(Given));
  explicit SameLayout(Given* given) : given_(given) {}
  Ours* Get() const { return reinterpret_cast<Ours*>(given_); }
  void Finish(LSTATUS) const {}

 private:
  Given* given_;
};

static_assert(offsetof(p::VALENTA, ve_valueptr) ==
                  offsetof(VALENTA, ve_valueptr) &&
              offsetof(p::VALENTA, ve_type) == offsetof(VALENTA, ve_type));
static_assert(offsetof(p::VALENTW, ve_valueptr) ==
                  offsetof(VALENTW, ve_valueptr) &&
              offsetof(p::VALENTW, ve_type) == offsetof(VALENTW, ve_type));

template <>
class Arg<p::VALENTA*, PVALENTA> : public SameLayout<p::VALENTA, VALENTA> {
  using SameLayout::SameLayout;
};

template <>
class Arg<p::VALENTW*, PVALENTW> : public SameLayout<p::VALENTW, VALENTW> {
  using SameLayout::SameLayout;
};

template <>
class Arg<p::FILETIME*, PFILETIME>
    : public p::FileTimeOnSuccess<p::FILETIME, FILETIME> {
  using FileTimeOnSuccess::FileTimeOnSuccess;
};

}  // namespace

extern "C" {

#define CORVANE_WINREG_FORWARD(name, parameters, arguments) \
  LSTATUS WINAPI name parameters { return p::Forward<Arg>(p::name) arguments; }
CORVANE_REGISTRY_FUNCTIONS(CORVANE_WINREG_FORWARD, CORVANE_WINREG_FORWARD)
#undef CORVANE_WINREG_FORWARD

DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                     DWORD dwLanguageId, LPSTR lpBuffer, DWORD nSize,
                     va_list* Arguments) {
  return p::FormatMessageA(dwFlags, lpSource, dwMessageId, dwLanguageId,
                           lpBuffer, nSize, Arguments);
}

DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                     DWORD dwLanguageId, LPWSTR lpBuffer, DWORD nSize,
                     va_list* Arguments) {
  return p::FormatMessageW(dwFlags, lpSource, dwMessageId, dwLanguageId,
                           lpBuffer, nSize, Arguments);
}

DWORD GetLastError(void) { return p::GetLastError(); }

void SetLastError(DWORD dwErrCode) { p::SetLastError(dwErrCode); }

}  // extern "C"
