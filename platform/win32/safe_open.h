#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/game_folder.h"
#include "platform/win32/user_copies.h"

namespace fogswitch {

// Whether the system can tell a file's final path, the one it has with every link resolved:
// from Windows Vista on.
bool HasFinalPaths();

// The final path of a file or folder, in the form `volume_name` asks for (VOLUME_NAME_DOS,
// VOLUME_NAME_NT); empty when it can't be told.
std::wstring FinalPathOf(const std::wstring& path, DWORD volume_name);

// Opens a file as fopen's "r+b" would: existing files only, never truncated, shared with other
// readers and writers, whatever the length of its path. A missing file is left out; a read-only
// file, a folder, a device, or a file that a link below `path.folder` leads to, is a null entry.
void OpenIfThere(const PathBelow& path, std::vector<std::unique_ptr<UpdateFile>>& files);

}  // namespace fogswitch
