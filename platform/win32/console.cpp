#include "platform/console.h"

#include <windows.h>

#include "platform/win32/key_rules.h"

namespace fogswitch {

void WaitForKey() {
  // The console itself, not standard input: redirected input must not end the wait.
  const HANDLE console =
      CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) return;
  DWORD saved_mode = 0;
  const bool have_mode = GetConsoleMode(console, &saved_mode) != 0;
  SetConsoleMode(console, 0);
  // Keys pressed while the steps ran are still waiting here and count.
  WaitForKeyEvent([console](ConsoleEvent& event, unsigned long& count) {
    INPUT_RECORD record{};
    const bool ok = ReadConsoleInputW(console, &record, 1, &count) != 0;
    event.is_key = record.EventType == KEY_EVENT;
    if (event.is_key) {
      event.key_down = record.Event.KeyEvent.bKeyDown != FALSE;
      event.virtual_key = record.Event.KeyEvent.wVirtualKeyCode;
      event.character = static_cast<char16_t>(record.Event.KeyEvent.uChar.UnicodeChar);
    }
    return ok;
  });
  if (have_mode) SetConsoleMode(console, saved_mode);
  CloseHandle(console);
}

}  // namespace fogswitch
