// corvane-reg run in-process for tests: a console that keeps what the command
// prints and answers its questions from a script, and the outcome of one run.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/Unicode.h"
#include "cli/RegCommand.h"

namespace corvane::testing {

class ScriptedConsole : public cli::RegConsole {
 public:
  explicit ScriptedConsole(std::vector<bool> answers)
      : answers_(std::move(answers)) {}
  void Out(std::wstring_view text) override { out += text; }
  void Err(std::wstring_view text) override { err += text; }
  bool Confirm(std::wstring_view question) override {
    questions.emplace_back(question);
    if (next_ == answers_.size()) {
      ADD_FAILURE() << "unexpected question";
      return false;
    }
    return answers_[next_++];
  }

  std::wstring out;
  std::wstring err;
  std::vector<std::wstring> questions;

 private:
  std::vector<bool> answers_;
  std::size_t next_ = 0;
};

struct RegOutcome {
  int status;
  std::wstring out;
  std::wstring err;
  std::vector<std::wstring> questions;
};

// Runs one command; `answers` are what the user types to its questions.
inline RegOutcome Reg(const std::vector<std::wstring>& args,
                      std::vector<bool> answers = {}) {
  ScriptedConsole console(std::move(answers));
  const int status = cli::RunRegCommand(args, console);
  return {status, console.out, console.err, console.questions};
}

// `reg add KEY args... /f`, which must succeed.
inline void RegAdd(const std::wstring& key, std::vector<std::wstring> args) {
  args.insert(args.begin(), {L"add", key});
  args.push_back(L"/f");
  const RegOutcome run = Reg(args);
  ASSERT_EQ(run.status, 0) << base::WideToUtf8(run.err);
}

}  // namespace corvane::testing
