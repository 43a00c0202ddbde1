#include "platform/win32/user_profiles.h"

#include <windows.h>
// After windows.h, which they need.
#include <sddl.h>
#include <wtsapi32.h>

#include "platform/win32/system_text.h"

namespace fogswitch {
namespace {

// The string form of a SID; empty when it can't be made.
std::wstring SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return {};
  std::wstring sid_text = text;
  LocalFree(text);
  return sid_text;
}

// The SID of the user this program runs as; empty when it can't be read.
std::wstring OwnUser() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> user(size);
  std::wstring sid;
  if (size != 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size)) {
    sid = SidText(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid);
  }
  CloseHandle(token);
  return sid;
}

// One text of this program's session; empty when it can't be read.
std::wstring SessionText(HMODULE wts, WTS_INFO_CLASS what) {
  using Query = BOOL(WINAPI*)(HANDLE, DWORD, WTS_INFO_CLASS, LPWSTR*, DWORD*);
  using Free = void(WINAPI*)(PVOID);
  const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void (*)()>(GetProcAddress(wts, "WTSQuerySessionInformationW")));
  const auto free_memory =
      reinterpret_cast<Free>(reinterpret_cast<void (*)()>(GetProcAddress(wts, "WTSFreeMemory")));
  wchar_t* text = nullptr;
  DWORD size = 0;
  if (query == nullptr || free_memory == nullptr ||
      !query(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, what, &text, &size)) {
    return {};
  }
  std::wstring result = text != nullptr ? text : L"";
  free_memory(text);
  return result;
}

// The SID of the user signed in to this program's session, whose desktop shows its console;
// empty where the session has none (session 0, services) or it can't be read. Asking needs no
// privilege, unlike reading another user's process token.
std::wstring SessionUser() {
  // wtsapi32 is not among the DLLs Windows always loads from its own folder: a bare name would
  // find one planted beside this program first. Its own imports are looked for in its folder.
  const std::wstring system =
      Fetch([](wchar_t* text, DWORD size) { return GetSystemDirectoryW(text, size); });
  const HMODULE wts = system.empty() ? nullptr
                                     : LoadLibraryExW((system + L"\\wtsapi32.dll").c_str(), nullptr,
                                                      LOAD_WITH_ALTERED_SEARCH_PATH);
  if (wts == nullptr) return {};
  const std::wstring domain = SessionText(wts, WTSDomainName);
  const std::wstring user = SessionText(wts, WTSUserName);
  FreeLibrary(wts);
  if (user.empty()) return {};
  const std::wstring account = domain.empty() ? user : domain + L"\\" + user;
  DWORD sid_size = 0, domain_size = 0;
  SID_NAME_USE use{};
  LookupAccountNameW(nullptr, account.c_str(), nullptr, &sid_size, nullptr, &domain_size, &use);
  std::vector<unsigned char> sid(sid_size);
  std::wstring found_domain(domain_size, L'\0');
  if (sid_size == 0 || !LookupAccountNameW(nullptr, account.c_str(), sid.data(), &sid_size,
                                           found_domain.data(), &domain_size, &use)) {
    return {};
  }
  return SidText(sid.data());
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
  DWORD type = 0, size = 0;
  std::wstring data;
  LONG status = RegQueryValueExW(key, L"ProfileImagePath", nullptr, &type, nullptr, &size);
  if (status == ERROR_SUCCESS) {
    data.resize(size / sizeof(wchar_t) + 1);
    status = RegQueryValueExW(key, L"ProfileImagePath", nullptr, &type,
                              reinterpret_cast<BYTE*>(data.data()), &size);
    data.resize(size / sizeof(wchar_t));  // stored data may end without its zero
  }
  RegCloseKey(key);
  const auto folder = status == ERROR_SUCCESS ? ProfileFolder(type, data, windows) : std::nullopt;
  const std::wstring full = folder ? FullPath(*folder) : L"";
  if (full.empty()) return std::nullopt;
  return full;
}

}  // namespace

std::vector<PathBelow> UsersLocalData(const std::wstring& windows) {
  const std::wstring own = OwnUser(), session = SessionUser();
  const std::wstring local = FullPath(Fetch([](wchar_t* text, DWORD size) {
    return GetEnvironmentVariableW(L"LOCALAPPDATA", text, size);
  }));
  std::optional<Account> session_account;
  if (!session.empty()) session_account = Account{session, ProfileOf(session, windows)};
  return LocalDataFolders({own, ProfileOf(own, windows)}, session_account, local);
}

}  // namespace fogswitch
