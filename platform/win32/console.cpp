#include "platform/console.h"

#include <windows.h>

#include "platform/win32/handles.h"
#include "platform/win32/key_rules.h"

namespace fogswitch {

void WaitForKey() {
  // The console itself, not standard input: redirected input must not end the wait.
  const HANDLE console =
      CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) return;
  const Held held(console);
  const auto mode = [console]() -> std::optional<unsigned long> {
    DWORD saved = 0;
    if (!GetConsoleMode(console, &saved)) return std::nullopt;
    return saved;
  };
  const auto set_mode = [console](unsigned long to) { SetConsoleMode(console, to); };
  // Keys pressed while the steps ran are still waiting here and count.
  const auto read = [console](ConsoleEvent& event, unsigned long& count) {
    INPUT_RECORD record{};
    const bool ok = ReadConsoleInputW(console, &record, 1, &count) != 0;
    event.is_key = record.EventType == KEY_EVENT;
    if (event.is_key) {
      event.key_down = record.Event.KeyEvent.bKeyDown != FALSE;
      event.virtual_key = record.Event.KeyEvent.wVirtualKeyCode;
      event.character = static_cast<char16_t>(record.Event.KeyEvent.uChar.UnicodeChar);
    }
    return ok;
  };
  WaitForKeyOn({mode, set_mode, read});
}

}  // namespace fogswitch
