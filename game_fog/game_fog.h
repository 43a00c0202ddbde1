#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/game_folder.h"

namespace fogswitch {

// The largest cam.cfg the game step edits; a larger one is reported as a failure, untouched.
inline constexpr std::uint64_t kMaxConfigSize = 256u << 20;

// When `folder` holds the game, switches fog on in its cam.cfg and reports the outcome.
void EnableGameFog(GameFolder& folder, std::FILE* out,
                   std::uint64_t max_config_size = kMaxConfigSize);

// The same in the current working directory, reporting to standard output.
void EnableGameFog();

}  // namespace fogswitch
