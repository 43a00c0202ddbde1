#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fogswitch::testing {

// What `print` writes to the stream it is handed.
template <typename Print>
std::string Capture(Print print) {
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  print(out);
  std::fclose(out);
  std::string result(text, size);
  std::free(text);
  return result;
}

}  // namespace fogswitch::testing
