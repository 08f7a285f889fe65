// A fresh, empty folder under the system's temporary folder for files that
// tests and their child processes trade (readiness markers, .reg files,
// stores of their own); removed with its contents when the object goes.
#pragma once

#include <filesystem>
#include <string>

namespace corvane::testing {

class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // `name` inside the folder, as a string a child can take as an argument.
  std::string File(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

}  // namespace corvane::testing
