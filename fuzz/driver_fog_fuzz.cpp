// The driver step against a registry made from the fuzz input: slot values of any length and
// content, missing and refusing keys, failing reads and writes. No read may pass the bytes a
// read returned, only ATI adapters may be written, every key that opened is closed once, and
// what is printed agrees with the registry.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver_fog/driver_fog.h"
#include "tests/support/fake_registry.h"

namespace {

using fogswitch::testing::FakeRegistry;

const std::string kMap = "HARDWARE\\DEVICEMAP\\VIDEO";
const char* const kValueNames[] = {"MaxObjectNumber",    "InstalledDisplayDrivers",
                                   "Device Description", "TableFogEnable",
                                   "WFogEnable",         "ZFogEnable"};

void Require(bool condition) {
  if (!condition) std::abort();
}

std::string Text(const std::string& bytes) { return bytes.substr(0, bytes.find('\0')); }

bool IsAti(const std::string& drivers) {
  const std::string first = Text(drivers);
  if (first.size() < 3) return false;
  for (std::size_t i = 0; i < 3; ++i) {
    const char c = static_cast<char>(first[i] | ((first[i] >= 'A' && first[i] <= 'Z') ? 0x20 : 0));
    if (c != "ati"[i]) return false;
  }
  return true;
}

std::string AdapterName(int n) { return "System\\Video\\" + std::to_string(n); }

FakeRegistry MakeRegistry(FuzzedDataProvider& in) {
  FakeRegistry reg;
  if (in.ConsumeIntegralInRange(0, 15) == 0) return reg;  // no device map at all
  reg.keys[kMap];
  switch (const int max = in.ConsumeIntegralInRange(0, 11)) {
    case 8:
      reg.Put(kMap, "MaxObjectNumber", std::string(4, '\xff'), 4);
      break;
    case 9:
      reg.Put(kMap, "MaxObjectNumber", std::string("\xff\xff\xff\x7f", 4), 4);
      break;
    case 10:
      reg.Put(kMap, "MaxObjectNumber", in.ConsumeRandomLengthString(3), 4);
      break;
    case 11:
      break;  // no MaxObjectNumber
    default:
      reg.Put(kMap, "MaxObjectNumber", std::string{static_cast<char>(max), 0, 0, 0}, 4);
  }
  for (int slot = 0; slot < 8; ++slot) {
    const std::string name = "\\Device\\Video" + std::to_string(slot);
    std::string prefix = in.ConsumeBool() ? "\\Registry\\Machine\\" : in.ConsumeBytesAsString(18);
    switch (in.ConsumeIntegralInRange(0, 4)) {
      case 0:
        break;  // missing slot
      case 1:
        reg.Put(kMap, name, prefix + AdapterName(in.ConsumeIntegralInRange(0, 3)) + '\0');
        break;
      case 2:
        reg.Put(kMap, name, in.ConsumeRandomLengthString(300));
        break;
      case 3:
        reg.Put(kMap, name, prefix + AdapterName(in.ConsumeIntegralInRange(0, 3)));
        break;
      default:
        reg.Put(kMap, name, prefix + std::string(250, 'k') + '\0');
    }
  }
  for (int n = 0; n < 4; ++n) {
    const std::string key = AdapterName(n);
    if (in.ConsumeIntegralInRange(0, 7) == 0) continue;  // missing key
    reg.keys[key];
    const int drivers = in.ConsumeIntegralInRange(0, 3);
    if (drivers > 0) {
      const std::string start = drivers == 1 ? "ati" : drivers == 2 ? "AtI" : "";
      reg.Put(key, "InstalledDisplayDrivers", start + in.ConsumeRandomLengthString(300), 7);
    }
    if (in.ConsumeBool()) reg.Put(key, "Device Description", in.ConsumeRandomLengthString(300));
    if (in.ConsumeIntegralInRange(0, 7) == 0) reg.unopenable_keys.insert(key);
    if (in.ConsumeIntegralInRange(0, 7) == 0) reg.read_only_keys.insert(key);
  }
  for (const char* value : kValueNames) {
    if (in.ConsumeIntegralInRange(0, 15) == 0) reg.failing_values.insert(value);
    if (in.ConsumeIntegralInRange(0, 15) == 0) reg.unreadable_values.insert(value);
  }
  return reg;
}

std::string Run(FakeRegistry& reg) {
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  fogswitch::EnableDriverFog(reg, out);
  std::fclose(out);
  std::string output(text, size);
  std::free(text);
  return output;
}

// What a read of the value gives: its bytes, or nothing when the read fails.
const std::string* Readable(const FakeRegistry& reg, const std::string& key, const char* name) {
  const auto k = reg.keys.find(key);
  if (k == reg.keys.end() || reg.unreadable_values.count(name) != 0) return nullptr;
  const auto v = k->second.find(name);
  if (v == k->second.end() || v->second.bytes.size() > 260) return nullptr;
  return &v->second.bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  FakeRegistry reg = MakeRegistry(in);
  const FakeRegistry before = reg;
  const std::string output = Run(reg);

  Require(reg.faults.empty());
  Require(reg.open_keys == 0);
  for (const std::string& key : reg.written_keys) {
    const std::string* drivers = Readable(before, key, "InstalledDisplayDrivers");
    Require(drivers != nullptr && IsAti(*drivers));
  }

  std::int32_t found = 0;
  if (before.keys.count(kMap) != 0) {
    const std::string* max = Readable(before, kMap, "MaxObjectNumber");
    if (max != nullptr && max->size() >= 4) {
      std::uint32_t value = 0;
      for (std::size_t i = 4; i-- > 0;)
        value = (value << 8) | static_cast<unsigned char>((*max)[i]);
      found = static_cast<std::int32_t>(value + 1u);
    }
  }
  std::string expected;
  for (const std::string& key : reg.fully_written) {
    const std::string* description = Readable(before, key, "Device Description");
    expected += (description ? Text(*description) : key) + " ... fixed.\n";
  }
  expected +=
      "Video card registry entries found: " + std::to_string(found) +
      "\nVideo card registry entries modified: " + std::to_string(reg.fully_written.size()) + "\n";
  Require(output == expected);
  return 0;
}
