#pragma once

#include <cstdint>

namespace fogswitch {

using RegStatus = long;
using RegHandle = std::uintptr_t;

inline constexpr RegStatus kRegSuccess = 0;
inline constexpr RegStatus kRegFileNotFound = 2;
inline constexpr unsigned long kKeyQueryValue = 0x0001;
inline constexpr unsigned long kKeySetValue = 0x0002;
inline constexpr unsigned long kRegBinary = 3;

// The registry operations the driver step needs, on keys below HKEY_LOCAL_MACHINE.
// Each returns the platform's status: kRegSuccess or an error code.
class Registry {
 public:
  virtual ~Registry() = default;
  virtual RegStatus RegOpenKeyExA(const char* path, unsigned long access, RegHandle* key) = 0;
  // `size` holds the buffer's size on entry and the size of the data returned on success.
  virtual RegStatus RegQueryValueExA(RegHandle key, const char* name, unsigned char* data,
                                     unsigned long* size) = 0;
  virtual RegStatus RegSetValueExA(RegHandle key, const char* name, unsigned long type,
                                   const unsigned char* data, unsigned long size) = 0;
  virtual RegStatus RegCloseKey(RegHandle key) = 0;
};

// The machine's own registry.
Registry& SystemRegistry();

}  // namespace fogswitch
