#include "platform/win32/user_profiles.h"

#include <windows.h>
// After windows.h, which they need.
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

// The SID of the user this program runs as; empty when it can't be read.
std::wstring OwnUser() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  const Held held(token);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> user(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) return {};
  return SidText(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid);
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
std::optional<std::wstring> SessionUser() {
  const HeldLibrary wts = LoadSystemLibrary(L"wtsapi32.dll");
  if (!wts) return L"";
  const auto domain = SessionText(wts.get(), WTSDomainName);
  const auto user = SessionText(wts.get(), WTSUserName);
  if (!domain || !user) return L"";
  return SessionUserSid(*domain, *user, LookUpAccount);
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

std::vector<std::optional<PathBelow>> UsersLocalData(const std::wstring& windows) {
  const std::wstring own = OwnUser();
  const auto session = SessionUser();
  const std::wstring local = FullPath(Fetch([](wchar_t* text, DWORD size) {
    return GetEnvironmentVariableW(L"LOCALAPPDATA", text, size);
  }));
  std::optional<Account> session_account;
  if (session) session_account = Account{*session, ProfileOf(*session, windows)};
  return LocalDataFolders({own, ProfileOf(own, windows)}, session_account, local);
}

}  // namespace fogswitch
