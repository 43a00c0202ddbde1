#pragma once

#include <cstdint>
#include <functional>
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

// What opening a file or folder tells of it: which one it is, and whether it is a link.
struct Opened {
  std::uint64_t volume = 0, index = 0;
  bool is_link = false;
};

// Whether no link lies on the way from `path.folder` down to `file`, which opening `path` gave,
// for where no final path can be told: each file or folder below the folder, opened as itself
// rather than where a link in its place leads, must be no link, and the same one that opening its
// path gives. `open(full_path, as_itself)` opens one, keeping it open until the check ends, so
// none can be swapped meanwhile; none when it can't be opened.
bool NoLinkBelow(const PathBelow& path, const Opened& file,
                 const std::function<std::optional<Opened>(const std::wstring&, bool)>& open);

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
