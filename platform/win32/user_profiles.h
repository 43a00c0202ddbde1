#pragma once

#include <string>
#include <vector>

#include "platform/win32/user_copies.h"

namespace fogswitch {

// The local application data folders of the users whose per-user copies count: the one this
// program runs as, and the one signed in to its session. `windows` is the system's Windows folder.
std::vector<PathBelow> UsersLocalData(const std::wstring& windows);

}  // namespace fogswitch
