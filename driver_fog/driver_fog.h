#pragma once

#include <cstddef>
#include <cstdio>

#include "platform/registry.h"

namespace fogswitch {

// The size of the step's one buffer for registry data, which every read is offered whole.
inline constexpr std::size_t kRegistryDataSize = 260;

// Sets the fog values of every display adapter whose first driver is ATI's and reports them.
void EnableDriverFog(Registry& registry, std::FILE* out);

// The same on the machine's registry, reporting to standard output.
void EnableDriverFog();

}  // namespace fogswitch
