#include "platform/win32/path_rules.h"

namespace fogswitch {

std::wstring PathBelow::Full() const { return Join(folder, rest); }

std::wstring Join(std::wstring path, std::wstring_view more) {
  if (!path.empty() && !more.empty() && path.back() != L'\\') path += L'\\';
  return path.append(more);
}

std::wstring ExtendedLengthPath(const std::wstring& full) {
  if (full.rfind(L"\\\\?\\", 0) == 0) return full;
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  if (full.size() >= 3 && full.compare(1, 2, L":\\") == 0) return L"\\\\?\\" + full;
  return full;
}

FileCheck CheckFinalPaths(bool has_final_paths, const FinalPaths& folder, const FinalPaths& file,
                          std::wstring_view rest, const SameTextFunction& same) {
  if (!has_final_paths) return FileCheck::kWalk;
  // The device's name compares volumes without a drive letter too; the drive letter serves where
  // the device's name can't be told (under Wine, a file system not the prefix's).
  for (const auto form : {&FinalPaths::device, &FinalPaths::drive}) {
    if (!(folder.*form).empty() && !(file.*form).empty()) {
      return same(file.*form, Join(folder.*form, rest)) ? FileCheck::kAccept : FileCheck::kRefuse;
    }
  }
  return FileCheck::kRefuse;
}

bool NoLinkBelow(std::wstring_view rest, const Opened& file,
                 const std::function<std::optional<Opened>(const std::wstring&)>& open_next) {
  for (std::size_t start = 0;;) {
    const std::size_t end = rest.find(L'\\', start);
    const auto level = open_next(std::wstring(rest.substr(start, end - start)));
    if (!level || level->is_link) return false;
    if (end == std::wstring_view::npos) {
      return level->volume == file.volume && level->index == file.index;
    }
    start = end + 1;
  }
}

}  // namespace fogswitch
