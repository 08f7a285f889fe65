// Temporary folders for tests on either backend.
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <system_error>

namespace corvane::testing {

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder() {
  // Several test runs (natively and under Wine) may share the temporary
  // folder, so the name is random and creation is the check.
  std::random_device seed;
  std::mt19937_64 rng((std::uint64_t{seed()} << 32) ^ seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = fs::temp_directory_path() /
                               ("corvane-scratch-" + std::to_string(rng()));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      path_ = candidate;
      return;
    }
  }
  ADD_FAILURE() << "cannot create a scratch folder";
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  if (!path_.empty()) fs::remove_all(path_, ignored);
}

std::string ScratchFolder::File(const std::string& name) const {
  return (path_ / name).string();
}

}  // namespace corvane::testing
