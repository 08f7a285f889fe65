// corvane-reg COPY: a key's values (and with /s its whole tree) to another
// key. The source is read whole before anything is written, so a copy can
// never find its own output among what it copies.
#include <algorithm>
#include <string>

#include "cli/KeySnapshot.h"
#include "cli/RegCommands.h"
#include "cli/RegCommon.h"

namespace corvane::cli {

using namespace platform;

namespace {

bool StartsWith(const std::vector<std::u16string>& path,
                const std::vector<std::u16string>& prefix) {
  return path.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), path.begin());
}

// Through the merged classes root a path may name the user's copy or the
// machine's: both are taken as the key, which refuses a few copies that
// would have been harmless rather than allow one that isn't.
void RefuseOverlap(const KeyPath& source, const KeyPath& target,
                   bool recursive) {
  for (const auto& from : FoldedPlaces(source)) {
    for (const auto& to : FoldedPlaces(target)) {
      if (from == to) {
        Fail(L"The source and destination keys cannot be the same.");
      }
      if (recursive && StartsWith(to, from)) {
        Fail(L"The destination key " + target.Display() +
             L" is inside the source key " + source.Display() +
             L"; a key can't be copied into its own tree.");
      }
    }
  }
}

class Copier {
 public:
  Copier(RegConsole& console, bool forced)
      : console_(console), forced_(forced) {}

  void Write(const KeySnapshot& from, const WideKey& to,
             const std::wstring& where) {
    for (const NamedValue& value : from.values) {
      if (Allowed(to, value.name))
        Check(to.Write(value.name, value.value), where);
    }
    for (const KeySnapshot& child : from.subkeys) {
      const std::wstring childPath = where + L"\\" + child.name;
      WideKey created;
      Check(WideKey::Create(to.Handle(), child.name, kAccess, created),
            childPath);
      Write(child, created, childPath);
    }
  }

  static constexpr REGSAM kAccess = KEY_READ | KEY_WRITE;

 private:
  // A value the destination already has is replaced only when /f was given
  // or the user says so.
  bool Allowed(const WideKey& to, const std::wstring& name) {
    RawValue existing;
    if (forced_ || to.Read(name, existing) != ERROR_SUCCESS) return true;
    return console_.Confirm(OverwriteQuestion(name));
  }

  RegConsole& console_;
  bool forced_;
};

}  // namespace

int Copy(const std::vector<std::wstring>& args, RegConsole& console) {
  const CommandArgs parsed = ParseCommandArgs(
      args, WithViews({{L"S", false}, {L"F", false}}), L"copy");
  const REGSAM view = ViewOption(parsed, L"copy");
  if (parsed.positional.size() != 2) FailSyntax(L"copy");
  const KeyPath source = KeyArgument(parsed.positional[0], L"copy", view);
  const KeyPath target = KeyArgument(parsed.positional[1], L"copy", view);
  const bool recursive = parsed.Has(L"S");
  RefuseOverlap(source, target, recursive);

  const KeySnapshot snapshot = ReadKeySnapshot(
      OpenKey(source, KEY_READ), source.Display(),
      recursive ? SnapshotDepth::kTree : SnapshotDepth::kValues);
  WideKey to;
  Check(
      WideKey::Create(target.root, target.subKey, Copier::kAccess | view, to));
  Copier(console, parsed.Has(L"F")).Write(snapshot, to, target.Display());
  console.Out(kSuccess);
  return 0;
}

}  // namespace corvane::cli
