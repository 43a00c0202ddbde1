#include "platform/win32/held_folder.h"

#include <winternl.h>

#include <cstring>

#include "platform/win32/fetch.h"
#include "platform/win32/libraries.h"
#include "platform/win32/text.h"

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

  bool Close() override { return CloseHandle(handle_.release()) != 0; }

 private:
  bool MoveTo(std::uint64_t offset) {
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(handle_.get(), position, nullptr, FILE_BEGIN) != 0;
  }

  Held handle_;
};

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
  return FetchString([&](wchar_t* text, DWORD size) {
    return GetFinalPathFunction()(handle, text, size, volume_name);
  });
}

FinalPaths FinalPathsOf(HANDLE handle) {
  if (!HasFinalPaths()) return {};
  constexpr DWORD kVolumeNameDos = 0, kVolumeNameNt = 2;
  return {FinalPath(handle, kVolumeNameNt), FinalPath(handle, kVolumeNameDos)};
}

// What the system tells of an open file or folder, each fact where it can be read.
LevelFacts FactsOf(HANDLE handle) {
  LevelFacts facts;
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileInformationByHandle(handle, &info)) {
    facts.attributes = info.dwFileAttributes;
    facts.links = info.nNumberOfLinks;
    facts.index = {info.dwVolumeSerialNumber,
                   {std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow, 0}};
  }
  facts.on_disk = GetFileType(handle) == FILE_TYPE_DISK;
  // The 128-bit id, where the system has it (FileIdInfo, from Windows 8 on).
  using GetInfo = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
  static const auto get_info = SystemFunction<GetInfo>(Kernel32(), "GetFileInformationByHandleEx");
  FILE_ID_INFO id_info{};
  if (get_info != nullptr && get_info(handle, FileIdInfo, &id_info, sizeof id_info)) {
    FileId id{id_info.VolumeSerialNumber, {}};
    std::memcpy(id.id.data(), id_info.FileId.Identifier, sizeof id.id);
    facts.full_id = id;
  }
  // ntdll has it from Windows 2000 on, where GetFileInformationByHandleEx came with Vista.
  using Query = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
  static const auto query = SystemFunction<Query>(Ntdll(), "NtQueryInformationFile");
  struct {
    ULONG attributes, reparse_tag;
  } tag{};
  IO_STATUS_BLOCK io{};
  if (query != nullptr && query(handle, &io, &tag, sizeof tag, FileAttributeTagInformation) >= 0) {
    facts.reparse_tag = tag.reparse_tag;
  }
  return facts;
}

// Opens `name` below the folder `root`, relative to its handle, so no link in the folder's own
// place can lead elsewhere. A named pipe's server gets no identity of ours to act with. Null
// when it fails, with the system's error code.
Held OpenBelow(HANDLE root, const std::wstring& name, ACCESS_MASK access, ULONG options,
               unsigned long& error) {
  static const auto create = SystemFunction<decltype(&NtCreateFile)>(Ntdll(), "NtCreateFile");
  static const auto error_of =
      SystemFunction<decltype(&RtlNtStatusToDosError)>(Ntdll(), "RtlNtStatusToDosError");
  // A counted name holds at most 32767 characters.
  if (create == nullptr || error_of == nullptr || name.size() > 0x7FFF) {
    error = ERROR_INVALID_NAME;
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
  const NTSTATUS status = create(&handle, access | SYNCHRONIZE, &attributes, &io, nullptr,
                                 FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 FILE_OPEN, options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (status < 0) {
    error = error_of(status);
    return nullptr;
  }
  return Held(handle);
}

}  // namespace

bool HasFinalPaths() { return GetFinalPathFunction() != nullptr; }

HeldFolder::HeldFolder(const std::wstring& path) {
  const HANDLE handle = CreateFileW(
      ExtendedLengthPath(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS, nullptr);
  LevelFacts facts;
  if (handle == INVALID_HANDLE_VALUE) {
    facts.open_error = GetLastError();
  } else {
    handle_.reset(handle);
    facts = FactsOf(handle);
    found_.final_paths = FinalPathsOf(handle);
  }
  found_.state = Describe(facts, false).state;
}

bool HeldFolder::AnyEntryMatches(const std::wstring& pattern) const {
  using Query = NTSTATUS(NTAPI*)(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, PVOID,
                                 ULONG, FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING, BOOLEAN);
  static const auto query = SystemFunction<Query>(Ntdll(), "NtQueryDirectoryFile");
  if (!handle_ || query == nullptr) return false;
  UNICODE_STRING mask = CountedName(pattern);
  IO_STATUS_BLOCK io{};
  // Room for one entry with the longest name, asked for as Windows' own file search asks, so a
  // file system that serves only that still answers.
  alignas(FILE_BOTH_DIR_INFORMATION) unsigned char entry[sizeof(FILE_BOTH_DIR_INFORMATION) + 512];
  return query(handle_.get(), nullptr, nullptr, nullptr, &io, entry, sizeof entry,
               FileBothDirectoryInformation, TRUE, &mask, TRUE) >= 0;
}

void HeldFolder::OpenIfThere(const std::wstring& rest,
                             std::vector<std::unique_ptr<UpdateFile>>& files) const {
  // Each level stays held, not shared for deleting, until the file is judged; the last is the
  // file. An entry opened twice lets its first open go only once the second is compared. A folder
  // is opened to list it, for which Windows checks sharing, so it can't be renamed; a file opened
  // as itself, to read, is checked for sharing as well.
  std::vector<Held> levels;  // level n at n - 1: the folder is level 0
  const auto handle = [&](std::size_t n) {
    return n == 0 ? handle_.get() : levels.at(n - 1).get();
  };
  const auto open = [&](std::size_t above, const std::wstring& name, LevelOpen how) {
    const ACCESS_MASK file_access = how.for_writing ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    const ACCESS_MASK access =
        how.is_file ? file_access : FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
    const ULONG options = (how.is_file ? FILE_NON_DIRECTORY_FILE : FILE_DIRECTORY_FILE) |
                          (how.as_itself ? FILE_OPEN_REPARSE_POINT : 0);
    LevelFacts facts;
    levels.push_back(OpenBelow(handle(above), name, access, options, facts.open_error));
    if (levels.back()) facts = FactsOf(levels.back().get());
    return Describe(facts, how.is_file);
  };
  const auto release = [&](std::size_t n) { levels.at(n - 1).reset(); };
  const auto final_paths = [&](std::size_t n) { return FinalPathsOf(handle(n)); };
  const Reached reached = OpenLevels(found_, rest, {open, release, final_paths}, SameText);
  if (reached == Reached::kMissing) return;
  files.push_back(reached == Reached::kFile
                      ? std::make_unique<WindowsFile>(std::move(levels.back()))
                      : nullptr);
}

}  // namespace fogswitch
