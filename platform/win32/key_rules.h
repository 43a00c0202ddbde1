#pragma once

#include <functional>

namespace fogswitch {

// One console input event, as far as the key wait cares.
struct ConsoleEvent {
  bool is_key = false;
  bool key_down = false;
  unsigned short virtual_key = 0;
  char16_t character = 0;  // UTF-16: in a UTF-8 console the 8-bit one is 0 for letters like é
};

// Whether an event ends the wait for a key: a key press that types a character, or one of the
// keys with an extended key code (cursor and editing keys, function keys). Releases, lone
// modifier and lock keys, and all other events don't.
bool EndsKeyWait(const ConsoleEvent& event);

// Reads console input events, oldest first, until one ends the wait. `read` reads the next one
// as ReadConsoleInput does: false when the read fails, else `count` events (0 or 1) were read. A
// failed read, or one of no event, ends the wait too: there is nothing more to wait for.
void WaitForKeyEvent(const std::function<bool(ConsoleEvent& event, unsigned long& count)>& read);

}  // namespace fogswitch
