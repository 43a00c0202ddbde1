#include "platform/posix/wildcard.h"

#include <cctype>

namespace fogswitch {
namespace {

// The program never sets a locale, so this folds ASCII letters only.
int Fold(char c) { return std::tolower(static_cast<unsigned char>(c)); }

}  // namespace

bool MatchesWildcard(std::string_view name, std::string_view pattern) {
  if (pattern.empty()) return name.empty();
  // One call per way of splitting the name at each "*"; the game's pattern has two.
  if (pattern.front() == '*') {
    return MatchesWildcard(name, pattern.substr(1)) ||
           (!name.empty() && MatchesWildcard(name.substr(1), pattern));
  }
  return !name.empty() && (pattern.front() == '?' || Fold(pattern.front()) == Fold(name.front())) &&
         MatchesWildcard(name.substr(1), pattern.substr(1));
}

}  // namespace fogswitch
