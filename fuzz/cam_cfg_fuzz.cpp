// Any bytes in: the edit changes exactly what it should and nothing else, and a second edit
// changes nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "game_fog/cam_cfg.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

bool StartsLine(std::string_view text, std::size_t at) { return at == 0 || text[at - 1] == '\n'; }

// Checks that `after` is `before` with fog switched on in one of the allowed ways.
void CheckEdit(std::string_view before, std::string_view after) {
  if (after.size() == before.size()) {
    // Either unchanged, or exactly one byte set to "1": the value after a line-start "fogging ".
    std::size_t differing = 0;
    std::size_t at = 0;
    for (std::size_t i = 0; i < before.size(); ++i) {
      if (before[i] != after[i]) {
        ++differing;
        at = i;
      }
    }
    Require(differing <= 1);
    if (differing == 1) {
      Require(after[at] == '1' && before[at] != '\r' && before[at] != '\n');
      Require(at >= 8 && before.substr(at - 8, 8) == "fogging " && StartsLine(before, at - 8));
    } else {
      // Nothing changed: fog must be on at the first line-start switch already.
      std::size_t key = before.find("fogging ");
      while (key != std::string_view::npos && !StartsLine(before, key)) {
        key = before.find("fogging ", key + 1);
      }
      Require(key != std::string_view::npos && key + 8 < before.size() && before[key + 8] == '1');
    }
    return;
  }
  if (after.size() == before.size() + 1) {
    // One "1" inserted right after a line-start "fogging " whose value was empty.
    std::size_t at = 0;
    while (at < before.size() && before[at] == after[at]) ++at;
    Require(after[at] == '1' && after.substr(at + 1) == before.substr(at));
    Require(at >= 8 && before.substr(at - 8, 8) == "fogging " && StartsLine(before, at - 8));
    Require(at == before.size() || before[at] == '\r' || before[at] == '\n');
    return;
  }
  // A line of its own appended, the last line ended first where it had no LF.
  Require(after.substr(0, before.size()) == before);
  const std::string_view added = after.substr(before.size());
  const bool needs_break = !before.empty() && before.back() != '\n';
  Require(added == (needs_break ? "\r\nfogging 1\r\n" : "fogging 1\r\n"));
  // Only appended when no line starts with the switch.
  for (std::size_t at = before.find("fogging "); at != std::string_view::npos;
       at = before.find("fogging ", at + 1)) {
    Require(!StartsLine(before, at));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view before(reinterpret_cast<const char*>(data), size);
  const std::string once = fogswitch::WithFogOn(before);
  CheckEdit(before, once);
  Require(fogswitch::WithFogOn(once) == once);
  return 0;
}
