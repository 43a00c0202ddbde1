#pragma once

#include <windows.h>

#include "platform/win32/handles.h"

namespace fogswitch {

// The system DLLs every process has loaded.
inline HMODULE Kernel32() { return GetModuleHandleW(L"kernel32.dll"); }
inline HMODULE Ntdll() { return GetModuleHandleW(L"ntdll.dll"); }

// A function of a loaded system DLL that not every Windows has, or that is not in the import
// table: null where it is missing.
template <typename Function>
Function SystemFunction(HMODULE module, const char* name) {
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// Has DLLs that are loaded by a bare name from now on looked for in the system folder only, not
// beside the program, where whoever may change the game folder could plant one.
void RestrictDllSearch();

// Loads a DLL of the system folder, never one of the same name elsewhere.
HeldLibrary LoadSystemLibrary(const wchar_t* name);

}  // namespace fogswitch
