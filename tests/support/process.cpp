#include "tests/support/process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fogswitch::testing {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void ExecInChild(const Command& command) {
  signal(SIGPIPE, SIG_DFL);  // whatever the test runner chose, the program starts with the default
  if (chdir(command.cwd.c_str()) != 0) _exit(126);
  for (const auto& [name, value] : command.env) setenv(name.c_str(), value.c_str(), 1);
  const int in = open(command.stdin_path ? command.stdin_path->c_str() : "/dev/null", O_RDONLY);
  if (in < 0 || dup2(in, STDIN_FILENO) < 0) _exit(126);
  if (in != STDIN_FILENO) close(in);
  if (command.stdout_reader_gone) {
    int gone[2];
    if (pipe(gone) != 0) _exit(126);
    close(gone[0]);
    dup2(gone[1], STDOUT_FILENO);
    close(gone[1]);
  }
  for (int fd : command.closed_fds) close(fd);
  if (command.file_size_limit) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{static_cast<rlim_t>(*command.file_size_limit),
                       static_cast<rlim_t>(*command.file_size_limit)};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
  }
  if (command.memory_limit) {
    const rlimit limit{static_cast<rlim_t>(*command.memory_limit),
                       static_cast<rlim_t>(*command.memory_limit)};
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
  }
  if (command.as) {
    if (setgroups(0, nullptr) != 0 || setgid(command.as->second) != 0 ||
        setuid(command.as->first) != 0) {
      _exit(126);
    }
  }
  std::vector<char*> argv;
  for (const auto& arg : command.argv) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  _exit(127);
}

int DecodeStatus(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

}  // namespace

Outcome RunDetached(const Command& command, int timeout_ms) {
  int out[2];
  int err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    setsid();
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    ExecInChild(command);
  }
  close(out[1]);
  close(err[1]);
  Outcome outcome;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&outcome.out, &outcome.err};
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::optional<int> status;
  // Until the command has ended and its output has been read. Helpers it leaves behind (Wine's
  // services) may keep the pipes open, so the end of the command counts, not the pipes'.
  for (;;) {
    if (!status) {
      int raw = 0;
      if (waitpid(pid, &raw, WNOHANG) == pid) status = DecodeStatus(raw);
    }
    if (fds[0].fd < 0 && fds[1].fd < 0 && status) break;
    const int ready = poll(fds, 2, 100);
    if (ready == 0 && status) break;
    if (Clock::now() >= deadline) break;
    for (int i = 0; i < 2 && ready > 0; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char chunk[4096];
      const ssize_t got = read(fds[i].fd, chunk, sizeof chunk);
      if (got > 0) {
        sinks[i]->append(chunk, static_cast<std::size_t>(got));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
      }
    }
  }
  for (auto& fd : fds) {
    if (fd.fd >= 0) close(fd.fd);
  }
  if (!status) {
    kill(pid, SIGKILL);
    int raw = 0;
    waitpid(pid, &raw, 0);
    if (Clock::now() < deadline) status = DecodeStatus(raw);
  }
  outcome.exit_code = status.value_or(-1);
  return outcome;
}

PtyRun::PtyRun(const Command& command) {
  winsize size{25, 80, 0, 0};
  pid_ = forkpty(&master_, nullptr, nullptr, &size);
  if (pid_ < 0) throw std::runtime_error("forkpty");
  if (pid_ == 0) {
    Command in_terminal = command;
    // Standard input stays the terminal unless the test names a file.
    if (!in_terminal.stdin_path) in_terminal.stdin_path = "/dev/tty";
    ExecInChild(in_terminal);
  }
}

PtyRun::~PtyRun() {
  if (!status_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  close(master_);
}

void PtyRun::Drain(int timeout_ms) {
  pollfd fd{master_, POLLIN, 0};
  if (poll(&fd, 1, timeout_ms) <= 0) return;
  char chunk[4096];
  const ssize_t got = read(master_, chunk, sizeof chunk);
  if (got > 0)
    screen_.append(chunk, static_cast<std::size_t>(got));
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(10));  // the terminal closed
}

bool PtyRun::WaitFor(std::string_view text, int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (this->text().find(text) == std::string::npos) {
    if (Clock::now() >= deadline) return false;
    Drain(50);
  }
  return true;
}

bool PtyRun::WaitForKeyMode(int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    termios mode{};  // the master shows the terminal's current settings
    if (tcgetattr(master_, &mode) == 0 && (mode.c_lflag & ICANON) == 0) return true;
    if (Clock::now() >= deadline) return false;
    Drain(10);
  }
}

void PtyRun::Type(std::string_view keys) {
  if (write(master_, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size())) {
    throw std::runtime_error("write to terminal");
  }
}

bool PtyRun::StillRunningAfter(int ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < deadline) {
    Drain(20);
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = DecodeStatus(status);
      return false;
    }
  }
  return true;
}

std::optional<int> PtyRun::WaitExit(int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!status_ && Clock::now() < deadline) {
    Drain(20);
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) status_ = DecodeStatus(status);
  }
  if (!status_) return std::nullopt;
  for (int i = 0; i < 5; ++i) Drain(10);  // what it printed last
  return status_;
}

std::string PtyRun::text() const { return PlainText(screen_); }

std::string PlainText(std::string_view out) {
  std::string text;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\r') continue;
    if (out[i] != '\x1b') {
      text += out[i];
      continue;
    }
    if (i + 1 < out.size() && out[i + 1] == '[') {
      std::size_t end = i + 2;
      while (end < out.size() && !(out[end] >= 0x40 && out[end] <= 0x7e)) ++end;
      if (end < out.size() && out[end] == 'C') {
        const std::string count(out.substr(i + 2, end - i - 2));
        text.append(count.empty() ? 1 : std::stoul(count), ' ');
      }
      i = end;
    } else {
      ++i;  // a two-byte escape
    }
  }
  return text;
}

TempDir::TempDir(const std::filesystem::path& base) {
  std::string pattern = (base / "fogswitch-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("write " + path.string());
}

}  // namespace fogswitch::testing
