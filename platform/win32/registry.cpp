#include "platform/registry.h"

#include <windows.h>

namespace fogswitch {
namespace {

static_assert(kKeyQueryValue == KEY_QUERY_VALUE && kKeySetValue == KEY_SET_VALUE);
static_assert(kRegBinary == REG_BINARY && kRegSuccess == ERROR_SUCCESS);
static_assert(kRegFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(sizeof(RegHandle) == sizeof(HKEY));

HKEY ToKey(RegHandle key) { return reinterpret_cast<HKEY>(key); }

class WindowsRegistry final : public Registry {
 public:
  RegStatus OpenKey(const char* path, unsigned long access, RegHandle* key) override {
    HKEY opened = nullptr;
    const LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access, &opened);
    if (status == ERROR_SUCCESS) *key = reinterpret_cast<RegHandle>(opened);
    return status;
  }
  RegStatus QueryValue(RegHandle key, const char* name, unsigned char* data,
                       unsigned long* size) override {
    return RegQueryValueExA(ToKey(key), name, nullptr, nullptr, data, size);
  }
  RegStatus SetValue(RegHandle key, const char* name, unsigned long type, const unsigned char* data,
                     unsigned long size) override {
    return RegSetValueExA(ToKey(key), name, 0, type, data, size);
  }
  RegStatus CloseKey(RegHandle key) override { return RegCloseKey(ToKey(key)); }
};

}  // namespace

Registry& SystemRegistry() {
  static WindowsRegistry registry;
  return registry;
}

}  // namespace fogswitch
