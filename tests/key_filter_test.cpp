#include "platform/win32/key_filter.h"

#include <gtest/gtest.h>

namespace fogswitch {
namespace {

ConsoleEvent Down(unsigned short virtual_key, char character = 0) {
  return {true, true, virtual_key, character};
}

TEST(EndsKeyWait, CharactersAndExtendedKeysEndItModifiersAndOtherEventsDont) {
  const struct {
    const char* name;
    ConsoleEvent event;
    bool ends;
  } cases[] = {
      {"letter", Down('A', 'a'), true},
      {"Enter", Down(0x0D, '\r'), true},
      {"keypad Enter", Down(0x0D, '\r'), true},
      {"keypad /", Down(0x6F, '/'), true},
      {"Escape", Down(0x1B, 0x1B), true},
      {"Ctrl+C at mode 0", Down('C', 0x03), true},
      {"up arrow", Down(0x26), true},
      {"left arrow", Down(0x25), true},
      {"Page Up", Down(0x21), true},
      {"Home", Down(0x24), true},
      {"End", Down(0x23), true},
      {"Insert", Down(0x2D), true},
      {"Delete", Down(0x2E), true},
      {"keypad 5 without Num Lock", Down(0x0C), true},
      {"F1", Down(0x70), true},
      {"F12", Down(0x7B), true},
      {"F24", Down(0x87), true},
      {"Shift", Down(0x10), false},
      {"Ctrl", Down(0x11), false},
      {"Alt", Down(0x12), false},
      {"Pause", Down(0x13), false},
      {"Caps Lock", Down(0x14), false},
      {"Num Lock", Down(0x90), false},
      {"Scroll Lock", Down(0x91), false},
      {"left Windows key", Down(0x5B), false},
      {"right Windows key", Down(0x5C), false},
      {"menu key", Down(0x5D), false},
      {"letter released", {true, false, 'A', 'a'}, false},
      {"arrow released", {true, false, 0x26, 0}, false},
      {"mouse, focus, menu or size event", {false, false, 0, 0}, false},
      {"key with no code at all", Down(0), false},
  };
  for (const auto& c : cases) EXPECT_EQ(EndsKeyWait(c.event), c.ends) << c.name;
}

}  // namespace
}  // namespace fogswitch
