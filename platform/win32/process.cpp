#include "platform/process.h"

#include <windows.h>

#include <cstdio>

#include "platform/win32/libraries.h"

namespace fogswitch {

void PrepareProcess() {
  RestrictDllSearch();
  // On a console every message shows at once; into a file or pipe it stays buffered.
  if (GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_CHAR) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
  }
}

}  // namespace fogswitch
