#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>

namespace fogswitch {

// A string from a call that fills a buffer of `size` characters and returns the text's length,
// or the size it needs when the buffer is too small, or 0 when it fails (then empty).
template <typename Call>
std::wstring Fetch(Call call) {
  std::wstring text;
  DWORD size = MAX_PATH;
  for (int tries = 0; tries < 3; ++tries) {
    text.resize(size);
    const DWORD length = call(text.data(), size);
    if (length < size) {
      text.resize(length);
      return text;
    }
    size = length;
  }
  return {};
}

// The full path of `path`, with "." and ".." resolved; empty when it has none.
inline std::wstring FullPath(const std::wstring& path) {
  return Fetch([&](wchar_t* text, DWORD size) {
    return GetFullPathNameW(path.c_str(), size, text, nullptr);
  });
}

inline HMODULE Kernel32() { return GetModuleHandleW(L"kernel32.dll"); }

// A function of a loaded system DLL that not every Windows has, or that is not in the import
// table: null where it is missing.
template <typename Function>
Function SystemFunction(HMODULE module, const char* name) {
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

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

namespace fogswitch {

// Has DLLs that are loaded by a bare name from now on looked for in the system folder only, not
// beside the program, where whoever may change the game folder could plant one.
void RestrictDllSearch();

// Loads a DLL of the system folder, never one of the same name elsewhere.
HeldLibrary LoadSystemLibrary(const wchar_t* name);

// Whether two names are the same as the file system compares them, every letter's case aside:
// from Windows Vista on, which has final paths and per-user copies; never before.
bool SameText(std::wstring_view a, std::wstring_view b);

}  // namespace fogswitch
