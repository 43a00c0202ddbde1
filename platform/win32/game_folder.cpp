#include "platform/game_folder.h"

#include <io.h>
#include <windows.h>

#include <cstring>
#include <cwctype>
#include <string>

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

  bool Flush() override { return FlushFileBuffers(handle_) != 0; }

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

// A string from a call that fills a buffer of `size` characters and returns the text's length,
// or the size it needs when the buffer is too small, or 0 when it fails (then empty).
template <typename Call>
std::wstring Fetch(Call call) {
  std::wstring text;
  DWORD size = MAX_PATH;
  for (int tries = 0; tries < 3; ++tries) {
    text.resize(size);
    const DWORD length = call(text.data(), size);
    if (length < size) {
      text.resize(length);
      return text;
    }
    size = length;
  }
  return {};
}

// Where Windows Vista and later keep the copy of a file that a program without a manifest, like
// the game, wrote in a protected folder without the right to: the copy the game reads from then
// on. Its path leaves out the drive, so it only stands for a folder on the system drive. Empty
// when there is none to look for (Windows XP has no LOCALAPPDATA and no such copies).
std::wstring VirtualStoreCopy(const std::wstring& name) {
  const std::wstring current =
      Fetch([](wchar_t* text, DWORD size) { return GetCurrentDirectoryW(size, text); });
  // The copy's path has the folder's long names, whatever form the folder was entered by.
  std::wstring folder = Fetch(
      [&](wchar_t* text, DWORD size) { return GetLongPathNameW(current.c_str(), text, size); });
  if (folder.empty()) folder = current;
  const std::wstring windows =
      Fetch([](wchar_t* text, DWORD size) { return GetSystemWindowsDirectoryW(text, size); });
  const std::wstring local = Fetch([](wchar_t* text, DWORD size) {
    return GetEnvironmentVariableW(L"LOCALAPPDATA", text, size);
  });
  if (local.empty() || windows.empty() || folder.size() < 3 || folder.compare(1, 2, L":\\") != 0 ||
      std::towupper(folder[0]) != std::towupper(windows[0])) {
    return {};
  }
  std::wstring below_drive = folder.substr(2);
  if (below_drive.back() == L'\\') below_drive.pop_back();
  return local + L"\\VirtualStore" + below_drive + L"\\" + name;
}

// Opens a file as fopen's "r+b" would: existing files only, never truncated, shared with other
// readers and writers. A missing file is left out; a read-only file, a folder or a device in its
// place is a null entry.
void OpenIfThere(const wchar_t* path, std::vector<std::unique_ptr<UpdateFile>>& files) {
  const HANDLE handle =
      CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) files.push_back(nullptr);
    return;
  }
  auto file = std::make_unique<WindowsFile>(handle);
  files.push_back(GetFileType(handle) == FILE_TYPE_DISK ? std::move(file) : nullptr);
}

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

  std::vector<std::unique_ptr<UpdateFile>> OpenForUpdate(const char* name) override {
    const std::wstring wide_name(name, name + std::strlen(name));
    std::vector<std::unique_ptr<UpdateFile>> files;
    OpenIfThere(wide_name.c_str(), files);
    const std::wstring copy = VirtualStoreCopy(wide_name);
    if (!copy.empty()) OpenIfThere(copy.c_str(), files);
    return files;
  }
};

}  // namespace

GameFolder& CurrentFolder() {
  static WorkingDirectory folder;
  return folder;
}

}  // namespace fogswitch
