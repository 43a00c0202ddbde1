#pragma once
// Pure rules of the safe open, without windows.h: built into the native unit tests too.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace fogswitch {

// Whether two names are the same as the system compares them: letter case aside.
using SameTextFunction = std::function<bool(std::wstring_view, std::wstring_view)>;

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

// Which file or folder it is: its volume's serial number and its id there.
struct FileId {
  std::uint64_t volume = 0;
  std::array<std::uint64_t, 2> id{};

  bool operator==(const FileId& other) const { return volume == other.volume && id == other.id; }
};

// What the system tells of one name opened below a level, each fact where it could be read.
struct LevelFacts {
  unsigned long open_error = 0;               // the system's error code where the open failed
  std::optional<std::uint32_t> attributes{};  // the file attributes, with the links and the index
  std::uint32_t links = 0;
  FileId index{};                   // the 64-bit index, which ReFS doesn't keep unique
  std::optional<FileId> full_id{};  // the 128-bit id, from Windows 8 on
  bool on_disk = false;             // a disk file, not a device, pipe or console
  std::optional<std::uint32_t> reparse_tag{};
};

// What a level is, as the rules judge it.
struct LevelDescription {
  enum class State { kOpened, kMissing, kFailed };
  State state = State::kFailed;
  FileId id{};
  std::uint32_t reparse_tag = 0;  // 0 where it is no reparse point
  std::uint32_t links = 1;
};

// Judges a name opened below a level: missing where the system found nothing there; failed where
// it didn't open, or what it is can't be told, or a file is no disk file; else opened, known by its
// 128-bit id where the system has it, else by its index. A reparse point whose tag can't be read,
// or is 0, fails.
LevelDescription Describe(const LevelFacts& facts, bool is_file);

// How a name is opened below a level: as a folder, to list it, or as the file; as itself (a
// reparse point not followed) or normally; for reading, or for writing too.
struct LevelOpen {
  bool is_file = false;
  bool as_itself = true;
  bool for_writing = false;
};

// What opening the levels asks of the system. Levels are numbered as they are opened, from 1;
// the held folder is level 0.
struct LevelOpener {
  // Opens `name` below level `above` as `how` says, and holds it, not shared for deleting, as
  // the next level.
  std::function<LevelDescription(std::size_t above, const std::wstring& name, LevelOpen how)> open;
  // Lets go of a level that is no longer needed.
  std::function<void(std::size_t level)> release;
  // The final paths of a level.
  std::function<FinalPaths(std::size_t level)> final_paths;
};

// A folder looked up once: whether it opened, and its final paths.
struct FolderFound {
  LevelDescription::State state = LevelDescription::State::kFailed;
  FinalPaths final_paths;
};

enum class Reached { kFile, kMissing, kRefused };

// Opens `rest` below a held folder one level at a time, never through a link, each relative to
// the one above, as itself. A symbolic link or junction is refused. Another reparse point (a
// deduplicated, compressed or cloud file) is opened again normally while the entry itself is
// still held, so that nothing can be put in its place between the two opens; it must be the same
// file, and then only the second is kept. The file is opened as itself for reading only, must
// have one link, and is opened again normally for writing, the same way; that second open, the
// last level, is the file to edit. Where both final paths can be told, the file's must be the
// folder's followed by `rest`. A missing folder or level leaves the file out; one that won't
// open refuses it.
Reached OpenLevels(const FolderFound& folder, std::wstring_view rest, const LevelOpener& opener,
                   const SameTextFunction& same);

}  // namespace fogswitch
