#include "platform/game_folder.h"

#include <io.h>
#include <windows.h>

namespace fogswitch {
namespace {

class WindowsFile final : public UpdateFile {
 public:
  explicit WindowsFile(HANDLE handle) : handle_(handle) {}
  ~WindowsFile() override { Close(); }

  std::optional<std::uint64_t> Size() override {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle_, &size)) return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
  }

  std::optional<std::size_t> Read(char* buffer, std::size_t count) override {
    DWORD got = 0;
    if (!ReadFile(handle_, buffer, static_cast<DWORD>(count), &got, nullptr)) return std::nullopt;
    return got;
  }

  bool WriteAt(std::uint64_t offset, const char* data, std::size_t count) override {
    if (!MoveTo(offset)) return false;
    while (count > 0) {
      DWORD put = 0;
      if (!WriteFile(handle_, data, static_cast<DWORD>(count), &put, nullptr) || put == 0) {
        return false;
      }
      data += put;
      count -= put;
    }
    return true;
  }

  bool Resize(std::uint64_t length) override {
    return MoveTo(length) && SetEndOfFile(handle_) != 0;
  }

  bool Close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return true;
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return CloseHandle(handle) != 0;
  }

 private:
  bool MoveTo(std::uint64_t offset) {
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(handle_, position, nullptr, FILE_BEGIN) != 0;
  }

  HANDLE handle_;
};

class WorkingDirectory final : public GameFolder {
 public:
  bool HasEntryMatching(const char* pattern) override {
    // The runtime's search applies the platform's own rules: case, 8.3 names.
    _finddata_t entry{};
    const intptr_t search = _findfirst(pattern, &entry);
    if (search == -1) return false;
    _findclose(search);
    return true;
  }

  std::unique_ptr<UpdateFile> OpenForUpdate(const char* name) override {
    // Like fopen's "r+b": existing files only, never truncated, shared with other readers and
    // writers. A read-only file or a directory fails to open.
    const HANDLE handle =
        CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    auto file = std::make_unique<WindowsFile>(handle);
    if (GetFileType(handle) != FILE_TYPE_DISK) return nullptr;
    return file;
  }
};

}  // namespace

GameFolder& CurrentFolder() {
  static WorkingDirectory folder;
  return folder;
}

}  // namespace fogswitch
