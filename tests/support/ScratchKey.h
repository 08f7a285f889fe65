// A scratch key for tests that must run on the real registry too: a fresh
// key under HKEY_CURRENT_USER\Software\Corvane Tests, removed with its whole
// subtree when the test ends. It uses the platform functions only, so it
// stays independent of the model under test.
#pragma once

#include <string>
#include <vector>

#include "platform/Platform.h"

namespace corvane::testing {

class ScratchKey {
 public:
  // Creates the key; fails the current test (fatally) when it can't.
  ScratchKey();
  ~ScratchKey();
  ScratchKey(const ScratchKey&) = delete;
  ScratchKey& operator=(const ScratchKey&) = delete;

  // A handle with KEY_ALL_ACCESS, valid until destruction.
  platform::HKEY Handle() const { return handle_; }
  // The path below HKEY_CURRENT_USER.
  const std::string& Path() const { return path_; }

  // Creates `relative` (any depth) below the scratch key; returns a handle
  // the caller closes.
  platform::HKEY CreateKey(const std::string& relative) const;
  // The same for a key only wanted to exist.
  void Make(const std::string& relative) const;
  // Whether `relative` opens for reading below the scratch key.
  bool Has(const std::string& relative) const;

 private:
  std::string path_;
  platform::HKEY handle_ = 0;
};

// The names of a key's subkeys, by position (through RegEnumKeyExA).
std::vector<std::string> SubkeyNames(platform::HKEY key);
// The names of a key's values, by position (through RegEnumValueA), each
// followed by ';'.
std::string ValueNames(platform::HKEY key);

// How many values a key has; ~0 when it can't be asked.
platform::DWORD ValueCount(platform::HKEY key);
// A string value's text, or "status N" when the query fails.
std::string QueryString(platform::HKEY key, const char* name);

// Whether `path` opens for reading below `parent`.
bool KeyExists(platform::HKEY parent, const std::string& path);

// Deletes `name` below `parent` with everything under it, using only the
// platform functions. Returns the status of the final delete.
platform::LONG DeleteTreeForTest(platform::HKEY parent,
                                 const std::string& name);

}  // namespace corvane::testing
