#include "platform/console.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace fogswitch {
namespace {

// What a signal handler needs to give the terminal back before the signal ends the process.
volatile std::sig_atomic_t g_tty = -1;
termios g_saved_mode{};

extern "C" void RestoreTerminalAndDie(int signal_number) {
  if (g_tty >= 0) tcsetattr(g_tty, TCSANOW, &g_saved_mode);
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

// After the first byte of a key, drops what follows within 50 ms: the rest of an escape sequence
// or of a multi-byte character, which would otherwise be left for the shell.
void DropRestOfKey(int tty) {
  pollfd waiting{tty, POLLIN, 0};
  char rest[64];
  for (int reads = 0; reads < 64 && poll(&waiting, 1, 50) > 0; ++reads) {
    if (read(tty, rest, sizeof rest) <= 0) break;
  }
}

}  // namespace

void WaitForKey() {
  const int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (tty < 0) return;
  termios saved{};
  if (tcgetattr(tty, &saved) != 0) {
    close(tty);
    return;
  }
  termios raw = saved;
  raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | IGNCR);
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;

  g_saved_mode = saved;
  g_tty = tty;
  struct sigaction restore {};
  restore.sa_handler = RestoreTerminalAndDie;
  sigemptyset(&restore.sa_mask);
  struct Ending {
    int signal_number;
    struct sigaction previous;
  } endings[] = {{SIGHUP, {}}, {SIGTERM, {}}, {SIGINT, {}}, {SIGQUIT, {}}};
  for (Ending& ending : endings) sigaction(ending.signal_number, &restore, &ending.previous);

  if (tcsetattr(tty, TCSANOW, &raw) == 0) {
    char key = 0;
    ssize_t got = 0;
    do {
      got = read(tty, &key, sizeof key);
    } while (got < 0 && errno == EINTR);
    if (got == 1) DropRestOfKey(tty);
  }

  tcsetattr(tty, TCSANOW, &saved);
  for (const Ending& ending : endings) sigaction(ending.signal_number, &ending.previous, nullptr);
  g_tty = -1;
  close(tty);
}

}  // namespace fogswitch
