#include "platform/win32/text.h"

#include "platform/win32/libraries.h"

namespace fogswitch {

bool SameText(std::wstring_view a, std::wstring_view b) {
  using Compare = int(WINAPI*)(LPCWCH, int, LPCWCH, int, BOOL);
  static const auto compare = SystemFunction<Compare>(Kernel32(), "CompareStringOrdinal");
  return compare != nullptr && compare(a.data(), static_cast<int>(a.size()), b.data(),
                                       static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace fogswitch
