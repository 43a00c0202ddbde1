#include "driver_fog/driver_fog.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ascii.h"

namespace fogswitch {
namespace {

constexpr char kDeviceMapPath[] = "HARDWARE\\DEVICEMAP\\VIDEO";
// Device map values name the adapter key in the kernel's namespace: "\Registry\Machine\...".
constexpr std::size_t kKernelPrefixLength = 18;

struct FogValue {
  const char* name;
  unsigned char bytes[4];
};

constexpr FogValue kFogValues[] = {
    {"TableFogEnable", {'1', 0, 0, 0}},
    {"WFogEnable", {'0', 0, 0, 0}},
    {"ZFogEnable", {'1', 0, 0, 0}},
};

// The step's one data buffer; every read offers all of it and overwrites the last.
class DataBuffer {
 public:
  // The bytes the registry returned, or nothing when the read failed.
  std::optional<std::string_view> Read(Registry& registry, RegHandle key, const char* name) {
    unsigned long size = kRegistryDataSize;
    if (registry.QueryValue(key, name, bytes_, &size) != kRegSuccess) return std::nullopt;
    // A size past the buffer would be a platform fault; never read beyond what is ours.
    size = std::min<unsigned long>(size, kRegistryDataSize);
    return std::string_view(reinterpret_cast<const char*>(bytes_), size);
  }

 private:
  unsigned char bytes_[kRegistryDataSize] = {};
};

// Registry text ends at its first zero byte or, stored without one, at the data's end.
std::string_view AsText(std::string_view data) { return data.substr(0, data.find('\0')); }

// Whether the first driver's name starts with "ati", in any letter case.
bool IsAtiDriver(std::string_view drivers) {
  constexpr std::string_view kAti = "ati";
  return SameAscii(AsText(drivers).substr(0, kAti.size()), kAti);
}

std::int32_t ReadSlotCount(Registry& registry, RegHandle device_map, DataBuffer& buffer) {
  const auto data = buffer.Read(registry, device_map, "MaxObjectNumber");
  if (!data || data->size() < 4) return 0;
  const auto byte = [&](std::size_t i) {
    return std::uint32_t{static_cast<unsigned char>((*data)[i])};
  };
  const std::uint32_t highest = byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
  // The count wraps like the 32-bit number it is: 0xFFFFFFFF gives 0, 0x7FFFFFFF the lowest int.
  // Kept so: the summary prints the count that earlier releases printed, and a number that is no
  // real count never starts a walk of two billion slots.
  return static_cast<std::int32_t>(highest + 1u);
}

bool WriteFogValues(Registry& registry, RegHandle adapter) {
  bool all_written = true;
  for (const FogValue& value : kFogValues) {
    if (registry.SetValue(adapter, value.name, kRegBinary, value.bytes, sizeof value.bytes) !=
        kRegSuccess) {
      all_written = false;
    }
  }
  return all_written;
}

// Handles one device slot; true when its adapter got all three fog values.
bool FixAdapter(Registry& registry, RegHandle device_map, const char* slot_name, DataBuffer& buffer,
                std::FILE* out) {
  const auto target = buffer.Read(registry, device_map, slot_name);
  if (!target) return false;
  const std::string_view kernel_path = AsText(*target);
  if (kernel_path.size() <= kKernelPrefixLength) return false;
  // Later reads reuse the buffer, so keep the path for the report.
  const std::string key_path(kernel_path.substr(kKernelPrefixLength));

  RegHandle adapter{};
  if (registry.OpenKey(key_path.c_str(), kKeyQueryValue | kKeySetValue, &adapter) != kRegSuccess) {
    return false;
  }
  bool fixed = false;
  const auto drivers = buffer.Read(registry, adapter, "InstalledDisplayDrivers");
  if (drivers && IsAtiDriver(*drivers)) {
    fixed = WriteFogValues(registry, adapter);
    if (fixed) {
      const auto description = buffer.Read(registry, adapter, "Device Description");
      const std::string_view name = description ? AsText(*description) : key_path;
      std::fprintf(out, "%.*s ... fixed.\n", static_cast<int>(name.size()), name.data());
    }
  }
  registry.CloseKey(adapter);
  return fixed;
}

}  // namespace

void EnableDriverFog(Registry& registry, std::FILE* out) {
  std::int32_t found = 0;
  std::int32_t modified = 0;
  RegHandle device_map{};
  if (registry.OpenKey(kDeviceMapPath, kKeyQueryValue, &device_map) == kRegSuccess) {
    DataBuffer buffer;
    found = ReadSlotCount(registry, device_map, buffer);
    char slot_name[kRegistryDataSize];
    for (std::int32_t i = 0; i < found; ++i) {
      std::snprintf(slot_name, sizeof slot_name, "\\Device\\Video%d", static_cast<int>(i));
      if (FixAdapter(registry, device_map, slot_name, buffer, out)) ++modified;
    }
    registry.CloseKey(device_map);
  }
  std::fprintf(out,
               "Video card registry entries found: %d\nVideo card registry entries modified: %d\n",
               static_cast<int>(found), static_cast<int>(modified));
}

void EnableDriverFog() { EnableDriverFog(SystemRegistry(), stdout); }

}  // namespace fogswitch
