// Child processes for tests that need more than one process on the registry:
// start a program (environment inherited, a few variables overridden), read
// its stdout line by line, wait for it with a limit, stop, resume or kill it.
// ProcessPosix.cpp and ProcessWindows.cpp implement it; CMake builds one.
//
// Nothing here waits without a limit: a child that outlives its test's limit
// is killed, and the test fails instead of hanging.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace corvane::testing {

class Process {
 public:
  using Environment = std::vector<std::pair<std::string, std::string>>;

  // Starts `program` with `args`. The child's stdout comes back through a
  // pipe; its stderr is the test's. `environment` adds or replaces variables
  // of the inherited environment. Check Started() afterwards.
  Process(const std::filesystem::path& program,
          const std::vector<std::string>& args,
          const Environment& environment = {});
  // Kills the child if it still runs, and reaps it.
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool Started() const;

  // The next line the child printed, without its line end; nullopt when the
  // child printed none within `timeout` (or ended without one).
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);

  // The exit status once the child ended. When it hasn't ended within
  // `timeout`, it is killed and the answer is nullopt. A killed child's
  // status is not its own: natively 128 + the signal number.
  std::optional<int> Wait(std::chrono::milliseconds timeout);

  // True while the child has not ended (a stopped child still runs).
  bool Running();

  // Ends the child at once, with no chance to clean up (SIGKILL,
  // TerminateProcess). Wait() then reaps it.
  void Kill();

  // Freezes and thaws the child (SIGSTOP/SIGCONT; on Windows its main
  // thread is suspended).
  void Stop();
  void Continue();

  // Everything the child printed that has been read so far; after Wait()
  // answered, everything it printed.
  const std::string& Output() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// The folder that holds the running executable.
std::filesystem::path ExecutableDirectory();

}  // namespace corvane::testing
