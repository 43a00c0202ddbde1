#include "platform/process.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

namespace fogswitch {

void PrepareProcess() {
  // A closed standard descriptor would be handed to the next file opened, cam.cfg among them. The
  // lowest free descriptor is the one closed, so the open fills just that one.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) open("/dev/null", O_RDWR);
  }
  // A reader that went away must not end the run before the work is done.
  std::signal(SIGPIPE, SIG_IGN);
  struct stat st {};
  if (fstat(STDOUT_FILENO, &st) == 0 && S_ISCHR(st.st_mode)) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
  }
}

}  // namespace fogswitch
