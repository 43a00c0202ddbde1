#include "platform/posix/wildcard.h"

#include <gtest/gtest.h>

namespace fogswitch {
namespace {

TEST(MatchesWildcard, FindsTheGameMarkerLikeTheWindowsSearch) {
  const struct {
    const char* name;
    bool matches;
  } cases[] = {
      {"th2.exe", true},      {"TH2.EXE", true},  {"th_x2y.exe", true}, {"Thief2.exe", true},
      {"th2x2.exe", true},    {"th22.exe", true}, {"thx.exe", false},   {"ath2.exe", false},
      {"th2.exe.bak", false}, {"th2.ex", false},  {"th2exe", false},    {"", false},
      {"th2.exe ", false},    {"th2..exe", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchesWildcard(c.name, "th*2*.exe"), c.matches) << c.name;
  }
  EXPECT_TRUE(MatchesWildcard("abc", "a?c"));
  EXPECT_TRUE(MatchesWildcard("anything", "*"));
  EXPECT_FALSE(MatchesWildcard(std::string(5000, 'a'), std::string(50, '*') + "b"));
}

}  // namespace
}  // namespace fogswitch
