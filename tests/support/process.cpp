#include "support/process.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace tarvel::test {

std::string ProgramBesideTests(const std::string& base_name) {
#ifdef _WIN32
  return (std::filesystem::path(ProgramDir()) / (base_name + ".exe")).string();
#else
  return (std::filesystem::path(ProgramDir()) / base_name).string();
#endif
}

#ifdef _WIN32
namespace {

// QuoteArgument quotes one argument so the C runtime's parser gives it back
// unchanged: backslashes are literal except before a quote.
std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') backslashes = backslashes * 2 + 1;
    out.append(backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

struct Handle {
  HANDLE h = nullptr;
  Handle() = default;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Close(); }
  void Close() {
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    h = nullptr;
  }
};

// MakePipe makes a pipe whose child end is inheritable.
bool MakePipe(Handle& read, Handle& write, bool child_reads) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  if (!CreatePipe(&read.h, &write.h, &sa, 0)) return false;
  SetHandleInformation(child_reads ? write.h : read.h, HANDLE_FLAG_INHERIT, 0);
  return true;
}

// Drain reads a pipe until it ends, or until the child has ended and the
// pipe is empty: a process the child started may hold the pipe's write end
// open long after (under Wine, the desktop process that the first window of
// a session starts inherits the child's standard handles).
void Drain(HANDLE h, HANDLE child, std::string* out) {
  char buf[4096];
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(h, nullptr, 0, nullptr, &available, nullptr)) return;  // ended
    if (available == 0) {
      if (WaitForSingleObject(child, 5) == WAIT_OBJECT_0) {
        // The child is gone; what it wrote is in the pipe by now.
        if (!PeekNamedPipe(h, nullptr, 0, nullptr, &available, nullptr) || available == 0) return;
      }
      continue;
    }
    DWORD n = 0;
    if (!ReadFile(h, buf, sizeof buf < available ? sizeof buf : available, &n, nullptr) || n == 0)
      return;
    out->append(buf, n);
  }
}

}  // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input, uint32_t timeout_ms) {
  ProgramResult result;
  Handle in_r, in_w, out_r, out_w, err_r, err_w;
  if (!MakePipe(in_r, in_w, true) || !MakePipe(out_r, out_w, false) ||
      !MakePipe(err_r, err_w, false)) {
    result.err = "cannot create pipes";
    return result;
  }
  std::string command = QuoteArgument(program);
  for (const std::string& a : args) {
    command += ' ';
    command += QuoteArgument(a);
  }
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in_r.h;
  si.hStdOutput = out_w.h;
  si.hStdError = err_w.h;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                      nullptr, nullptr, &si, &pi)) {
    result.err = "cannot start " + program + ": error " + std::to_string(GetLastError());
    return result;
  }
  Handle process, thread;
  process.h = pi.hProcess;
  thread.h = pi.hThread;
  // Only the child may hold these ends, or the reads below never end.
  in_r.Close();
  out_w.Close();
  err_w.Close();
  std::thread out_reader(Drain, out_r.h, process.h, &result.out);
  std::thread err_reader(Drain, err_r.h, process.h, &result.err);
  std::thread writer([&] {
    DWORD n = 0;
    if (!input.empty())
      WriteFile(in_w.h, input.data(), static_cast<DWORD>(input.size()), &n, nullptr);
    in_w.Close();
  });
  if (WaitForSingleObject(process.h, timeout_ms) != WAIT_OBJECT_0) {
    result.timed_out = true;
    TerminateProcess(process.h, 255);
    WaitForSingleObject(process.h, 5000);
  }
  writer.join();
  out_reader.join();
  err_reader.join();
  DWORD code = 0;
  if (!result.timed_out && GetExitCodeProcess(process.h, &code))
    result.exit_code = static_cast<int>(code);
  return result;
}

#else

namespace {

struct Fd {
  int fd = -1;
  Fd() = default;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Close(); }
  void Close() {
    if (fd >= 0) close(fd);
    fd = -1;
  }
};

bool MakePipe(Fd& read_end, Fd& write_end) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  read_end.fd = fds[0];
  write_end.fd = fds[1];
  return true;
}

void Drain(int fd, std::string* out) {
  char buf[4096];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      out->append(buf, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return;
    }
  }
}

}  // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input, uint32_t timeout_ms) {
  // A program that stops reading early must not end the test by SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
  ProgramResult result;
  Fd in_r, in_w, out_r, out_w, err_r, err_w;
  if (!MakePipe(in_r, in_w) || !MakePipe(out_r, out_w) || !MakePipe(err_r, err_w)) {
    result.err = "cannot create pipes";
    return result;
  }
  // Everything the child needs is prepared before fork: between fork and
  // exec only async-signal-safe calls are allowed.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid < 0) {
    result.err = "cannot fork";
    return result;
  }
  if (pid == 0) {
    dup2(in_r.fd, 0);
    dup2(out_w.fd, 1);
    dup2(err_w.fd, 2);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  in_r.Close();
  out_w.Close();
  err_w.Close();
  std::thread out_reader(Drain, out_r.fd, &result.out);
  std::thread err_reader(Drain, err_r.fd, &result.err);
  std::thread writer([&] {
    size_t done = 0;
    while (done < input.size()) {
      ssize_t n = write(in_w.fd, input.data() + done, input.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    in_w.Close();
  });
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  int status = 0;
  for (;;) {
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  writer.join();
  out_reader.join();
  err_reader.join();
  if (!result.timed_out && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  return result;
}

#endif

}  // namespace tarvel::test
