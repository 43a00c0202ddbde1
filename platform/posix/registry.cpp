#include "platform/registry.h"

namespace fogswitch {
namespace {

// There is no system registry here: every key is missing, so nothing is ever read or written.
class NoRegistry final : public Registry {
 public:
  RegStatus RegOpenKeyExA(const char*, unsigned long, RegHandle*) override {
    return kRegFileNotFound;
  }
  RegStatus RegQueryValueExA(RegHandle, const char*, unsigned char*, unsigned long*) override {
    return kRegFileNotFound;
  }
  RegStatus RegSetValueExA(RegHandle, const char*, unsigned long, const unsigned char*,
                           unsigned long) override {
    return kRegFileNotFound;
  }
  RegStatus RegCloseKey(RegHandle) override { return kRegFileNotFound; }
};

}  // namespace

Registry& SystemRegistry() {
  static NoRegistry registry;
  return registry;
}

}  // namespace fogswitch
