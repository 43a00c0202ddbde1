#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace fogswitch {

// What the system hands out and takes back, each closed or freed once, when its holder goes.
struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Held = std::unique_ptr<void, HandleCloser>;

struct LocalFreer {
  void operator()(void* memory) const { LocalFree(memory); }
};

struct KeyCloser {
  void operator()(HKEY key) const { RegCloseKey(key); }
};
using HeldKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

struct LibraryFreer {
  void operator()(HMODULE module) const { FreeLibrary(module); }
};
using HeldLibrary = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryFreer>;

}  // namespace fogswitch
