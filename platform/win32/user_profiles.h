#pragma once

#include <string>

#include "platform/win32/copy_rules.h"

namespace fogswitch {

// The users whose per-user copies count, with their profiles: the one this program runs as, and
// the one signed in to its session.
Users UsersWhoseCopiesCount(const std::wstring& windows_folder);

}  // namespace fogswitch
