#include "platform/win32/copy_rules.h"

#include <algorithm>

#include "platform/ascii.h"

namespace fogswitch {
namespace {

constexpr unsigned long kRegSz = 1;
constexpr unsigned long kRegExpandSz = 2;
constexpr std::wstring_view kSystemDrive = L"%SystemDrive%";
constexpr std::wstring_view kProfileLocalData = L"AppData\\Local";

// A folder, and a path below it.
struct PathBelow {
  std::wstring folder, rest;
};

// LocalSystem, LocalService and NetworkService: their profiles lie in the Windows folder.
bool IsSystemAccount(std::wstring_view sid) {
  return sid == L"S-1-5-18" || sid == L"S-1-5-19" || sid == L"S-1-5-20";
}

// The local application data folders whose copies count, each as a profile and the path below
// it; none for a user who can't be told for sure or has no profile.
std::vector<std::optional<PathBelow>> LocalDataFolders(const Users& users) {
  const Account& own = users.own;
  const auto& session_user = users.session_user;
  std::vector<std::optional<PathBelow>> folders;
  if (!IsSystemAccount(own.sid)) {
    if (own.profile) {
      folders.push_back(PathBelow{*own.profile, std::wstring(kProfileLocalData)});
    } else if (!users.local_app_data.empty()) {
      folders.push_back(PathBelow{users.local_app_data, L""});
    }
  }
  if (!session_user || IsSystemAccount(session_user->sid)) return folders;
  if (session_user->sid.empty()) {
    folders.push_back(std::nullopt);
  } else if (!SameAscii(session_user->sid, own.sid)) {
    if (session_user->profile) {
      folders.push_back(PathBelow{*session_user->profile, std::wstring(kProfileLocalData)});
    } else {
      folders.push_back(std::nullopt);
    }
  }
  return folders;
}

// Logged on at the keyboard or remotely, with or without cached credentials: Interactive,
// RemoteInteractive, CachedInteractive and CachedRemoteInteractive.
bool IsInteractive(unsigned long logon_type) {
  constexpr unsigned long kInteractive = 2, kRemoteInteractive = 10, kCachedRemoteInteractive = 12;
  return logon_type == kInteractive ||
         (logon_type >= kRemoteInteractive && logon_type <= kCachedRemoteInteractive);
}

// The SID that every interactive logon of Windows session `session_id` named `account` holds,
// such as the two of one user that UAC makes: none where no logon is named so, empty where they
// disagree. Another account's logon in the session, as an elevation with its password makes, is
// named otherwise.
std::optional<std::wstring> LogonSid(const std::vector<LogonSession>& logons,
                                     std::optional<unsigned long> session_id,
                                     const std::wstring& account, const SameTextFunction& same) {
  std::optional<std::wstring> sid;
  for (const LogonSession& logon : logons) {
    if (logon.session_id != session_id || !IsInteractive(logon.logon_type) ||
        !same(AccountName(logon.domain, logon.user), account)) {
      continue;
    }
    if (sid && *sid != logon.sid) return L"";
    sid = logon.sid;
  }
  return sid;
}

// Where below a local application data folder the copy of `name` in the game folder `folder`
// lies: Windows keeps one only for folders on the system drive.
std::optional<std::wstring> BelowLocalData(std::wstring_view folder,
                                           std::wstring_view windows_folder,
                                           std::wstring_view local_data_rest,
                                           std::wstring_view name) {
  if (folder.size() < 3 || folder.substr(1, 2) != L":\\" || windows_folder.empty() ||
      !SameAscii(folder.substr(0, 1), windows_folder.substr(0, 1))) {
    return std::nullopt;
  }
  std::wstring_view below_drive = folder.substr(3);
  if (!below_drive.empty() && below_drive.back() == L'\\') below_drive.remove_suffix(1);
  return Join(Join(Join(std::wstring(local_data_rest), L"VirtualStore"), below_drive), name);
}

}  // namespace

std::optional<std::wstring> ProfileFolder(unsigned long type, std::wstring data,
                                          std::wstring_view windows_folder) {
  if (type != kRegSz && type != kRegExpandSz) return std::nullopt;
  data.erase(std::find(data.begin(), data.end(), L'\0'), data.end());
  if (type == kRegExpandSz) {
    if (SameAscii(data.substr(0, kSystemDrive.size()), kSystemDrive) &&
        windows_folder.size() >= 2) {
      data.replace(0, kSystemDrive.size(), windows_folder.substr(0, 2));
    }
    if (data.find(L'%') != std::wstring::npos) return std::nullopt;
  }
  if (data.empty()) return std::nullopt;
  return data;
}

std::wstring AccountName(std::wstring_view domain, std::wstring_view user) {
  return std::wstring(domain).append(L"\\").append(user);
}

std::wstring OwnName(const std::optional<LogonSession>& own_logon,
                     const std::function<std::optional<std::wstring>()>& name_of_sid) {
  if (own_logon && !own_logon->domain.empty() && !own_logon->user.empty()) {
    return AccountName(own_logon->domain, own_logon->user);
  }
  return name_of_sid().value_or(L"");
}

std::optional<std::wstring> SessionUserSid(
    const std::optional<std::wstring>& domain, const std::optional<std::wstring>& user,
    const Account& own, const std::vector<LogonSession>& logons,
    const std::function<std::optional<std::pair<std::wstring, bool>>(const std::wstring&)>& lookup,
    const SameTextFunction& same) {
  if (!domain || !user) return L"";
  if (user->empty()) return std::nullopt;
  // A name without its domain may name a local user in place of the domain's.
  if (domain->empty()) return L"";
  const std::wstring account = AccountName(*domain, *user);
  // Logons that disagree leave the user in doubt, and so would the name, which the newest holds.
  if (const auto by_logon = LogonSid(logons, own.session_id, account, same)) return by_logon;
  if (!own.name.empty() && same(account, own.name)) return own.sid;
  const auto found = lookup(account);
  if (!found || !found->second) return L"";
  return found->first;
}

std::vector<std::wstring> FolderPathsForCopies(const std::wstring& current,
                                               const std::wstring& long_path,
                                               std::wstring_view final_path,
                                               const SameTextFunction& same) {
  const std::wstring& entered = long_path.empty() ? current : long_path;
  std::vector<std::wstring> paths{entered};
  constexpr std::wstring_view kPrefix = L"\\\\?\\";
  if (final_path.substr(0, kPrefix.size()) != kPrefix) return paths;
  const std::wstring_view real = final_path.substr(kPrefix.size());
  if (real.size() >= 3 && real.substr(1, 2) == L":\\" && !same(real, entered)) {
    paths.emplace_back(real);
  }
  return paths;
}

std::vector<UserCopies> PerUserCopies(bool keeps_copies, const std::function<Users()>& users,
                                      const std::vector<std::wstring>& game_folders,
                                      std::wstring_view windows_folder, std::wstring_view name) {
  std::vector<UserCopies> copies;
  if (!keeps_copies) return copies;
  for (const auto& local_data : LocalDataFolders(users())) {
    UserCopies user;
    if (local_data) user.folder = local_data->folder;
    for (const std::wstring& folder : game_folders) {
      const auto rest =
          BelowLocalData(folder, windows_folder, local_data ? local_data->rest : L"", name);
      if (rest) user.rests.push_back(*rest);
    }
    if (!user.rests.empty()) copies.push_back(std::move(user));
  }
  return copies;
}

}  // namespace fogswitch
