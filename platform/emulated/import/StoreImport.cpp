// A .reg file into the shared store, inside one write transaction: checked
// whole (syntax, root names, values that belong to no key) while it is
// applied, so that an import with a fault anywhere is rolled back, and one
// without is all there.
#include "platform/emulated/import/StoreImport.h"

#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/RegistryNames.h"
#include "base/RootKeys.h"
#include "base/Unicode.h"
#include "platform/emulated/import/ReadAhead.h"
#include "platform/emulated/import/RootKeyIds.h"
#include "platform/emulated/store/Wow64Paths.h"
#include "regfile/KeyPathChain.h"
#include "regfile/RegFile.h"

namespace corvane::platform::emulated {
namespace {

// Consecutive keys of a .reg file mostly share a prefix (a
// key, then its children), so the ids of the last path are kept and only the
// differing tail is looked up.
class ApplySink : public regfile::RegSink {
 public:
  ApplySink(Rows& rows, bool view32)
      : rows_(rows), now_(FileTimeNow()), view32_(view32) {}

  std::string OnKey(std::u16string_view path) override {
    current_ = 0;
    if (std::string err = Walk(InView(path), true); !err.empty()) return err;
    Step& key = chain_.back();
    current_ = key.id;
    // A key this import made, met for the first time, has no values yet:
    // they are numbered from 1 and need no lookup. Met again (the file
    // names it twice), it has the values it was given.
    firstVisit_ = key.fresh && !key.visited;
    key.visited = true;
    nextOrd_ = firstVisit_ ? 1 : 0;
    touched_ = key.fresh;
    freshNames_.clear();
    return {};
  }

  std::string OnDeleteKey(std::u16string_view path) override {
    if (std::string err = Flush(); !err.empty()) return err;
    current_ = 0;
    if (std::string err = Walk(InView(path), false); !err.empty()) return err;
    const std::int64_t id = chain_.back().id;
    const std::int64_t parent =
        chain_.size() > 1 ? chain_[chain_.size() - 2].id : 0;
    chain_.clear();
    last_.clear();
    if (id == 0) return {};
    if (const LONG status = rows_.DeleteTree(id)) return Refused(status);
    if (const LONG status = rows_.Touch(parent, now_)) return Refused(status);
    return {};
  }

  std::string OnValue(std::u16string_view name, std::uint32_t type,
                      std::span<const std::uint8_t> data) override {
    // A key this import made holds only the names it gave it so far: a
    // name new to it is a new value, which waits to be inserted with
    // others (values are read back only below, after Flush).
    if (firstVisit_ && freshNames_.insert(FoldKey(name)).second) {
      Queue(nextOrd_++, name, type, data);
      return pendingCount_ < kQueued ? std::string() : Flush();
    }
    if (std::string err = Flush(); !err.empty()) return err;
    std::int64_t ord = 0;
    bool found = false;
    if (const LONG status = rows_.FindValue(current_, name, ord, found)) {
      return Refused(status);
    }
    if (!found) {
      if (nextOrd_ == 0) nextOrd_ = ord;
      ord = nextOrd_++;
    }
    if (const LONG status = rows_.PutValue(current_, ord, !found, name, type,
                                           {data.data(), data.size()})) {
      return Refused(status);
    }
    return TouchCurrent();
  }

  std::string OnDeleteValue(std::u16string_view name) override {
    if (std::string err = Flush(); !err.empty()) return err;
    std::int64_t ord = 0;
    bool found = false;
    if (const LONG status = rows_.FindValue(current_, name, ord, found)) {
      return Refused(status);
    }
    if (!found) return {};
    if (const LONG status = rows_.DeleteValue(current_, name)) {
      return Refused(status);
    }
    return TouchCurrent();
  }

 private:
  struct Step {
    std::size_t end = 0;  // where this component ends in last_
    std::int64_t id = 0;  // 0 past a missing key when not creating
    bool isVolatile = false;
    bool fresh = false;    // made by this import
    bool visited = false;  // has been the key values went to
    // The greatest name (in the registry's order) among the subkeys this
    // import made or found below a key it made: a name beyond it can't be
    // one of them.
    std::u16string lastChild;
  };

  // The key in the file's own words and the system's reason, as a refused
  // call reports it on Windows: the file was fine, the registry said no, so
  // no line of the file goes with it.
  std::string Refused(LONG status) {
    char text[512] = {};
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(status), 0, text, sizeof text, nullptr);
    while (length > 0 &&
           (text[length - 1] == '\r' || text[length - 1] == '\n' ||
            text[length - 1] == ' ')) {
      --length;
    }
    std::string reason(text, length);
    if (reason.empty()) reason = "error " + std::to_string(status);
    return base::Utf16ToUtf8(last_) + ": " + reason;
  }

  // The new values waiting to be inserted together: the rows are kept from
  // one flush to the next, so that their buffers are used again.
  static constexpr std::size_t kQueued = 256;
  void Queue(std::int64_t ord, std::u16string_view name, std::uint32_t type,
             std::span<const std::uint8_t> data) {
    if (pendingCount_ == pending_.size()) pending_.emplace_back();
    ValueRow& row = pending_[pendingCount_++];
    row.key = current_;
    row.ord = ord;
    row.name.assign(name);
    row.type = type;
    row.data.assign(data.begin(), data.end());
  }

 public:
  std::string Flush() {
    if (pendingCount_ == 0) return {};
    const std::size_t count = std::exchange(pendingCount_, 0);
    const LONG status = rows_.InsertValues({pending_.data(), count});
    return status ? Refused(status) : std::string();
  }

 private:
  std::string TouchCurrent() {
    if (touched_) return {};
    touched_ = true;
    const LONG status = rows_.Touch(current_, now_);
    return status ? Refused(status) : std::string();
  }

  // The path the file's `path` leads to in the import's view: the path
  // itself unless a view redirects it (Wow64Paths.h). Kept in `viewPath_`.
  std::u16string_view InView(std::u16string_view path) {
    if (!view32_ && !wow64::MayNameNode(path)) {
      return path;
    }
    std::vector<std::u16string> names;
    for (std::size_t pos = 0, end = 0; regfile::NextName(path, pos, end);
         pos = end) {
      names.emplace_back(path.substr(pos, end - pos));
    }
    const base::RootKey* root =
        names.empty() ? nullptr : base::FindRootKey(names[0]);
    if (root == nullptr) return path;
    std::vector<std::u16string> below(names.begin() + 1, names.end());
    if (root->value == HKEY_CLASSES_ROOT) {
      wow64::RedirectClasses(below, view32_);
    } else {
      wow64::Redirect(RootKeyId(root->value), below, view32_);
    }
    viewPath_ = names[0];
    for (const std::u16string& name : below)
      viewPath_.append(u"\\").append(name);
    return viewPath_;
  }

  std::string Walk(std::u16string_view path, bool create) {
    const std::size_t keep = regfile::SharedSteps(
        last_, path, chain_, [](const Step& step) { return step.id != 0; });
    chain_.resize(keep);
    std::size_t pos = keep ? chain_.back().end : 0;
    last_.assign(path);

    for (std::size_t end = 0; regfile::NextName(path, pos, end); pos = end) {
      const std::u16string_view name = path.substr(pos, end - pos);
      Step step;
      step.end = end;
      if (chain_.empty()) {
        const base::RootKey* root = base::FindRootKey(name);
        if (root == nullptr) {
          return "unknown root key '" + base::Utf16ToUtf8(name) + "'";
        }
        // HKEY_CLASSES_ROOT is looked up by name: the file may have
        // deleted the machine's classes before.
        if (root->value != HKEY_CLASSES_ROOT) {
          step.id = RootKeyId(root->value);
        } else if (std::string err = ClassesRoot(step.id); !err.empty()) {
          return err;
        }
      } else if (Step& parent = chain_.back(); parent.id != 0) {
        if (std::string err = Child(parent, name, create, step); !err.empty()) {
          return err;
        }
      }
      chain_.push_back(step);
    }
    if (chain_.empty()) return "empty key name";
    return {};
  }

  std::string Child(Step& parent, std::u16string_view name, bool create,
                    Step& step) {
    KeyRow row;
    bool found = false;
    // Below a key this import made, only its own subkeys can be there. A
    // file lists a key's subkeys in order, so a name past the last one is
    // new; one that comes back to an earlier name is looked up.
    bool known = false;
    if (parent.fresh) {
      known = parent.lastChild.empty() ||
              base::CompareNames(name, parent.lastChild) > 0;
      if (known) parent.lastChild.assign(name);
    }
    if (!known) {
      if (const LONG status = rows_.LoadChild(parent.id, name, row, found)) {
        return Refused(status);
      }
    }
    if (found) {
      step.id = row.id;
      step.isVolatile = row.isVolatile;
      return {};
    }
    if (!create) return {};
    // A .reg file makes lasting keys, which can't live below a volatile one.
    if (parent.isVolatile) return Refused(ERROR_CHILD_MUST_BE_VOLATILE);
    step.fresh = true;
    if (const LONG status = rows_.InsertKey(parent.id, name, nullptr,
                                            step.isVolatile, now_, step.id)) {
      return Refused(status);
    }
    // A key this import made already carries the import's time.
    if (!parent.fresh && parent.id != lastTouchedParent_) {
      lastTouchedParent_ = parent.id;
      if (const LONG status = rows_.Touch(parent.id, now_)) {
        return Refused(status);
      }
    }
    return {};
  }

  // HKEY_CLASSES_ROOT in a file means the machine's classes, made if gone.
  std::string ClassesRoot(std::int64_t& id) {
    Step machine;
    machine.id = seed::kLocalMachine;
    Step software, classes;
    if (std::string err = Child(machine, u"SOFTWARE", true, software);
        !err.empty()) {
      return err;
    }
    if (std::string err = Child(software, u"Classes", true, classes);
        !err.empty()) {
      return err;
    }
    id = classes.id;
    return {};
  }

  Rows& rows_;
  std::uint64_t now_;
  std::u16string last_;
  std::vector<Step> chain_;
  std::int64_t current_ = 0;
  std::int64_t nextOrd_ = 0;
  std::int64_t lastTouchedParent_ = 0;
  bool touched_ = false;
  bool firstVisit_ = false;
  std::vector<ValueRow> pending_;
  std::size_t pendingCount_ = 0;
  // The value names (folded) given to the current key by this import.
  std::unordered_set<std::string> freshNames_;
  bool view32_ = false;
  std::u16string viewPath_;
};

}  // namespace

std::string ApplyRegFile(Rows& rows, std::span<const std::uint8_t> bytes,
                         std::string_view fileName, regfile::HexStrings strings,
                         bool view32) {
  ApplySink sink(rows, view32);
  if (std::string err = ReadRegFileAhead(bytes, fileName, sink, strings);
      !err.empty()) {
    return err;
  }
  return sink.Flush();
}

}  // namespace corvane::platform::emulated
