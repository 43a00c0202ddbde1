#pragma once

#include <cstdio>

#include "platform/registry.h"

namespace fogswitch {

// Sets the fog values of every display adapter whose first driver is ATI's and reports them.
void EnableDriverFog(Registry& registry, std::FILE* out);

// The same on the machine's registry, reporting to standard output.
void EnableDriverFog();

}  // namespace fogswitch
