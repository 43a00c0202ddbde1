#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fogswitch {

// A file or folder asked for as `rest` below `folder`. The folder may itself be reached through
// links (a moved profile, a game library on another drive); nothing below it may.
struct PathBelow {
  std::wstring folder;
  std::wstring rest;  // without a leading backslash; empty for the folder itself

  std::wstring Full() const;
};

// A user, by the string form of their SID, with their profile folder from the profile list.
struct Account {
  std::wstring sid;
  std::optional<std::wstring> profile;
};

// The folder of a profile-list entry's ProfileImagePath of registry type `type` (REG_SZ or
// REG_EXPAND_SZ), from its data as stored, with or without its terminating zero. Only
// %SystemDrive% and %SystemRoot% are expanded, from `windows`, the system's Windows folder: the
// environment belongs to whoever started the program.
std::optional<std::wstring> ProfileFolder(unsigned long type, std::wstring data,
                                          std::wstring_view windows);

// The local application data folders whose per-user copies count: this process's user's, and
// that of the user signed in to its session, whose desktop shows its console and who may have
// typed another's password at the elevation prompt. System accounts have none. Without a
// profile-list entry, the own one is `local_app_data` (LOCALAPPDATA), if that is set.
std::vector<PathBelow> LocalDataFolders(const Account& own, const std::optional<Account>& session,
                                        const std::wstring& local_app_data);

// The paths of the game folder that its per-user copies may be kept under: `entered`, the one it
// was entered by, and the one `final_path` (its final path, "\\?\C:\..." or empty when it can't
// be told) gives on a drive, where Windows keeps them once links are resolved; once if the same.
std::vector<std::wstring> GameFolderPaths(const std::wstring& entered,
                                          std::wstring_view final_path);

// Each file or folder from the first below `path.folder` down to `path` itself, by its full path.
std::vector<std::wstring> PathsDown(const PathBelow& path);

// The per-user copy of `name` in the game folder `folder` (a full path with its long names) below
// a local application data folder: Windows keeps one only for folders on the system drive, the
// drive of `windows`.
std::optional<PathBelow> VirtualStoreCopy(std::wstring_view folder, std::wstring_view windows,
                                          const PathBelow& local_data, std::wstring_view name);

// A full path in the form that opens it whatever its length: "\\?\C:\..." or "\\?\UNC\...".
std::wstring ExtendedLengthPath(const std::wstring& full);

// Whether the final path of an opened file is that of `asked`: the final path of its folder
// followed by the rest, letter case aside.
bool IsFinalPathOf(std::wstring_view file_final, std::wstring_view folder_final,
                   std::wstring_view rest);

}  // namespace fogswitch
