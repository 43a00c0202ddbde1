#include <cstdio>

#include "driver_fog/driver_fog.h"
#include "game_fog/game_fog.h"
#include "platform/console.h"
#include "platform/process.h"

// Arguments are ignored: the program asks nothing and takes no options.
int main() {
  fogswitch::PrepareProcess();
  std::printf("fogswitch v" FOGSWITCH_VERSION " (built " FOGSWITCH_BUILD_DATE
              ") - fog for Thief 2 on ATI display adapters\n");
  fogswitch::EnableDriverFog();
  fogswitch::EnableGameFog();
  std::printf("Press any key to exit...");
  fogswitch::WaitForKey();
  return 0;
}
