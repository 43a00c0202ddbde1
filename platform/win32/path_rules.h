#pragma once
// Pure rules of the safe open, without windows.h: built into the native unit tests too.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
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

// Whether a file opened as `rest` below a folder looked up once is where the folder's final path
// says, where the final paths of both can be told, in one form at least: the file's must be the
// folder's followed by `rest`. Where either can't be told, the opening of the levels decides alone.
bool FinalPathsAgree(const FinalPaths& folder, const FinalPaths& file, std::wstring_view rest,
                     const SameTextFunction& same);

// What opening one name below a level tells of it.
struct Level {
  enum class State { kOpened, kMissing, kFailed };
  State state = State::kFailed;
  // Which file or folder it is: its volume's serial number and its id there, of 128 bits where
  // the system tells them (on ReFS a 64-bit index is not unique), else the 64-bit index.
  std::uint64_t volume = 0;
  std::array<std::uint64_t, 2> id{};
  std::uint32_t reparse_tag = 0;  // 0 where it is no reparse point
  std::uint32_t links = 1;
};

// What opening the levels asks of the system. Levels are numbered as they are opened, from 1;
// the held folder is level 0.
struct LevelOpener {
  // Opens `name` below level `above`, as itself where `as_itself` (a reparse point not followed),
  // else normally, and holds it, not shared for deleting, as the next level.
  std::function<Level(std::size_t above, const std::wstring& name, bool is_file, bool as_itself)>
      open;
  // Lets go of a level that is no longer needed.
  std::function<void(std::size_t level)> release;
};

enum class Reached { kFile, kMissing, kRefused };

// Opens `rest` below a held folder one level at a time, never through a link, each relative to
// the one above, as itself. A symbolic link or junction is refused. Another reparse point (a
// deduplicated, compressed or cloud file) is opened again normally while the entry itself is
// still held, so that nothing can be put in its place between the two opens; it must be the same
// file, and then only the second is kept. The file, the last level opened, must have one link.
// A missing level leaves the file out; one that won't open refuses it.
Reached OpenLevels(std::wstring_view rest, const LevelOpener& opener);

}  // namespace fogswitch
