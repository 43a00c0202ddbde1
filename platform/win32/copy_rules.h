#pragma once
// Pure rules of whose per-user copies count and where they lie, without windows.h: built into the
// native unit tests too.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/win32/path_rules.h"

namespace fogswitch {

// A user account, by the string form of its SID, with what is known of it: the name its logon
// session holds ("domain\user"), the Windows session it runs in, and its profile folder from the
// profile list. An empty SID stands for a user who is there but can't be told for sure.
struct Account {
  std::wstring sid;
  std::optional<std::wstring> profile{};
  std::wstring name{};
  std::optional<unsigned long> session_id{};
};

// The folder of a profile-list entry's ProfileImagePath of registry type `type` (REG_SZ or
// REG_EXPAND_SZ), from its data as stored, with or without its terminating zero. Only a leading
// %SystemDrive% is expanded, from the system's Windows folder: the environment belongs to whoever
// started the program.
std::optional<std::wstring> ProfileFolder(unsigned long type, std::wstring data,
                                          std::wstring_view windows_folder);

// An account's name as the system writes it: "domain\user".
std::wstring AccountName(std::wstring_view domain, std::wstring_view user);

// A logon session as the system holds it: the Windows session it is in, how its user logged on
// (the system's logon type), the name they logged on with and the string form of their SID.
struct LogonSession {
  unsigned long session_id = 0, logon_type = 0;
  std::wstring domain, user, sid;
};

// The name of the account this program runs as, "domain\user": the one its own logon session
// holds, which asks no domain controller; where that holds none (Wine), the one `name_of_sid`
// gives for its SID; empty where neither tells it.
std::wstring OwnName(const std::optional<LogonSession>& own_logon,
                     const std::function<std::optional<std::wstring>()>& name_of_sid);

// The SID of the user signed in to the session, from the name and domain the session gives: none
// where it has no user (session 0). By identity where it can be: the SID that every interactive
// logon of the own session named `domain\user` (letter case aside) holds. Only where none is named
// so, by name: the own user's `own.sid` where `domain\user` is `own.name`, with nothing looked up;
// else what `lookup(domain\user)` gives for a user account. Empty where it can't be told for sure:
// the session's name can't be read, the logons so named disagree (an account renamed, and its name
// given to another), the name has no domain, or the look-up finds no user account. `lookup` gives
// the SID and whether it is a user account's.
std::optional<std::wstring> SessionUserSid(
    const std::optional<std::wstring>& domain, const std::optional<std::wstring>& user,
    const Account& own, const std::vector<LogonSession>& logons,
    const std::function<std::optional<std::pair<std::wstring, bool>>(const std::wstring&)>& lookup,
    const SameTextFunction& same);

// The users whose per-user copies count: this process's own, and the one signed in to its
// session, whose desktop shows its console and who may have typed another's password at the
// elevation prompt (none where the session has no user).
struct Users {
  Account own;
  std::optional<Account> session_user{};
  std::wstring local_app_data{};  // LOCALAPPDATA, for an own user without a profile-list entry
};

// The paths of the game folder that its per-user copies may be kept under: the one it was entered
// by, `long_path` with its long names, else the `current` one; and the one `final_path` (its
// final path, "\\?\C:\..." or empty when it can't be told) gives on a drive, where Windows keeps
// them once links are resolved; once if the same.
std::vector<std::wstring> FolderPathsForCopies(const std::wstring& current,
                                               const std::wstring& long_path,
                                               std::wstring_view final_path,
                                               const SameTextFunction& same);

// Where one user's copies lie: below `folder`, their profile (or LOCALAPPDATA), as each of
// `rests`; no folder where the user can't be told for sure or has no profile, so theirs can't be
// looked for.
struct UserCopies {
  std::optional<std::wstring> folder;
  std::vector<std::wstring> rests;
};

// The per-user copies of `name` in the game folder, as its VirtualStore keeps them, for each of
// the folder's paths (`game_folders`, full with long names) that lies on the system drive, the
// drive of the Windows folder; users with none are left out. Only where the system `keeps_copies`
// (Windows Vista on) are the `users` asked for. System accounts have none.
std::vector<UserCopies> PerUserCopies(bool keeps_copies, const std::function<Users()>& users,
                                      const std::vector<std::wstring>& game_folders,
                                      std::wstring_view windows_folder, std::wstring_view name);

}  // namespace fogswitch
