#include "platform/registry.h"

namespace fogswitch {
namespace {

// There is no system registry here: every key is missing, so nothing is ever read or written.
class NoRegistry final : public Registry {
 public:
  RegStatus OpenKey(const char*, unsigned long, RegHandle*) override { return kRegFileNotFound; }
  RegStatus QueryValue(RegHandle, const char*, unsigned char*, unsigned long*) override {
    return kRegFileNotFound;
  }
  RegStatus SetValue(RegHandle, const char*, unsigned long, const unsigned char*,
                     unsigned long) override {
    return kRegFileNotFound;
  }
  RegStatus CloseKey(RegHandle) override { return kRegFileNotFound; }
};

}  // namespace

Registry& SystemRegistry() {
  static NoRegistry registry;
  return registry;
}

}  // namespace fogswitch
