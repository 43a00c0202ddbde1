#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fogswitch::testing {

using Environment = std::vector<std::pair<std::string, std::string>>;

struct Command {
  Command(std::vector<std::string> args, std::filesystem::path dir)
      : argv(std::move(args)), cwd(std::move(dir)) {}

  std::vector<std::string> argv;
  std::filesystem::path cwd;
  Environment env;                            // added to the test's own environment
  std::optional<std::string> stdin_path;      // standard input; /dev/null when unset
  std::optional<long> file_size_limit;        // RLIMIT_FSIZE, with SIGXFSZ ignored
  std::optional<long> memory_limit;           // RLIMIT_AS
  std::optional<std::pair<uid_t, gid_t>> as;  // run as this user and group
  std::vector<int> closed_fds;                // standard descriptors it starts without
  bool stdout_reader_gone = false;            // standard output a pipe nobody reads
};

struct Outcome {
  int exit_code = -1;  // -1 when it ended by a signal or was killed
  std::string out;
  std::string err;
};

// Runs a command in a session of its own, with no terminal, and collects what it printed.
Outcome RunDetached(const Command& command, int timeout_ms = 60000);

// Runs a command with a pseudo-terminal as its controlling terminal and standard streams
// (standard input excepted, where the command names a file).
class PtyRun {
 public:
  explicit PtyRun(const Command& command);
  ~PtyRun();
  PtyRun(const PtyRun&) = delete;
  PtyRun& operator=(const PtyRun&) = delete;

  // Reads the terminal until `text` has appeared; false on a timeout or the end of output.
  bool WaitFor(std::string_view text, int timeout_ms = 30000);
  // Waits until the command has put the terminal out of line mode, ready to read single keys.
  bool WaitForKeyMode(int timeout_ms = 30000);
  void Type(std::string_view keys);
  // True when the command is still running after `ms` milliseconds.
  bool StillRunningAfter(int ms);
  // The exit status, or nothing when it did not end in time (it is killed then).
  std::optional<int> WaitExit(int timeout_ms = 30000);
  const std::string& screen() const { return screen_; }
  // The screen as text: terminal control sequences dropped, cursor moves to the right as spaces.
  std::string text() const;

 private:
  void Drain(int timeout_ms);

  pid_t pid_ = -1;
  int master_ = -1;
  std::string screen_;
  std::optional<int> status_;
};

class TempDir {
 public:
  explicit TempDir(const std::filesystem::path& base = std::filesystem::temp_directory_path());
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Terminal output as text: control sequences dropped, cursor moves to the right as spaces, no CR.
std::string PlainText(std::string_view terminal_output);

std::string ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, std::string_view bytes);

}  // namespace fogswitch::testing
