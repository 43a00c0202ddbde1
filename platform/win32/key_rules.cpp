#include "platform/win32/key_rules.h"

namespace fogswitch {
namespace {

// Virtual-key codes, as the platform defines them.
constexpr unsigned short kVkClear = 0x0C;
constexpr unsigned short kVkPrior = 0x21;  // Page Up; Page Down, End, Home and the arrows follow
constexpr unsigned short kVkDown = 0x28;
constexpr unsigned short kVkInsert = 0x2D;
constexpr unsigned short kVkDelete = 0x2E;
constexpr unsigned short kVkF1 = 0x70;
constexpr unsigned short kVkF24 = 0x87;

bool HasExtendedCode(unsigned short key) {
  return key == kVkClear || (key >= kVkPrior && key <= kVkDown) || key == kVkInsert ||
         key == kVkDelete || (key >= kVkF1 && key <= kVkF24);
}

}  // namespace

bool EndsKeyWait(const ConsoleEvent& event) {
  if (!event.is_key || !event.key_down) return false;
  return event.character != 0 || HasExtendedCode(event.virtual_key);
}

void WaitForKeyOn(const ConsoleInput& console) {
  const auto saved = console.mode();
  console.set_mode(0);
  for (;;) {
    ConsoleEvent event;
    unsigned long count = 0;
    if (!console.read(event, count) || count == 0 || EndsKeyWait(event)) break;
  }
  if (saved) console.set_mode(*saved);
}

}  // namespace fogswitch
