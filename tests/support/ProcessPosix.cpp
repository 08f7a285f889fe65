// Child processes on POSIX systems: posix_spawn with stdout on a pipe,
// waitpid, and signals for kill, stop and continue.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "support/Process.h"

extern char** environ;

namespace corvane::testing {

struct Process::Impl {
  pid_t pid = -1;
  int out = -1;  // read end of the child's stdout; -1 once at its end
  std::optional<int> status;
  std::string pending;  // read but not yet handed out by ReadLine
  std::string output;

  // Reads what the pipe holds, waiting up to `ms` for the first bytes.
  // False when nothing came (neither bytes nor the pipe's end).
  bool Pump(int ms) {
    if (out < 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      return false;
    }
    pollfd poller{out, POLLIN, 0};
    if (poll(&poller, 1, ms) <= 0) return false;
    char chunk[4096];
    const ssize_t got = read(out, chunk, sizeof chunk);
    if (got > 0) {
      pending.append(chunk, static_cast<std::size_t>(got));
      output.append(chunk, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      close(out);
      out = -1;
    }
    return true;
  }

  bool Reap(int flags) {
    if (status || pid < 0) return true;
    int raw = 0;
    pid_t done;
    while ((done = waitpid(pid, &raw, flags)) < 0 && errno == EINTR) {
    }
    if (done != pid) return false;
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return true;
  }
};

Process::Process(const std::filesystem::path& program,
                 const std::vector<std::string>& args,
                 const Environment& environment)
    : impl_(std::make_unique<Impl>()) {
  std::vector<std::string> env_strings;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    bool replaced = false;
    for (const auto& [name, value] : environment) {
      replaced |= text.size() > name.size() && text[name.size()] == '=' &&
                  text.starts_with(name);
    }
    if (!replaced) env_strings.emplace_back(text);
  }
  for (const auto& [name, value] : environment) {
    env_strings.push_back(name + "=" + value);
  }
  std::vector<char*> envp;
  for (auto& entry : env_strings) envp.push_back(entry.data());
  envp.push_back(nullptr);

  std::string path = program.string();
  std::vector<std::string> argStrings{path};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : argStrings) argv.push_back(arg.data());
  argv.push_back(nullptr);

  // Close-on-exec on both ends, so that children started later don't hold
  // this one's pipe open; dup2 clears the flag on the child's stdout.
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  pid_t pid = -1;
  const int error = posix_spawn(&pid, path.c_str(), &actions, nullptr,
                                argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  if (error != 0) {
    close(pipeEnds[0]);
    return;
  }
  impl_->pid = pid;
  impl_->out = pipeEnds[0];
}

Process::~Process() {
  if (impl_->pid > 0 && !impl_->status) {
    kill(impl_->pid, SIGKILL);
    impl_->Reap(0);
  }
  if (impl_->out >= 0) close(impl_->out);
}

bool Process::Started() const { return impl_->pid > 0; }

std::optional<std::string> Process::ReadLine(
    std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto end = impl_->pending.find('\n');
    if (end != std::string::npos) {
      std::string line = impl_->pending.substr(0, end);
      impl_->pending.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || impl_->out < 0) return std::nullopt;
    impl_->Pump(static_cast<int>(std::min<long long>(left.count(), 50)));
  }
}

std::optional<int> Process::Wait(std::chrono::milliseconds timeout) {
  if (impl_->pid < 0) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!impl_->Reap(WNOHANG)) {
    if (std::chrono::steady_clock::now() >= deadline) {
      Kill();
      impl_->Reap(0);
      return std::nullopt;
    }
    impl_->Pump(5);
  }
  // The child is gone: what it wrote is all in the pipe.
  while (impl_->out >= 0 && impl_->Pump(0)) {
  }
  return impl_->status;
}

bool Process::Running() { return impl_->pid > 0 && !impl_->Reap(WNOHANG); }

void Process::Kill() {
  if (impl_->pid > 0 && !impl_->status) kill(impl_->pid, SIGKILL);
}

void Process::Stop() {
  if (impl_->pid > 0 && !impl_->status) kill(impl_->pid, SIGSTOP);
}

void Process::Continue() {
  if (impl_->pid > 0 && !impl_->status) kill(impl_->pid, SIGCONT);
}

const std::string& Process::Output() const { return impl_->output; }

std::filesystem::path ExecutableDirectory() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

}  // namespace corvane::testing
