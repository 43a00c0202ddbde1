#include "platform/win32/safe_open.h"

#include "platform/win32/system_text.h"

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

// A handle that closes itself; null when the open failed.
struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Held = std::unique_ptr<void, HandleCloser>;

// Opens a file or folder (which opens only with backup semantics) for its attributes, shared
// with readers and writers but not with deleting, so it can't be renamed or replaced while held.
// A named pipe's server gets no identity of ours to act with.
Held OpenAttributes(const std::wstring& path, DWORD flags) {
  const HANDLE handle = CreateFileW(
      ExtendedLengthPath(path).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
      nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS | flags, nullptr);
  return Held(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

// GetFinalPathNameByHandleW, which Windows has from Vista on: null before.
using FinalPathFunction = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
FinalPathFunction GetFinalPathFunction() {
  static const auto function = reinterpret_cast<FinalPathFunction>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
  return function;
}

std::wstring FinalPath(HANDLE handle, DWORD volume_name) {
  if (handle == nullptr || !HasFinalPaths()) return {};
  return Fetch([&](wchar_t* text, DWORD size) {
    return GetFinalPathFunction()(handle, text, size, volume_name);
  });
}

// Which file or folder an opened handle is, and whether it is a link; none if it can't be told.
std::optional<Opened> Identify(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
  if (handle == nullptr || !GetFileInformationByHandle(handle, &info)) return std::nullopt;
  return Opened{info.dwVolumeSerialNumber,
                std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow,
                (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0};
}

// Whether an opened file is the one asked for, and no link planted below its folder led
// elsewhere: it has no other hard link, and its final path is the folder's own followed by the
// rest that was asked for, or where that can't be told, no link lies on the way to it.
bool IsFileAskedFor(HANDLE file, const PathBelow& path) {
  BY_HANDLE_FILE_INFORMATION info{};
  const auto opened = Identify(file, info);
  if (!opened || info.nNumberOfLinks != 1) return false;
  // The device's name compares volumes without a drive letter too; a drive letter is asked
  // for where the device's name can't be told (under Wine, a file system not the prefix's).
  constexpr DWORD kVolumeNameNt = 2, kVolumeNameDos = 0;
  for (const DWORD volume_name : {kVolumeNameNt, kVolumeNameDos}) {
    const std::wstring folder_final = FinalPathOf(path.folder, volume_name);
    const std::wstring file_final = FinalPath(file, volume_name);
    if (!folder_final.empty() && !file_final.empty()) {
      return IsFinalPathOf(file_final, folder_final, path.rest);
    }
  }
  std::vector<Held> held;
  return NoLinkBelow(path, *opened, [&](const std::wstring& full, bool as_itself) {
    held.push_back(OpenAttributes(full, as_itself ? FILE_FLAG_OPEN_REPARSE_POINT : 0));
    BY_HANDLE_FILE_INFORMATION level{};
    return Identify(held.back().get(), level);
  });
}

}  // namespace

bool HasFinalPaths() { return GetFinalPathFunction() != nullptr; }

std::wstring FinalPathOf(const std::wstring& path, DWORD volume_name) {
  return FinalPath(OpenAttributes(path, 0).get(), volume_name);
}

void OpenIfThere(const PathBelow& path, std::vector<std::unique_ptr<UpdateFile>>& files) {
  const HANDLE handle =
      CreateFileW(ExtendedLengthPath(path.Full()).c_str(), GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) files.push_back(nullptr);
    return;
  }
  auto file = std::make_unique<WindowsFile>(handle);
  const bool asked_for = GetFileType(handle) == FILE_TYPE_DISK && IsFileAskedFor(handle, path);
  files.push_back(asked_for ? std::move(file) : nullptr);
}

}  // namespace fogswitch
