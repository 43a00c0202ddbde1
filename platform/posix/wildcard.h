#pragma once

#include <string_view>

namespace fogswitch {

// Matches a name against a pattern the way the game folder search does: "*" stands for any run
// of characters, "?" for one, and ASCII letter case is ignored.
bool MatchesWildcard(std::string_view name, std::string_view pattern);

}  // namespace fogswitch
