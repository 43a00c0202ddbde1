#pragma once

#include <string_view>

namespace fogswitch {

// Whether two names are the same as the file system compares them, every letter's case aside:
// from Windows Vista on, which has final paths and per-user copies; never before.
bool SameText(std::wstring_view a, std::wstring_view b);

}  // namespace fogswitch
