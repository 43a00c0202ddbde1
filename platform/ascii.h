#pragma once
// ASCII letter case, the one fold of the names the program compares that are made of ASCII
// letters: driver file names, the game's marker, SIDs, variables and drive letters. No locale's
// rules apply. Names of files on Windows are compared as its file system compares them instead.

#include <algorithm>
#include <string_view>

namespace fogswitch {

// A character with the ASCII letters A to Z folded to lower case.
template <typename Char>
constexpr Char AsciiLower(Char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}

// Whether two texts are the same, ASCII letter case aside.
template <typename Char>
bool SameAsciiText(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](Char x, Char y) { return AsciiLower(x) == AsciiLower(y); });
}
inline bool SameAscii(std::string_view a, std::string_view b) { return SameAsciiText(a, b); }
inline bool SameAscii(std::wstring_view a, std::wstring_view b) { return SameAsciiText(a, b); }

}  // namespace fogswitch
