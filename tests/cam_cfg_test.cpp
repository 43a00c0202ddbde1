#include "game_fog/cam_cfg.h"

#include <gtest/gtest.h>

#include <string>

namespace fogswitch {
namespace {

using namespace std::string_literals;

TEST(WithFogOn, SetsTheFirstFoggingLineOrAddsOne) {
  const struct {
    std::string before;
    std::string after;
  } cases[] = {
      {"a 1\r\nfogging 0\r\nb 2\r\n", "a 1\r\nfogging 1\r\nb 2\r\n"},
      {"a\r\nfogging 1\r\nb\r\n", "a\r\nfogging 1\r\nb\r\n"},
      {"a\r\nfogging 05\r\n", "a\r\nfogging 15\r\n"},
      {"a\r\nfogging  0\r\n", "a\r\nfogging 10\r\n"},
      {"a\r\nfogging \t0\r\n", "a\r\nfogging 10\r\n"},
      // An empty value gets a "1"; the line end stays.
      {"a\r\nfogging \r\nb\r\n", "a\r\nfogging 1\r\nb\r\n"},
      {"a\nfogging \nb\n", "a\nfogging 1\nb\n"},
      {"a\r\nfogging ", "a\r\nfogging 1"},
      {"fogging ", "fogging 1"},
      // A line starts at the file's start or after an LF.
      {"fogging 0\r\nb\r\n", "fogging 1\r\nb\r\n"},
      {"a\nfogging 0\nb\n", "a\nfogging 1\nb\n"},
      {"fogging 0\r\nfogging 0\r\n", "fogging 1\r\nfogging 0\r\n"},
      {"xfogging 0\r\nfogging 0\r\n", "xfogging 0\r\nfogging 1\r\n"},
      // Zero bytes are ordinary bytes.
      {"a\0b\r\nfogging 0\r\n"s, "a\0b\r\nfogging 1\r\n"s},
      {"\0"s, "\0\r\nfogging 1\r\n"s},
      // No switch: a line of its own is added, the last line ended first when it needs it.
      {"", "fogging 1\r\n"},
      {"a 1\r\n", "a 1\r\nfogging 1\r\n"},
      {"a 1\n", "a 1\nfogging 1\r\n"},
      {"a 1", "a 1\r\nfogging 1\r\n"},
      {"a 1\r", "a 1\r\r\nfogging 1\r\n"},
      {"Fogging 0\r\n", "Fogging 0\r\nfogging 1\r\n"},
      {"fogging0\r\n", "fogging0\r\nfogging 1\r\n"},
      {"a\rfogging 0", "a\rfogging 0\r\nfogging 1\r\n"},
      {"fog 1\r\nfoggin 1\r\n", "fog 1\r\nfoggin 1\r\nfogging 1\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.before));
    const std::string once = WithFogOn(c.before);
    EXPECT_EQ(once, c.after);
    EXPECT_EQ(WithFogOn(once), once) << "a second run changed the file again";
  }
}

}  // namespace
}  // namespace fogswitch
