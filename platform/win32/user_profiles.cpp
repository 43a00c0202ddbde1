#include "platform/win32/user_profiles.h"

#include <windows.h>
// After windows.h, which they need.
#include <lmcons.h>
#include <ntsecapi.h>
#include <sddl.h>
#include <wtsapi32.h>

#include "platform/win32/copy_rules.h"
#include "platform/win32/system.h"

namespace fogswitch {
namespace {

// The string form of a SID; empty when it can't be made.
std::wstring SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return {};
  const std::unique_ptr<wchar_t, LocalFreer> held(text);
  return text;
}

// The account this program runs as: its SID, and its name as "domain\user".
struct OwnAccount {
  std::wstring sid, name;
};

// The own account's name as its logon session holds it, which asks no domain controller: empty
// where it can't be read.
std::wstring LogonSessionName(HANDLE token) {
  TOKEN_STATISTICS statistics{};
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenStatistics, &statistics, sizeof statistics, &size)) {
    return {};
  }
  const HeldLibrary secur32 = LoadSystemLibrary(L"secur32.dll");
  using GetData = NTSTATUS(NTAPI*)(PLUID, PSECURITY_LOGON_SESSION_DATA*);
  using Free = NTSTATUS(NTAPI*)(PVOID);
  const auto get_data = SystemFunction<GetData>(secur32.get(), "LsaGetLogonSessionData");
  const auto free_data = SystemFunction<Free>(secur32.get(), "LsaFreeReturnBuffer");
  PSECURITY_LOGON_SESSION_DATA data = nullptr;
  if (get_data == nullptr || free_data == nullptr ||
      get_data(&statistics.AuthenticationId, &data) < 0 || data == nullptr) {
    return {};
  }
  const auto text = [](const LSA_UNICODE_STRING& s) {
    return std::wstring(s.Buffer, s.Buffer != nullptr ? s.Length / sizeof(wchar_t) : 0);
  };
  std::wstring name;
  if (data->LogonDomain.Length > 0 && data->UserName.Length > 0) {
    name = text(data->LogonDomain) + L"\\" + text(data->UserName);
  }
  free_data(data);
  return name;
}

// The account this program runs as; an empty SID or name where it can't be read.
OwnAccount OwnUser() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  const Held held(token);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> user(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) return {};
  const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  std::wstring name = LogonSessionName(token);
  // Where the logon session holds no name (Wine), the name of the SID, which for the account of a
  // logged-on user the system may know without asking further.
  wchar_t account[UNLEN + 1], domain[UNLEN + 1];
  DWORD account_size = UNLEN + 1, domain_size = UNLEN + 1;
  SID_NAME_USE use{};
  if (name.empty() &&
      LookupAccountSidW(nullptr, sid, account, &account_size, domain, &domain_size, &use)) {
    name = std::wstring(domain) + L"\\" + account;
  }
  return {SidText(sid), name};
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
// where the session has none (session 0, services); empty where it can't be told for sure. Asking
// needs no privilege, unlike reading another user's process token.
std::optional<std::wstring> SessionUser(const OwnAccount& own) {
  const HeldLibrary wts = LoadSystemLibrary(L"wtsapi32.dll");
  if (!wts) return L"";
  const auto domain = SessionText(wts.get(), WTSDomainName);
  const auto user = SessionText(wts.get(), WTSUserName);
  if (!domain || !user) return L"";
  return SessionUserSid(*domain, *user, own.name, own.sid, LookUpAccount, SameText);
}

// A user's profile folder, from the profile list that the system keeps (and that a 32-bit
// program sees as it is): none where the list has no usable entry.
std::optional<std::wstring> ProfileOf(const std::wstring& sid, const std::wstring& windows) {
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
  const auto folder = ProfileFolder(type, data, windows);
  const std::wstring full = folder ? FullPath(*folder) : L"";
  if (full.empty()) return std::nullopt;
  return full;
}

}  // namespace

Users UsersWhoseCopiesCount(const std::wstring& windows) {
  const OwnAccount own = OwnUser();
  const auto session = SessionUser(own);
  Users users{{own.sid, ProfileOf(own.sid, windows)},
              std::nullopt,
              FullPath(Fetch([](wchar_t* text, DWORD size) {
                return GetEnvironmentVariableW(L"LOCALAPPDATA", text, size);
              }))};
  if (session) users.session = Account{*session, ProfileOf(*session, windows)};
  return users;
}

}  // namespace fogswitch
