#include "platform/game_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "platform/ascii.h"

namespace fogswitch {
namespace {

class PosixFile final : public UpdateFile {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { Close(); }

  std::optional<std::uint64_t> Size() override {
    struct stat st {};
    if (fstat(fd_, &st) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
  }

  std::optional<std::size_t> Read(char* buffer, std::size_t count) override {
    for (;;) {
      const ssize_t got = read(fd_, buffer, count);
      if (got >= 0) return static_cast<std::size_t>(got);
      if (errno != EINTR) return std::nullopt;
    }
  }

  bool WriteAt(std::uint64_t offset, const char* data, std::size_t count) override {
    while (count > 0) {
      const ssize_t put = pwrite(fd_, data, count, static_cast<off_t>(offset));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      data += put;
      offset += static_cast<std::uint64_t>(put);
      count -= static_cast<std::size_t>(put);
    }
    return true;
  }

  bool Resize(std::uint64_t length) override {
    const auto size = Size();
    if (!size) return false;
    // Claim the disk space for growth up front, so a full disk fails before any byte moves.
    if (length > *size) {
      return posix_fallocate(fd_, static_cast<off_t>(*size), static_cast<off_t>(length - *size)) ==
             0;
    }
    return ftruncate(fd_, static_cast<off_t>(length)) == 0;
  }

  bool Flush() override { return fsync(fd_) == 0; }

  bool Close() override {
    if (fd_ < 0) return true;
    const int fd = fd_;
    fd_ = -1;
    return close(fd) == 0;
  }

 private:
  int fd_;
};

// Matches a name against a pattern as the game folder search does: "*" stands for any run of
// characters, and ASCII letter case is ignored.
bool MatchesWildcard(std::string_view name, std::string_view pattern) {
  if (pattern.empty()) return name.empty();
  // One call per way of splitting the name at each "*"; the game's pattern has two.
  if (pattern.front() == '*') {
    return MatchesWildcard(name, pattern.substr(1)) ||
           (!name.empty() && MatchesWildcard(name.substr(1), pattern));
  }
  return !name.empty() && AsciiLower(pattern.front()) == AsciiLower(name.front()) &&
         MatchesWildcard(name.substr(1), pattern.substr(1));
}

class WorkingDirectory final : public GameFolder {
 public:
  ~WorkingDirectory() override {
    if (folder_ >= 0) close(folder_);
  }

  bool HasEntryMatching(const char* pattern) override {
    const int listed = folder_ < 0 ? -1 : dup(folder_);
    DIR* dir = listed < 0 ? nullptr : fdopendir(listed);
    if (dir == nullptr) {
      if (listed >= 0) close(listed);
      return false;
    }
    rewinddir(dir);
    bool found = false;
    while (const dirent* entry = readdir(dir)) {
      if (MatchesWildcard(entry->d_name, pattern)) {
        found = true;
        break;
      }
    }
    closedir(dir);
    return found;
  }

  // There are no per-user copies here: only the folder's own file.
  std::vector<std::unique_ptr<UpdateFile>> OpenForUpdate(const char* name) override {
    std::vector<std::unique_ptr<UpdateFile>> files;
    // Non-blocking, so a FIFO in the file's place can't hang the run.
    const int fd = openat(folder_, name, O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) return files;
    files.push_back(fd < 0 ? nullptr : RegularFile(fd));
    return files;
  }

 private:
  // Only a regular file is edited.
  static std::unique_ptr<UpdateFile> RegularFile(int fd) {
    auto file = std::make_unique<PosixFile>(fd);
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return nullptr;
    return file;
  }

  // Looked up once, here, when the step begins.
  const int folder_ = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
};

}  // namespace

std::unique_ptr<GameFolder> OpenCurrentFolder() { return std::make_unique<WorkingDirectory>(); }

}  // namespace fogswitch
