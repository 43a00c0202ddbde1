#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace fogswitch {

// A file opened for update: read from the start, written in place, never created or truncated
// by opening it.
class UpdateFile {
 public:
  virtual ~UpdateFile() = default;
  // The current size, as far as the platform can tell.
  virtual std::optional<std::uint64_t> Size() = 0;
  // Reads up to `count` bytes from the read position; 0 at the end, nothing on an error.
  virtual std::optional<std::size_t> Read(char* buffer, std::size_t count) = 0;
  // Writes all `count` bytes at `offset` through to the file; false if any of them may be missing.
  virtual bool WriteAt(std::uint64_t offset, const char* data, std::size_t count) = 0;
  // Grows or cuts the file to `length` bytes.
  virtual bool Resize(std::uint64_t length) = 0;
  // Has what was written and the file's length on the disk, so a power cut can't lose them.
  virtual bool Flush() = 0;
  virtual bool Close() = 0;
};

// The folder a step works in, looked up once when it is opened and held until it goes: every
// file is searched for and opened in that folder, whatever happens to its path meanwhile.
class GameFolder {
 public:
  virtual ~GameFolder() = default;
  // Whether any entry's name matches a wildcard pattern ("*" is any run of characters).
  virtual bool HasEntryMatching(const char* pattern) = 0;
  // Opens every copy of a file that programs started in the folder may read: the folder's own
  // and a per-user copy where the platform keeps one. Each is an existing file opened for reading
  // and writing, shared with other readers and writers. Copies that don't exist are left out; one
  // that exists but can't be opened for update, or that can't be looked for, is a null entry.
  virtual std::vector<std::unique_ptr<UpdateFile>> OpenForUpdate(const char* name) = 0;
};

// The current working directory.
std::unique_ptr<GameFolder> OpenCurrentFolder();

}  // namespace fogswitch
