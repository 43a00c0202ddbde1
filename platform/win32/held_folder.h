#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/game_folder.h"
#include "platform/win32/handles.h"
#include "platform/win32/path_rules.h"

namespace fogswitch {

// Whether the system can tell a file's final path, the one it has with every link resolved:
// from Windows Vista on, which also keeps per-user copies of files under Program Files.
bool HasFinalPaths();

// A folder looked up once: held open, shared with readers and writers but not with deleting, so
// that it can't be renamed or replaced while held, with its final paths as that handle gives
// them. Files below it are opened relative to the handle, never by its path again.
class HeldFolder {
 public:
  // Looks up the folder at `path` (full, or "." for the current folder).
  explicit HeldFolder(const std::wstring& path);

  const FinalPaths& final_paths() const { return found_.final_paths; }

  // Whether an entry matches a wildcard pattern, by the file system's own rules: "*" is any run
  // of characters, letter case aside, long and short names. A folder's handle keeps the first
  // pattern it was searched with, so each held folder is searched once.
  bool AnyEntryMatches(const std::wstring& pattern) const;

  // Opens a file as fopen's "r+b" would, as `rest` below the folder, one level at a time, each
  // relative to the one above and never through a link: existing files only, never truncated,
  // shared with other readers and writers, whatever the length of its path. A missing file or
  // level, or a missing folder, is left out; a read-only file, a folder, a device, a file below a
  // folder that couldn't be looked up, a link on the way, or a file with another hard link is a
  // null entry.
  void OpenIfThere(const std::wstring& rest, std::vector<std::unique_ptr<UpdateFile>>& files) const;

 private:
  Held handle_;  // null where it couldn't be opened
  FolderFound found_;
};

}  // namespace fogswitch
