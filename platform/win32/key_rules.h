#pragma once

#include <functional>
#include <optional>

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

// What the key wait asks of the console: its input mode, where that can be read; setting it; and
// reading the next input event as ReadConsoleInput does: false when the read fails, else `count`
// events (0 or 1) were read.
struct ConsoleInput {
  std::function<std::optional<unsigned long>()> mode;
  std::function<void(unsigned long mode)> set_mode;
  std::function<bool(ConsoleEvent& event, unsigned long& count)> read;
};

// Waits for a key with the input mode 0 (no line input, echo or processing of control keys):
// reads events, oldest first, until one ends the wait; a failed read, or one of no event, ends it
// too, as there is nothing more to wait for. Then puts back the mode the console had, where that
// could be read.
void WaitForKeyOn(const ConsoleInput& console);

}  // namespace fogswitch
