#pragma once

#include <cstddef>
#include <string_view>

namespace fogswitch {

// The change that switches the game's fog on: `bytes` replace `replaced` bytes at `offset`.
struct FogEdit {
  std::size_t offset = 0;
  std::size_t replaced = 0;
  std::string_view bytes;  // empty when fog is on already

  bool ChangesNothing() const { return bytes.empty(); }
};

// Finds the edit for a cam.cfg: the value of its "fogging " line becomes "1" (the first such line
// after a CR LF, else the first at all), or, with no such line, "fogging 1" CR LF is added as a
// line of its own.
FogEdit FindFogEdit(std::string_view config);

}  // namespace fogswitch
