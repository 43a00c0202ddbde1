#include "platform/win32/user_copies.h"

#include <algorithm>
#include <cwctype>

namespace fogswitch {
namespace {

constexpr unsigned long kRegSz = 1;
constexpr unsigned long kRegExpandSz = 2;
constexpr std::wstring_view kSystemDrive = L"%SystemDrive%";
constexpr std::wstring_view kProfileLocalData = L"AppData\\Local";

// As Windows compares names: letter case aside.
bool SameText(std::wstring_view a, std::wstring_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](wchar_t x, wchar_t y) { return std::towupper(x) == std::towupper(y); });
}

// LocalSystem, LocalService and NetworkService: their profiles lie in the Windows folder.
bool IsSystemAccount(std::wstring_view sid) {
  return sid == L"S-1-5-18" || sid == L"S-1-5-19" || sid == L"S-1-5-20";
}

std::wstring Join(std::wstring path, std::wstring_view more) {
  if (!path.empty() && !more.empty() && path.back() != L'\\') path += L'\\';
  return path.append(more);
}

}  // namespace

std::wstring PathBelow::Full() const { return Join(folder, rest); }

std::optional<std::wstring> ProfileFolder(unsigned long type, std::wstring data,
                                          std::wstring_view windows) {
  if (type != kRegSz && type != kRegExpandSz) return std::nullopt;
  data.erase(std::find(data.begin(), data.end(), L'\0'), data.end());
  if (type == kRegExpandSz) {
    if (SameText(data.substr(0, kSystemDrive.size()), kSystemDrive) && windows.size() >= 2) {
      data.replace(0, kSystemDrive.size(), windows.substr(0, 2));
    }
    if (data.find(L'%') != std::wstring::npos) return std::nullopt;
  }
  if (data.empty()) return std::nullopt;
  return data;
}

std::vector<PathBelow> LocalDataFolders(const Account& own, const std::optional<Account>& session,
                                        const std::wstring& local_app_data) {
  std::vector<PathBelow> folders;
  if (!IsSystemAccount(own.sid)) {
    if (own.profile) {
      folders.push_back({*own.profile, std::wstring(kProfileLocalData)});
    } else if (!local_app_data.empty()) {
      folders.push_back({local_app_data, L""});
    }
  }
  if (session && session->profile && !IsSystemAccount(session->sid) &&
      !SameText(session->sid, own.sid)) {
    folders.push_back({*session->profile, std::wstring(kProfileLocalData)});
  }
  return folders;
}

std::vector<std::wstring> GameFolderPaths(const std::wstring& entered,
                                          std::wstring_view final_path) {
  std::vector<std::wstring> paths{entered};
  constexpr std::wstring_view kPrefix = L"\\\\?\\";
  if (final_path.substr(0, kPrefix.size()) != kPrefix) return paths;
  const std::wstring_view real = final_path.substr(kPrefix.size());
  if (real.size() >= 3 && real.substr(1, 2) == L":\\" && !SameText(real, entered)) {
    paths.emplace_back(real);
  }
  return paths;
}

bool NoLinkBelow(const PathBelow& path, const Opened& file,
                 const std::function<std::optional<Opened>(const std::wstring&, bool)>& open) {
  for (std::size_t end = path.rest.find(L'\\');; end = path.rest.find(L'\\', end + 1)) {
    const std::wstring full = Join(path.folder, std::wstring_view(path.rest).substr(0, end));
    const auto itself = open(full, true);
    const auto followed = end == std::wstring::npos ? file : open(full, false);
    if (!itself || !followed || itself->is_link || itself->volume != followed->volume ||
        itself->index != followed->index) {
      return false;
    }
    if (end == std::wstring::npos) return true;
  }
}

std::optional<PathBelow> VirtualStoreCopy(std::wstring_view folder, std::wstring_view windows,
                                          const PathBelow& local_data, std::wstring_view name) {
  if (folder.size() < 3 || folder.substr(1, 2) != L":\\" || windows.empty() ||
      std::towupper(folder[0]) != std::towupper(windows[0])) {
    return std::nullopt;
  }
  std::wstring_view below_drive = folder.substr(3);
  if (!below_drive.empty() && below_drive.back() == L'\\') below_drive.remove_suffix(1);
  return PathBelow{local_data.folder,
                   Join(Join(Join(local_data.rest, L"VirtualStore"), below_drive), name)};
}

std::wstring ExtendedLengthPath(const std::wstring& full) {
  if (full.rfind(L"\\\\?\\", 0) == 0) return full;
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  if (full.size() >= 3 && full.compare(1, 2, L":\\") == 0) return L"\\\\?\\" + full;
  return full;
}

bool IsFinalPathOf(std::wstring_view file_final, std::wstring_view folder_final,
                   std::wstring_view rest) {
  return SameText(file_final, Join(std::wstring(folder_final), rest));
}

}  // namespace fogswitch
