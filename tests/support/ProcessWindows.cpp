// Child processes on Windows: CreateProcessW with stdout on an anonymous
// pipe, WaitForSingleObject, TerminateProcess, and the main thread
// suspended for stop and continue.
#include <windows.h>

#include <algorithm>
#include <cwctype>

#include "support/Process.h"

namespace corvane::testing {

namespace {

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int size = MultiByteToWideChar(
      CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                      wide.data(), size);
  return wide;
}

// One argument as the C runtime's command-line parser reads it back:
// quoted, with the backslashes before a quote doubled.
void AppendQuoted(std::wstring& line, const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(2 * backslashes, L'\\');
  line += L'"';
}

bool SameName(std::wstring_view a, std::wstring_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](wchar_t x, wchar_t y) {
                      return std::towupper(x) == std::towupper(y);
                    });
}

// The inherited environment with `overrides` applied, as the block
// CreateProcessW takes with CREATE_UNICODE_ENVIRONMENT.
std::wstring EnvironmentBlock(const Process::Environment& overrides) {
  std::wstring block;
  wchar_t* inherited = GetEnvironmentStringsW();
  for (const wchar_t* entry = inherited; *entry != L'\0';
       entry += wcslen(entry) + 1) {
    const std::wstring_view text(entry);
    // Entries such as "=C:=C:\" name per-drive folders; keep them.
    const auto equals = text.find(L'=', 1);
    bool replaced = false;
    for (const auto& [name, value] : overrides) {
      replaced |= equals != std::wstring_view::npos &&
                  SameName(text.substr(0, equals), Widen(name));
    }
    if (!replaced) block.append(text).push_back(L'\0');
  }
  FreeEnvironmentStringsW(inherited);
  for (const auto& [name, value] : overrides) {
    block.append(Widen(name + "=" + value)).push_back(L'\0');
  }
  block.push_back(L'\0');
  return block;
}

}  // namespace

struct Process::Impl {
  PROCESS_INFORMATION info{};
  HANDLE out = nullptr;  // read end of the child's stdout; null at its end
  std::optional<int> status;
  std::string pending;  // read but not yet handed out by ReadLine
  std::string output;

  // Reads what the pipe holds, waiting up to `ms` for the first bytes.
  // False when nothing came (neither bytes nor the pipe's end).
  bool Pump(int ms) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(ms);
    for (;;) {
      if (out == nullptr) {
        Sleep(static_cast<DWORD>(ms));
        return false;
      }
      DWORD available = 0;
      if (!PeekNamedPipe(out, nullptr, 0, nullptr, &available, nullptr)) {
        CloseHandle(out);
        out = nullptr;
        return true;
      }
      if (available > 0) {
        char chunk[4096];
        DWORD got = 0;
        if (ReadFile(out, chunk, std::min<DWORD>(available, sizeof chunk), &got,
                     nullptr) &&
            got > 0) {
          pending.append(chunk, got);
          output.append(chunk, got);
        }
        return true;
      }
      if (GetTickCount64() >= deadline) return false;
      Sleep(5);
    }
  }

  bool Reap(DWORD ms) {
    if (status || info.hProcess == nullptr) return true;
    if (WaitForSingleObject(info.hProcess, ms) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    status = static_cast<int>(code);
    return true;
  }
};

Process::Process(const std::filesystem::path& program,
                 const std::vector<std::string>& args,
                 const Environment& environment)
    : impl_(std::make_unique<Impl>()) {
  std::wstring commandLine;
  AppendQuoted(commandLine, program.wstring());
  for (const auto& arg : args) {
    commandLine += L' ';
    AppendQuoted(commandLine, Widen(arg));
  }
  std::wstring env_block = EnvironmentBlock(environment);

  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  // The child gets the test's stderr, which need not be inheritable itself.
  HANDLE errorCopy = nullptr;
  DuplicateHandle(GetCurrentProcess(), GetStdHandle(STD_ERROR_HANDLE),
                  GetCurrentProcess(), &errorCopy, 0, TRUE,
                  DUPLICATE_SAME_ACCESS);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = writeEnd;
  startup.hStdError = errorCopy;
  const BOOL created =
      CreateProcessW(program.wstring().c_str(), commandLine.data(), nullptr,
                     nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                     env_block.data(), nullptr, &startup, &impl_->info);
  CloseHandle(writeEnd);
  if (errorCopy != nullptr) CloseHandle(errorCopy);
  if (!created) {
    CloseHandle(readEnd);
    impl_->info = {};
    return;
  }
  impl_->out = readEnd;
}

Process::~Process() {
  if (impl_->info.hProcess != nullptr) {
    if (!impl_->status) {
      TerminateProcess(impl_->info.hProcess, 137);
      impl_->Reap(INFINITE);
    }
    CloseHandle(impl_->info.hThread);
    CloseHandle(impl_->info.hProcess);
  }
  if (impl_->out != nullptr) CloseHandle(impl_->out);
}

bool Process::Started() const { return impl_->info.hProcess != nullptr; }

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
    if (left.count() <= 0 || impl_->out == nullptr) return std::nullopt;
    impl_->Pump(static_cast<int>(std::min<long long>(left.count(), 50)));
  }
}

std::optional<int> Process::Wait(std::chrono::milliseconds timeout) {
  if (impl_->info.hProcess == nullptr) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!impl_->Reap(0)) {
    if (std::chrono::steady_clock::now() >= deadline) {
      Kill();
      impl_->Reap(INFINITE);
      return std::nullopt;
    }
    impl_->Pump(5);
  }
  // The child is gone: what it wrote is all in the pipe. Handles other
  // children inherited may keep the pipe open, so don't wait for its end.
  while (impl_->out != nullptr && impl_->Pump(0)) {
  }
  return impl_->status;
}

bool Process::Running() {
  return impl_->info.hProcess != nullptr && !impl_->Reap(0);
}

void Process::Kill() {
  if (impl_->info.hProcess != nullptr && !impl_->status) {
    TerminateProcess(impl_->info.hProcess, 137);
  }
}

void Process::Stop() {
  if (impl_->info.hThread != nullptr) SuspendThread(impl_->info.hThread);
}

void Process::Continue() {
  if (impl_->info.hThread != nullptr) ResumeThread(impl_->info.hThread);
}

const std::string& Process::Output() const { return impl_->output; }

std::filesystem::path ExecutableDirectory() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(),
                                            static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  return std::filesystem::path(path).parent_path();
}

}  // namespace corvane::testing
