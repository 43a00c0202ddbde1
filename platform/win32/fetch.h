#pragma once

#include <windows.h>

#include <string>

namespace fogswitch {

// A string from a call that fills a buffer of `size` characters and returns the text's length,
// or the size it needs when the buffer is too small, or 0 when it fails (then empty).
template <typename Call>
std::wstring FetchString(Call call) {
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
  return FetchString([&](wchar_t* text, DWORD size) {
    return GetFullPathNameW(path.c_str(), size, text, nullptr);
  });
}

}  // namespace fogswitch
