#include "platform/win32/user_profiles.h"

#include <windows.h>
// After windows.h, which they need.
#include <lmcons.h>
#include <ntsecapi.h>
#include <sddl.h>
#include <wtsapi32.h>

#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32/copy_rules.h"
#include "platform/win32/fetch.h"
#include "platform/win32/handles.h"
#include "platform/win32/libraries.h"
#include "platform/win32/text.h"

namespace fogswitch {
namespace {

// The string form of a SID; empty when it can't be made.
std::wstring SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return {};
  const std::unique_ptr<wchar_t, LocalFreer> held(text);
  return text;
}

// The logon sessions that the system holds, read through secur32 from the system folder, and
// looked up at run time; every buffer it hands out is freed with LsaFreeReturnBuffer.
class LogonSessions {
 public:
  // The one of the given id; none where it can't be read.
  std::optional<LogonSession> Read(LUID id) const {
    PSECURITY_LOGON_SESSION_DATA data = nullptr;
    if (get_data_ == nullptr || free_ == nullptr || get_data_(&id, &data) < 0 || data == nullptr) {
      return std::nullopt;
    }
    const Returned held(data, Freer{free_});
    const auto text = [](const LSA_UNICODE_STRING& s) {
      return std::wstring(s.Buffer, s.Buffer != nullptr ? s.Length / sizeof(wchar_t) : 0);
    };
    return LogonSession{data->Session, static_cast<unsigned long>(data->LogonType),
                        text(data->LogonDomain), text(data->UserName),
                        data->Sid != nullptr ? SidText(data->Sid) : L""};
  }

  // Every one that can be read: an administrator may read them all.
  std::vector<LogonSession> All() const {
    ULONG count = 0;
    PLUID ids = nullptr;
    if (enumerate_ == nullptr || free_ == nullptr || enumerate_(&count, &ids) < 0 ||
        ids == nullptr) {
      return {};
    }
    const Returned held(ids, Freer{free_});
    std::vector<LogonSession> logons;
    for (ULONG i = 0; i < count; ++i) {
      if (auto logon = Read(ids[i])) logons.push_back(std::move(*logon));
    }
    return logons;
  }

 private:
  using Enumerate = NTSTATUS(NTAPI*)(PULONG, PLUID*);
  using GetData = NTSTATUS(NTAPI*)(PLUID, PSECURITY_LOGON_SESSION_DATA*);
  using Free = NTSTATUS(NTAPI*)(PVOID);
  struct Freer {
    Free free;
    void operator()(void* buffer) const { free(buffer); }
  };
  using Returned = std::unique_ptr<void, Freer>;

  HeldLibrary secur32_ = LoadSystemLibrary(L"secur32.dll");
  Enumerate enumerate_ = SystemFunction<Enumerate>(secur32_.get(), "LsaEnumerateLogonSessions");
  GetData get_data_ = SystemFunction<GetData>(secur32_.get(), "LsaGetLogonSessionData");
  Free free_ = SystemFunction<Free>(secur32_.get(), "LsaFreeReturnBuffer");
};

// The name of a SID, "domain\user", as the system knows it; none where it can't be told.
std::optional<std::wstring> NameOfSid(PSID sid) {
  wchar_t account[UNLEN + 1], domain[UNLEN + 1];
  DWORD account_size = std::size(account), domain_size = std::size(domain);
  SID_NAME_USE use{};
  if (!LookupAccountSidW(nullptr, sid, account, &account_size, domain, &domain_size, &use)) {
    return std::nullopt;
  }
  return AccountName(domain, account);
}

// The account this program runs as; an empty SID or name where it can't be read.
Account OwnUser(const LogonSessions& logons) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  const Held held(token);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> user(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) return {};
  const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  Account own{SidText(sid)};
  DWORD session_id = 0;
  if (GetTokenInformation(token, TokenSessionId, &session_id, sizeof session_id, &size)) {
    own.session_id = session_id;
  }
  TOKEN_STATISTICS statistics{};
  std::optional<LogonSession> own_logon;
  if (GetTokenInformation(token, TokenStatistics, &statistics, sizeof statistics, &size)) {
    own_logon = logons.Read(statistics.AuthenticationId);
  }
  own.name = OwnName(own_logon, [sid] { return NameOfSid(sid); });
  return own;
}

// One text of this program's session; none when it can't be read.
std::optional<std::wstring> SessionText(HMODULE wts, WTS_INFO_CLASS what) {
  using Query = BOOL(WINAPI*)(HANDLE, DWORD, WTS_INFO_CLASS, LPWSTR*, DWORD*);
  using Free = void(WINAPI*)(PVOID);
  const auto query = SystemFunction<Query>(wts, "WTSQuerySessionInformationW");
  const auto free_memory = SystemFunction<Free>(wts, "WTSFreeMemory");
  wchar_t* text = nullptr;
  DWORD size = 0;
  if (query == nullptr || free_memory == nullptr ||
      !query(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, what, &text, &size)) {
    return std::nullopt;
  }
  std::wstring result = text != nullptr ? text : L"";
  free_memory(text);
  return result;
}

// The SID of an account's name, and whether it is a user account's; none when it can't be told.
std::optional<std::pair<std::wstring, bool>> LookUpAccount(const std::wstring& account) {
  DWORD sid_size = 0, domain_size = 0;
  SID_NAME_USE use{};
  LookupAccountNameW(nullptr, account.c_str(), nullptr, &sid_size, nullptr, &domain_size, &use);
  std::vector<unsigned char> sid(sid_size);
  std::wstring found_domain(domain_size, L'\0');
  if (sid_size == 0 || !LookupAccountNameW(nullptr, account.c_str(), sid.data(), &sid_size,
                                           found_domain.data(), &domain_size, &use)) {
    return std::nullopt;
  }
  const std::wstring text = SidText(sid.data());
  if (text.empty()) return std::nullopt;
  return std::pair{text, use == SidTypeUser};
}

// The SID of the user signed in to this program's session, whose desktop shows its console: none
// where the session has none (session 0, services); empty where it can't be told for sure. Its
// name needs no privilege to ask for, unlike another user's process token; its logon sessions are
// the administrator's to read.
std::optional<std::wstring> SessionUser(const Account& own, const LogonSessions& logons) {
  const HeldLibrary wts = LoadSystemLibrary(L"wtsapi32.dll");
  return SessionUserSid(SessionText(wts.get(), WTSDomainName), SessionText(wts.get(), WTSUserName),
                        own, logons.All(), LookUpAccount, SameText);
}

// A user's profile folder, from the profile list that the system keeps (and that a 32-bit
// program sees as it is): none where the list has no usable entry.
std::optional<std::wstring> ProfileOf(const std::wstring& sid, const std::wstring& windows_folder) {
  const std::wstring path = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + sid;
  HKEY key = nullptr;
  if (sid.empty() ||
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  const HeldKey held(key);
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, L"ProfileImagePath", nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
  if (RegQueryValueExW(key, L"ProfileImagePath", nullptr, &type,
                       reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  data.resize(size / sizeof(wchar_t));  // stored data may end without its zero
  const auto folder = ProfileFolder(type, data, windows_folder);
  const std::wstring full = folder ? FullPath(*folder) : L"";
  if (full.empty()) return std::nullopt;
  return full;
}

}  // namespace

Users UsersWhoseCopiesCount(const std::wstring& windows_folder) {
  const LogonSessions logons;
  Users users{OwnUser(logons)};
  users.own.profile = ProfileOf(users.own.sid, windows_folder);
  if (const auto sid = SessionUser(users.own, logons)) {
    users.session_user = Account{*sid, ProfileOf(*sid, windows_folder)};
  }
  users.local_app_data = FullPath(FetchString([](wchar_t* text, DWORD size) {
    return GetEnvironmentVariableW(L"LOCALAPPDATA", text, size);
  }));
  return users;
}

}  // namespace fogswitch
