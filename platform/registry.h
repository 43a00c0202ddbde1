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

// The registry operations the driver step needs, on keys below HKEY_LOCAL_MACHINE: open a key,
// query and set its values, close it. Each returns the platform's status: kRegSuccess or an error
// code.
class Registry {
 public:
  virtual ~Registry() = default;
  virtual RegStatus OpenKey(const char* path, unsigned long access, RegHandle* key) = 0;
  // `size` holds the buffer's size on entry and the size of the data returned on success.
  virtual RegStatus QueryValue(RegHandle key, const char* name, unsigned char* data,
                               unsigned long* size) = 0;
  virtual RegStatus SetValue(RegHandle key, const char* name, unsigned long type,
                             const unsigned char* data, unsigned long size) = 0;
  virtual RegStatus CloseKey(RegHandle key) = 0;
};

// The machine's own registry.
Registry& SystemRegistry();

}  // namespace fogswitch
