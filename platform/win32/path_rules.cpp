#include "platform/win32/path_rules.h"

namespace fogswitch {

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

bool FinalPathsAgree(const FinalPaths& folder, const FinalPaths& file, std::wstring_view rest,
                     const SameTextFunction& same) {
  // The device's name compares volumes without a drive letter too; the drive letter serves where
  // the device's name can't be told (under Wine, a file system not the prefix's).
  for (const auto form : {&FinalPaths::device, &FinalPaths::drive}) {
    if (!(folder.*form).empty() && !(file.*form).empty()) {
      return same(file.*form, Join(folder.*form, rest));
    }
  }
  return true;
}

Reached OpenLevels(std::wstring_view rest, const LevelOpener& opener) {
  // Windows' own test of a tag that names another file or folder: a link or a junction.
  constexpr std::uint32_t kNameSurrogate = 0x20000000;
  std::size_t above = 0, opened = 0;
  for (std::size_t start = 0;;) {
    const std::size_t end = rest.find(L'\\', start);
    const std::wstring name(rest.substr(start, end - start));
    const bool is_file = end == std::wstring_view::npos;
    if (name.empty()) return Reached::kRefused;
    const Level level = opener.open(above, name, is_file, true);
    const std::size_t itself = ++opened;
    if (level.state == Level::State::kMissing) return Reached::kMissing;
    if (level.state != Level::State::kOpened) return Reached::kRefused;
    if (level.reparse_tag != 0) {
      if ((level.reparse_tag & kNameSurrogate) != 0) return Reached::kRefused;
      const Level followed = opener.open(above, name, is_file, false);
      ++opened;
      if (followed.state != Level::State::kOpened || followed.volume != level.volume ||
          followed.id != level.id) {
        return Reached::kRefused;
      }
      opener.release(itself);
    }
    if (is_file) return level.links == 1 ? Reached::kFile : Reached::kRefused;
    above = opened;
    start = end + 1;
  }
}

}  // namespace fogswitch
