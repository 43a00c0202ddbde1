#pragma once
// Pure rules of whose per-user copies count and where they lie, without windows.h: built into the
// native unit tests too.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/path_rules.h"

namespace fogswitch {

// A user, by the string form of their SID, with their profile folder from the profile list. An
// empty SID stands for a user who is there but can't be told for sure.
struct Account {
  std::wstring sid;
  std::optional<std::wstring> profile;
};

// The folder of a profile-list entry's ProfileImagePath of registry type `type` (REG_SZ or
// REG_EXPAND_SZ), from its data as stored, with or without its terminating zero. Only a leading
// %SystemDrive% is expanded, from `windows`, the system's Windows folder: the environment belongs
// to whoever started the program.
std::optional<std::wstring> ProfileFolder(unsigned long type, std::wstring data,
                                          std::wstring_view windows);

// The account this program runs as: its SID, its name as its logon session holds it
// ("domain\user"), and the Windows session it runs in, where that can be read.
struct OwnAccount {
  std::wstring sid, name;
  std::optional<unsigned long> session{};
};

// A logon session as the system holds it: the Windows session it is in, how its user logged on
// (the system's logon type), the name they logged on with and the string form of their SID.
struct LogonSession {
  unsigned long session = 0, logon_type = 0;
  std::wstring domain, user, sid;
};

// The SID of the user signed in to the session, from the name and domain the session gives: none
// where it has no user (session 0). By identity where it can be: the SID that every interactive
// logon of the own session named `domain\user` (letter case aside) holds. Only where none is named
// so, by name: the own user's `own.sid` where `domain\user` is `own.name`, with nothing looked up;
// else what `lookup(domain\user)` gives for a user account. Empty where it can't be told for sure:
// the logons so named disagree (an account renamed, and its name given to another), the name has
// no domain, or the look-up finds no user account. `lookup` gives the SID and whether it is a user
// account's.
std::optional<std::wstring> SessionUserSid(
    const std::wstring& domain, const std::wstring& user, const OwnAccount& own,
    const std::vector<LogonSession>& logons,
    const std::function<std::optional<std::pair<std::wstring, bool>>(const std::wstring&)>& lookup,
    const SameTextFunction& same);

// The users whose per-user copies count: this process's own, and the one signed in to its
// session, whose desktop shows its console and who may have typed another's password at the
// elevation prompt (none where the session has no user).
struct Users {
  Account own;
  std::optional<Account> session{};
  std::wstring local_app_data{};  // LOCALAPPDATA, for an own user without a profile-list entry
};

// The paths of the game folder that its per-user copies may be kept under: `entered`, the one it
// was entered by, and the one `final_path` (its final path, "\\?\C:\..." or empty when it can't
// be told) gives on a drive, where Windows keeps them once links are resolved; once if the same.
std::vector<std::wstring> FolderPathsForCopies(const std::wstring& entered,
                                               std::wstring_view final_path,
                                               const SameTextFunction& same);

// The per-user copies of `name` in the game folder, each below a profile (or LOCALAPPDATA) as
// its VirtualStore keeps it, for each of the folder's paths (`game_folders`, full with long
// names) that lies on the system drive, the drive of `windows`. System accounts have none. A
// user who can't be told for sure, or has no profile, gives one entry of none where a copy may
// lie: theirs can't be looked for.
std::vector<std::optional<PathBelow>> PerUserCopies(const Users& users,
                                                    const std::vector<std::wstring>& game_folders,
                                                    std::wstring_view windows,
                                                    std::wstring_view name);

}  // namespace fogswitch
