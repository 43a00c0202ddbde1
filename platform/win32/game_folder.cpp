#include "platform/game_folder.h"

#include <cstring>
#include <string>

#include "platform/win32/held_folder.h"
#include "platform/win32/text.h"
#include "platform/win32/user_profiles.h"

namespace fogswitch {
namespace {

std::wstring Wide(const char* text) { return std::wstring(text, text + std::strlen(text)); }

class WorkingDirectory final : public GameFolder {
 public:
  bool HasEntryMatching(const char* pattern) override {
    return AnyEntryMatches(folder_, Wide(pattern));
  }

  std::vector<std::unique_ptr<UpdateFile>> OpenForUpdate(const char* name) override {
    std::vector<std::unique_ptr<UpdateFile>> files;
    OpenIfThere(folder_, Wide(name), files);
    if (!HasFinalPaths()) return files;  // no per-user copies before Vista
    const std::wstring windows =
        Fetch([](wchar_t* text, DWORD size) { return GetSystemWindowsDirectoryW(text, size); });
    const auto copies =
        PerUserCopies(UsersWhoseCopiesCount(windows), GameFolderPaths(), windows, Wide(name));
    std::wstring held_path;  // each profile looked up once, as it comes
    HeldFolder profile;
    for (const auto& copy : copies) {
      if (!copy) {
        files.push_back(nullptr);  // a copy that can't be looked for
        continue;
      }
      if (copy->folder != held_path) profile = HoldFolder(held_path = copy->folder);
      OpenIfThere(profile, copy->rest, files);
    }
    return files;
  }

 private:
  // The paths the copies are kept under: the folder's as entered, with its long names, and its
  // real one.
  std::vector<std::wstring> GameFolderPaths() const {
    const std::wstring current =
        Fetch([](wchar_t* text, DWORD size) { return GetCurrentDirectoryW(size, text); });
    std::wstring entered = Fetch(
        [&](wchar_t* text, DWORD size) { return GetLongPathNameW(current.c_str(), text, size); });
    if (entered.empty()) entered = current;
    return FolderPathsForCopies(entered, folder_.final_paths.drive, SameText);
  }

  // Looked up once, here, when the step begins.
  const HeldFolder folder_ = HoldFolder(L".");
};

}  // namespace

std::unique_ptr<GameFolder> OpenCurrentFolder() { return std::make_unique<WorkingDirectory>(); }

}  // namespace fogswitch
