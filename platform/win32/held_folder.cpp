#include "platform/win32/held_folder.h"

#include <winternl.h>

namespace fogswitch {
namespace {

class WindowsFile final : public UpdateFile {
 public:
  explicit WindowsFile(Held handle) : handle_(std::move(handle)) {}

  std::optional<std::uint64_t> Size() override {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle_.get(), &size)) return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
  }

  std::optional<std::size_t> Read(char* buffer, std::size_t count) override {
    DWORD got = 0;
    if (!ReadFile(handle_.get(), buffer, static_cast<DWORD>(count), &got, nullptr)) {
      return std::nullopt;
    }
    return got;
  }

  bool WriteAt(std::uint64_t offset, const char* data, std::size_t count) override {
    if (!MoveTo(offset)) return false;
    while (count > 0) {
      DWORD put = 0;
      if (!WriteFile(handle_.get(), data, static_cast<DWORD>(count), &put, nullptr) || put == 0) {
        return false;
      }
      data += put;
      count -= put;
    }
    return true;
  }

  bool Resize(std::uint64_t length) override {
    return MoveTo(length) && SetEndOfFile(handle_.get()) != 0;
  }

  bool Flush() override { return FlushFileBuffers(handle_.get()) != 0; }

  bool Close() override {
    if (!handle_) return true;
    return CloseHandle(handle_.release()) != 0;
  }

 private:
  bool MoveTo(std::uint64_t offset) {
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(handle_.get(), position, nullptr, FILE_BEGIN) != 0;
  }

  Held handle_;
};

HMODULE Ntdll() { return GetModuleHandleW(L"ntdll.dll"); }

// A name as ntdll's calls take it, counted rather than ended by a zero.
UNICODE_STRING CountedName(const std::wstring& text) {
  UNICODE_STRING name{};
  name.Buffer = const_cast<wchar_t*>(text.c_str());
  name.Length = name.MaximumLength = static_cast<USHORT>(text.size() * sizeof(wchar_t));
  return name;
}

// GetFinalPathNameByHandleW, which Windows has from Vista on: null before.
using FinalPathFunction = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
FinalPathFunction GetFinalPathFunction() {
  static const auto function =
      SystemFunction<FinalPathFunction>(Kernel32(), "GetFinalPathNameByHandleW");
  return function;
}

std::wstring FinalPath(HANDLE handle, DWORD volume_name) {
  return Fetch([&](wchar_t* text, DWORD size) {
    return GetFinalPathFunction()(handle, text, size, volume_name);
  });
}

FinalPaths FinalPathsOf(HANDLE handle) {
  if (!HasFinalPaths()) return {};
  constexpr DWORD kVolumeNameDos = 0, kVolumeNameNt = 2;
  return {FinalPath(handle, kVolumeNameNt), FinalPath(handle, kVolumeNameDos)};
}

constexpr NTSTATUS kObjectNameNotFound = static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS kObjectPathNotFound = static_cast<NTSTATUS>(0xC000003A);

// Opens `name` below the folder `root`, relative to its handle, so no link in the folder's own
// place can lead elsewhere. A named pipe's server gets no identity of ours to act with. Null
// when it fails, with the system's status.
Held OpenBelow(HANDLE root, const std::wstring& name, ACCESS_MASK access, ULONG options,
               NTSTATUS& status) {
  static const auto create = SystemFunction<decltype(&NtCreateFile)>(Ntdll(), "NtCreateFile");
  // A counted name holds at most 32767 characters.
  if (create == nullptr || name.size() > 0x7FFF) {
    status = static_cast<NTSTATUS>(0xC0000033);  // the name is invalid
    return nullptr;
  }
  UNICODE_STRING object_name = CountedName(name);
  SECURITY_QUALITY_OF_SERVICE quality{sizeof quality, SecurityAnonymous, SECURITY_STATIC_TRACKING,
                                      FALSE};
  OBJECT_ATTRIBUTES attributes{};
  attributes.Length = sizeof attributes;
  attributes.RootDirectory = root;
  attributes.ObjectName = &object_name;
  attributes.Attributes = OBJ_CASE_INSENSITIVE;
  attributes.SecurityQualityOfService = &quality;
  IO_STATUS_BLOCK io{};
  HANDLE handle = nullptr;
  status = create(&handle, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                  options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  return Held(status >= 0 ? handle : nullptr);
}

// Which file or folder an opened handle is, and whether it is a link; none if it can't be told.
std::optional<Opened> Identify(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
  if (handle == nullptr || !GetFileInformationByHandle(handle, &info)) return std::nullopt;
  return Opened{info.dwVolumeSerialNumber,
                std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow,
                (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0};
}

// Whether a file opened as `rest` below a folder is the one asked for, and no link below the
// folder led elsewhere: it has no other hard link, and its final path is the folder's followed by
// `rest`, or where the system has no final paths, no link lies on the way to it.
bool IsFileAskedFor(HANDLE file, const PinnedFolder& folder, const std::wstring& rest) {
  BY_HANDLE_FILE_INFORMATION info{};
  const auto opened = Identify(file, info);
  if (!opened || info.nNumberOfLinks != 1) return false;
  switch (
      CheckFinalPaths(HasFinalPaths(), folder.final_paths, FinalPathsOf(file), rest, SameText)) {
    case FileCheck::kAccept:
      return true;
    case FileCheck::kRefuse:
      return false;
    case FileCheck::kWalk:
      break;
  }
  // Reading data is what the system checks sharing for: a level held so can't be renamed.
  std::vector<Held> held;
  HANDLE above = folder.handle.get();
  return NoLinkBelow(rest, *opened, [&](const std::wstring& name) -> std::optional<Opened> {
    NTSTATUS status = 0;
    held.push_back(OpenBelow(above, name, FILE_READ_DATA | FILE_READ_ATTRIBUTES,
                             FILE_OPEN_REPARSE_POINT, status));
    above = held.back().get();
    BY_HANDLE_FILE_INFORMATION level{};
    return Identify(above, level);
  });
}

}  // namespace

bool HasFinalPaths() { return GetFinalPathFunction() != nullptr; }

bool SameText(std::wstring_view a, std::wstring_view b) {
  // Windows has it from Vista on, as it has final paths, the only ones compared so.
  using Compare = int(WINAPI*)(LPCWCH, int, LPCWCH, int, BOOL);
  static const auto compare = SystemFunction<Compare>(Kernel32(), "CompareStringOrdinal");
  return compare != nullptr && compare(a.data(), static_cast<int>(a.size()), b.data(),
                                       static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

PinnedFolder PinFolder(const std::wstring& path) {
  const HANDLE handle = CreateFileW(
      ExtendedLengthPath(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS, nullptr);
  PinnedFolder folder;
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    folder.missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return folder;
  }
  folder.handle.reset(handle);
  folder.final_paths = FinalPathsOf(handle);
  return folder;
}

bool HasEntryMatching(const PinnedFolder& folder, const std::wstring& pattern) {
  using Query = NTSTATUS(NTAPI*)(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, PVOID,
                                 ULONG, FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING, BOOLEAN);
  static const auto query = SystemFunction<Query>(Ntdll(), "NtQueryDirectoryFile");
  if (!folder.handle || query == nullptr) return false;
  UNICODE_STRING mask = CountedName(pattern);
  IO_STATUS_BLOCK io{};
  // Room for one entry with the longest name.
  alignas(FILE_NAMES_INFORMATION) unsigned char entry[sizeof(FILE_NAMES_INFORMATION) + 512];
  return query(folder.handle.get(), nullptr, nullptr, nullptr, &io, entry, sizeof entry,
               FileNamesInformation, TRUE, &mask, TRUE) >= 0;
}

void OpenIfThere(const PinnedFolder& folder, const std::wstring& rest,
                 std::vector<std::unique_ptr<UpdateFile>>& files) {
  if (folder.missing) return;
  NTSTATUS status = 0;
  Held handle = folder.handle ? OpenBelow(folder.handle.get(), rest, GENERIC_READ | GENERIC_WRITE,
                                          FILE_NON_DIRECTORY_FILE, status)
                              : nullptr;
  if (!handle) {
    if (folder.handle && (status == kObjectNameNotFound || status == kObjectPathNotFound)) return;
    files.push_back(nullptr);
    return;
  }
  const bool asked_for =
      GetFileType(handle.get()) == FILE_TYPE_DISK && IsFileAskedFor(handle.get(), folder, rest);
  files.push_back(asked_for ? std::make_unique<WindowsFile>(std::move(handle)) : nullptr);
}

}  // namespace fogswitch
