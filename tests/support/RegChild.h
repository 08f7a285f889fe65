// Starting corvane_regchild, the other process of the multi-process tests
// (tests/tools/regchild.cpp lists its commands). It sits beside the test
// executable.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/Process.h"

namespace corvane::testing {

// How long a test waits for a child before it kills it and fails: only a
// guard against hangs, far above any normal answer (under Wine included).
inline constexpr std::chrono::seconds kChildGuard{20};

inline std::unique_ptr<Process> StartRegChild(
    const std::vector<std::string>& args,
    const Process::Environment& environment = {}) {
  auto child = std::make_unique<Process>(
      ExecutableDirectory() / CORVANE_REGCHILD_NAME, args, environment);
  EXPECT_TRUE(child->Started()) << "cannot start " << CORVANE_REGCHILD_NAME;
  return child;
}

struct RegChildRun {
  std::optional<int> status;  // nullopt: killed at the guard
  std::string output;
};

// Runs the commands in a fresh process to its end.
inline RegChildRun RunRegChild(const std::vector<std::string>& args,
                               const Process::Environment& environment = {}) {
  auto child = StartRegChild(args, environment);
  RegChildRun run;
  run.status = child->Wait(kChildGuard);
  run.output = child->Output();
  // Windows' text mode ends lines with CR LF.
  std::erase(run.output, '\r');
  return run;
}

}  // namespace corvane::testing
