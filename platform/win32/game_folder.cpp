#include "platform/game_folder.h"

#include <cstring>
#include <string>

#include "platform/win32/copy_rules.h"
#include "platform/win32/held_folder.h"
#include "platform/win32/system.h"
#include "platform/win32/user_profiles.h"

namespace fogswitch {
namespace {

std::wstring Wide(const char* text) { return std::wstring(text, text + std::strlen(text)); }

class WorkingDirectory final : public GameFolder {
 public:
  bool HasEntryMatching(const char* pattern) override {
    return fogswitch::HasEntryMatching(folder_, Wide(pattern));
  }

  std::vector<std::unique_ptr<UpdateFile>> OpenForUpdate(const char* name) override {
    const std::wstring wide_name = Wide(name);
    std::vector<std::unique_ptr<UpdateFile>> files;
    OpenIfThere(folder_, wide_name, files);
    // Windows keeps per-user copies from Vista on, which is also where final paths can be told.
    if (!HasFinalPaths()) return files;
    const std::wstring windows =
        Fetch([](wchar_t* text, DWORD size) { return GetSystemWindowsDirectoryW(text, size); });
    const auto game_folders = GameFolderPaths();
    for (const auto& local_data : UsersLocalData(windows)) {
      std::optional<PinnedFolder> profile;  // looked up once, when a copy may lie below it
      for (const std::wstring& game_folder : game_folders) {
        const auto rest =
            VirtualStoreCopy(game_folder, windows, local_data ? local_data->rest : L"", wide_name);
        if (!rest) continue;
        if (!local_data) {
          files.push_back(nullptr);  // a copy that can't be looked for
          break;
        }
        if (!profile) profile = PinFolder(local_data->folder);
        OpenIfThere(*profile, *rest, files);
      }
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
    return fogswitch::GameFolderPaths(entered, folder_.final_paths.drive, SameText);
  }

  // Looked up once, here, when the step begins.
  const PinnedFolder folder_ = PinFolder(L".");
};

}  // namespace

std::unique_ptr<GameFolder> OpenCurrentFolder() { return std::make_unique<WorkingDirectory>(); }

}  // namespace fogswitch
