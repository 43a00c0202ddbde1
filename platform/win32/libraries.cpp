#include "platform/win32/libraries.h"

#include <string>

#include "platform/win32/fetch.h"

namespace fogswitch {
namespace {

// SetDefaultDllDirectories, and the LOAD_LIBRARY_SEARCH_* flags with it: from Windows 8, and on
// Vista and 7 with the update that adds them.
using SetDefaultDirectories = BOOL(WINAPI*)(DWORD);
SetDefaultDirectories SetDefaultDirectoriesFunction() {
  return SystemFunction<SetDefaultDirectories>(Kernel32(), "SetDefaultDllDirectories");
}

}  // namespace

void RestrictDllSearch() {
  if (const auto set_default = SetDefaultDirectoriesFunction()) {
    set_default(LOAD_LIBRARY_SEARCH_SYSTEM32);
    return;
  }
  // From XP SP1 on: an empty name takes the current folder out of the search, but not the
  // program's own folder, which only the call above can.
  using SetDirectory = BOOL(WINAPI*)(LPCWSTR);
  const auto set_directory = SystemFunction<SetDirectory>(Kernel32(), "SetDllDirectoryW");
  if (set_directory != nullptr) set_directory(L"");
}

HeldLibrary LoadSystemLibrary(const wchar_t* name) {
  if (SetDefaultDirectoriesFunction() != nullptr) {
    return HeldLibrary(LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  }
  // By its full path; the altered search has its own imports looked for beside it, not beside
  // this program.
  const std::wstring system =
      FetchString([](wchar_t* text, DWORD size) { return GetSystemDirectoryW(text, size); });
  if (system.empty()) return nullptr;
  return HeldLibrary(
      LoadLibraryExW((system + L"\\" + name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

}  // namespace fogswitch
