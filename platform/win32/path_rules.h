#pragma once
// Pure rules of the safe open, without windows.h: built into the native unit tests too.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace fogswitch {

// Whether two names are the same as the system compares them: letter case aside.
using SameTextFunction = std::function<bool(std::wstring_view, std::wstring_view)>;

// A file or folder asked for as `rest` below `folder`. The folder may itself be reached through
// links (a moved profile, a game library on another drive); nothing below it may.
struct PathBelow {
  std::wstring folder;
  std::wstring rest;  // without a leading backslash; empty for the folder itself

  std::wstring Full() const;
};

// `path` and `more` joined by one backslash.
std::wstring Join(std::wstring path, std::wstring_view more);

// A full path in the form that opens it whatever its length: "\\?\C:\..." or "\\?\UNC\...".
std::wstring ExtendedLengthPath(const std::wstring& full);

// A file's or folder's final paths, with every link resolved: on the volume's device name and on
// its drive letter; each empty where it can't be told.
struct FinalPaths {
  std::wstring device, drive;
};

enum class FileCheck { kAccept, kRefuse, kWalk };

// How to judge a file opened as `rest` below a folder looked up once, from their final paths:
// where the system has final paths, the file's must be the folder's followed by `rest`, in a form
// both can be told in, else it is refused; where it has none, the levels are walked.
FileCheck CheckFinalPaths(bool has_final_paths, const FinalPaths& folder, const FinalPaths& file,
                          std::wstring_view rest, const SameTextFunction& same);

// What opening a file or folder tells of it: which one it is, and whether it is a link.
struct Opened {
  std::uint64_t volume = 0, index = 0;
  bool is_link = false;
};

// Whether no link lies on the way from a folder down to `file`, which opening `rest` below it
// gave, for where no final path can be told. `open_next(name)` opens the next level of `rest`
// below the one it opened before (the folder first) as itself, not where a link in its place
// leads, with access to its data, keeping it open so that it can't be swapped until the check
// ends; none when it can't. Each level must be no link, and the last one `file`.
bool NoLinkBelow(std::wstring_view rest, const Opened& file,
                 const std::function<std::optional<Opened>(const std::wstring&)>& open_next);

}  // namespace fogswitch
