#include "platform/game_folder.h"

#include <io.h>
#include <windows.h>
// After windows.h, which they need.
#include <sddl.h>
#include <tlhelp32.h>

#include <cstring>
#include <string>

#include "platform/win32/user_copies.h"

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

// GetFinalPathNameByHandleW, which Windows has from Vista on: null before.
using FinalPathFunction = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
FinalPathFunction GetFinalPathFunction() {
  static const auto function = reinterpret_cast<FinalPathFunction>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
  return function;
}

// The path of an opened file or folder with every link resolved, on its volume's device name,
// so volumes without a drive letter compare too; empty when it can't be told.
std::wstring FinalPath(HANDLE handle) {
  constexpr DWORD kVolumeNameNt = 2;
  return Fetch([&](wchar_t* text, DWORD size) {
    return GetFinalPathFunction()(handle, text, size, kVolumeNameNt);
  });
}

// The full path of `path`, with "." and ".." resolved; empty when it has none.
std::wstring FullPath(const std::wstring& path) {
  return Fetch([&](wchar_t* text, DWORD size) {
    return GetFullPathNameW(path.c_str(), size, text, nullptr);
  });
}

// Whether an opened file is the one asked for, and no link planted below its folder led
// elsewhere: it has no other hard link, and where the system can tell, its final path is the
// folder's own followed by the rest that was asked for.
bool IsFileAskedFor(HANDLE file, const PathBelow& path) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info) || info.nNumberOfLinks != 1) return false;
  if (GetFinalPathFunction() == nullptr) return true;
  // A folder opens only with backup semantics.
  const HANDLE folder = CreateFileW(ExtendedLengthPath(path.folder).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return false;
  const std::wstring folder_final = FinalPath(folder);
  CloseHandle(folder);
  const std::wstring file_final = FinalPath(file);
  return !folder_final.empty() && !file_final.empty() &&
         IsFinalPathOf(file_final, folder_final, path.rest);
}

// Opens a file as fopen's "r+b" would: existing files only, never truncated, shared with other
// readers and writers, whatever the length of its path. A missing file is left out; a read-only
// file, a folder, a device or a link in its place is a null entry. A named pipe's server gets
// no identity of ours to act with.
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

// When a process was created; none when that can't be read.
std::optional<std::uint64_t> CreationTime(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return std::nullopt;
  return std::uint64_t{created.dwHighDateTime} << 32 | created.dwLowDateTime;
}

// The SID of the user a process runs as, in its string form; empty when it can't be read.
std::wstring UserOf(HANDLE process) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> user(size);
  wchar_t* text = nullptr;
  std::wstring sid;
  if (size != 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size) &&
      ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text)) {
    sid = text;
    LocalFree(text);
  }
  CloseHandle(token);
  return sid;
}

// A user's profile folder, from the profile list that the system keeps (and that a 32-bit
// program sees as it is): none where the list has no usable entry.
std::optional<std::wstring> ProfileOf(const std::wstring& sid, const std::wstring& windows) {
  const std::wstring path = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + sid;
  HKEY key = nullptr;
  if (sid.empty() ||
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  DWORD type = 0, size = 0;
  std::wstring data;
  LONG status = RegQueryValueExW(key, L"ProfileImagePath", nullptr, &type, nullptr, &size);
  if (status == ERROR_SUCCESS) {
    data.resize(size / sizeof(wchar_t) + 1);
    status = RegQueryValueExW(key, L"ProfileImagePath", nullptr, &type,
                              reinterpret_cast<BYTE*>(data.data()), &size);
    data.resize(size / sizeof(wchar_t));  // stored data may end without its zero
  }
  RegCloseKey(key);
  const auto folder = status == ERROR_SUCCESS ? ProfileFolder(type, data, windows) : std::nullopt;
  const std::wstring full = folder ? FullPath(*folder) : L"";
  if (full.empty()) return std::nullopt;
  return full;
}

// The process that started this one, as far as it can be read: its id from a snapshot of the
// processes, and it only if it was created before this one, since an id is reused once its
// process has ended.
std::optional<Account> Parent(const std::wstring& windows) {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return std::nullopt;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  std::optional<DWORD> parent_id;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && !parent_id;
       more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId()) parent_id = entry.th32ParentProcessID;
  }
  CloseHandle(snapshot);
  if (!parent_id) return std::nullopt;
  constexpr DWORD kQueryLimitedInformation = 0x1000;  // Vista on; XP needs the full right
  HANDLE process = OpenProcess(kQueryLimitedInformation, FALSE, *parent_id);
  if (process == nullptr) process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, *parent_id);
  if (process == nullptr) return std::nullopt;
  const auto created = CreationTime(process);
  Account parent{UserOf(process), std::nullopt, created.value_or(0)};
  CloseHandle(process);
  if (!created || parent.sid.empty()) return std::nullopt;
  parent.profile = ProfileOf(parent.sid, windows);
  return parent;
}

// The local application data folders of the users whose copies count: the one this program
// runs as, and the one who started it, who may have typed another's password at the elevation
// prompt.
std::vector<PathBelow> UsersLocalData(const std::wstring& windows) {
  Account own{UserOf(GetCurrentProcess()), std::nullopt,
              CreationTime(GetCurrentProcess()).value_or(0)};
  own.profile = ProfileOf(own.sid, windows);
  const std::wstring local = FullPath(Fetch([](wchar_t* text, DWORD size) {
    return GetEnvironmentVariableW(L"LOCALAPPDATA", text, size);
  }));
  return LocalDataFolders(own, Parent(windows), local);
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
    const std::wstring current =
        Fetch([](wchar_t* text, DWORD size) { return GetCurrentDirectoryW(size, text); });
    // The copies' paths have the folder's long names, whatever form the folder was entered by.
    std::wstring folder = Fetch(
        [&](wchar_t* text, DWORD size) { return GetLongPathNameW(current.c_str(), text, size); });
    if (folder.empty()) folder = current;
    std::vector<std::unique_ptr<UpdateFile>> files;
    OpenIfThere({folder, wide_name}, files);
    // Windows keeps per-user copies from Vista on, which is also where final paths can be told.
    if (GetFinalPathFunction() == nullptr) return files;
    const std::wstring windows =
        Fetch([](wchar_t* text, DWORD size) { return GetSystemWindowsDirectoryW(text, size); });
    for (const PathBelow& local_data : UsersLocalData(windows)) {
      const auto copy = VirtualStoreCopy(folder, windows, local_data, wide_name);
      if (copy) OpenIfThere(*copy, files);
    }
    return files;
  }
};

}  // namespace

GameFolder& CurrentFolder() {
  static WorkingDirectory folder;
  return folder;
}

}  // namespace fogswitch
