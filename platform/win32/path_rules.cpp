#include "platform/win32/path_rules.h"

namespace fogswitch {
namespace {

// Whether an open that failed with the system's error code `error` found nothing there.
bool IsMissing(unsigned long error) {
  constexpr unsigned long kFileNotFound = 2, kPathNotFound = 3;
  return error == kFileNotFound || error == kPathNotFound;
}

}  // namespace

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

LevelDescription Describe(const LevelFacts& facts, bool is_file) {
  using State = LevelDescription::State;
  constexpr std::uint32_t kReparsePoint = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT
  LevelDescription level;
  if (facts.open_error != 0) {
    if (IsMissing(facts.open_error)) level.state = State::kMissing;
    return level;
  }
  if (!facts.attributes || (is_file && !facts.on_disk)) return level;
  if ((*facts.attributes & kReparsePoint) != 0) {
    if (!facts.reparse_tag || *facts.reparse_tag == 0) return level;
    level.reparse_tag = *facts.reparse_tag;
  }
  level.id = facts.full_id.value_or(facts.index);
  level.links = facts.links;
  level.state = State::kOpened;
  return level;
}

Reached OpenLevels(const FolderFound& folder, std::wstring_view rest, const LevelOpener& opener,
                   const SameTextFunction& same) {
  using State = LevelDescription::State;
  // Windows' own test of a tag that names another file or folder: a link or a junction.
  constexpr std::uint32_t kNameSurrogate = 0x20000000;
  if (folder.state == State::kMissing) return Reached::kMissing;
  if (folder.state != State::kOpened) return Reached::kRefused;
  std::size_t above = 0, opened = 0;
  for (std::size_t start = 0;;) {
    const std::size_t end = rest.find(L'\\', start);
    const std::wstring name(rest.substr(start, end - start));
    const bool is_file = end == std::wstring_view::npos;
    if (name.empty()) return Reached::kRefused;
    const LevelDescription level = opener.open(above, name, {is_file, true, false});
    const std::size_t itself = ++opened;
    if (level.state == State::kMissing) return Reached::kMissing;
    if (level.state != State::kOpened || (level.reparse_tag & kNameSurrogate) != 0 ||
        (is_file && level.links != 1)) {
      return Reached::kRefused;
    }
    // The file is edited through a second open; another reparse point is followed by one.
    if (is_file || level.reparse_tag != 0) {
      const LevelDescription again = opener.open(above, name, {is_file, false, is_file});
      ++opened;
      if (again.state != State::kOpened || !(again.id == level.id)) return Reached::kRefused;
      opener.release(itself);
    }
    if (is_file) {
      const bool where_asked =
          FinalPathsAgree(folder.final_paths, opener.final_paths(opened), rest, same);
      return where_asked ? Reached::kFile : Reached::kRefused;
    }
    above = opened;
    start = end + 1;
  }
}

}  // namespace fogswitch
