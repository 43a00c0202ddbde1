#include "platform/game_folder.h"

#include <io.h>

#include <cstring>
#include <string>

#include "platform/win32/safe_open.h"
#include "platform/win32/system_text.h"
#include "platform/win32/user_copies.h"
#include "platform/win32/user_profiles.h"

namespace fogswitch {
namespace {

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
    if (!HasFinalPaths()) return files;
    const std::wstring windows =
        Fetch([](wchar_t* text, DWORD size) { return GetSystemWindowsDirectoryW(text, size); });
    constexpr DWORD kVolumeNameDos = 0;
    const auto folders = GameFolderPaths(folder, FinalPathOf(folder, kVolumeNameDos));
    for (const PathBelow& local_data : UsersLocalData(windows)) {
      for (const std::wstring& game_folder : folders) {
        const auto copy = VirtualStoreCopy(game_folder, windows, local_data, wide_name);
        if (copy) OpenIfThere(*copy, files);
      }
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
