#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/win32/path_rules.h"

namespace fogswitch {

// The local application data folders of the users whose per-user copies count: the one this
// program runs as, and the one signed in to its session; none for a session's user who can't be
// told for sure. `windows` is the system's Windows folder.
std::vector<std::optional<PathBelow>> UsersLocalData(const std::wstring& windows);

}  // namespace fogswitch
