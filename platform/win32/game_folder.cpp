#include "platform/game_folder.h"

#include <cstring>
#include <string>

#include "platform/win32/fetch.h"
#include "platform/win32/held_folder.h"
#include "platform/win32/text.h"
#include "platform/win32/user_profiles.h"

namespace fogswitch {
namespace {

std::wstring Wide(const char* text) { return std::wstring(text, text + std::strlen(text)); }

class WorkingDirectory final : public GameFolder {
 public:
  bool HasEntryMatching(const char* pattern) override {
    return folder_.AnyEntryMatches(Wide(pattern));
  }

  std::vector<std::unique_ptr<UpdateFile>> OpenForUpdate(const char* name) override {
    std::vector<std::unique_ptr<UpdateFile>> files;
    folder_.OpenIfThere(Wide(name), files);
    const std::wstring windows_folder = FetchString(
        [](wchar_t* text, DWORD size) { return GetSystemWindowsDirectoryW(text, size); });
    // Windows keeps per-user copies from Vista on, which tells final paths too.
    const auto copies = PerUserCopies(
        HasFinalPaths(), [&] { return UsersWhoseCopiesCount(windows_folder); }, GameFolderPaths(),
        windows_folder, Wide(name));
    for (const UserCopies& user : copies) {
      if (!user.folder) {
        files.push_back(nullptr);  // theirs can't be looked for
        continue;
      }
      const HeldFolder profile(*user.folder);
      for (const std::wstring& rest : user.rests) profile.OpenIfThere(rest, files);
    }
    return files;
  }

 private:
  // The paths the copies are kept under: the folder's as entered, with its long names, and its
  // real one.
  std::vector<std::wstring> GameFolderPaths() const {
    const std::wstring current =
        FetchString([](wchar_t* text, DWORD size) { return GetCurrentDirectoryW(size, text); });
    const std::wstring long_path = FetchString(
        [&](wchar_t* text, DWORD size) { return GetLongPathNameW(current.c_str(), text, size); });
    return FolderPathsForCopies(current, long_path, folder_.final_paths().drive, SameText);
  }

  // Looked up once, here, when the step begins.
  const HeldFolder folder_{L"."};
};

}  // namespace

std::unique_ptr<GameFolder> OpenCurrentFolder() { return std::make_unique<WorkingDirectory>(); }

}  // namespace fogswitch
