#include "driver_fog/driver_fog.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

#include "tests/support/capture.h"
#include "tests/support/fake_registry.h"
#include "tests/support/output.h"

namespace fogswitch {
namespace {

using testing::Capture;
using testing::FakeRegistry;
using testing::Summary;

const std::string kMap = "HARDWARE\\DEVICEMAP\\VIDEO";
const std::string kPrefix = "\\Registry\\Machine\\";
const std::string kAdapter0 = "System\\ControlSet001\\Control\\Video\\{A}\\0000";
const std::string kAdapter1 = "System\\ControlSet001\\Control\\Video\\{B}\\0000";

std::string U32(std::uint32_t v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
          static_cast<char>((v >> 16) & 0xFF), static_cast<char>(v >> 24)};
}
std::string Sz(const std::string& text) { return text + '\0'; }
// A device map of `max + 1` slots, each adapter listed at slot i when given.
void AddAdapter(FakeRegistry& reg, int slot, const std::string& key, const std::string& drivers,
                const std::string& description) {
  reg.Put(kMap, "\\Device\\Video" + std::to_string(slot), Sz(kPrefix + key));
  reg.Put(key, "InstalledDisplayDrivers", drivers, 7);
  if (!description.empty()) reg.Put(key, "Device Description", Sz(description));
}
FakeRegistry MapOf(std::uint32_t max) {
  FakeRegistry reg;
  reg.Put(kMap, "MaxObjectNumber", U32(max), 4);
  return reg;
}

struct Case {
  const char* name;
  std::function<void(FakeRegistry&)> setup;
  std::string output;
  std::set<std::string> fixed_keys;  // adapters that must hold all three fog values afterwards
};

TEST(EnableDriverFog, WalksTheDeviceMapAndFixesAtiAdapters) {
  const std::string ati = std::string("ati2dvag\0\0", 10);
  const std::string long_text(300, 'x');
  const Case cases[] = {
      {"one ATI adapter",
       [&](FakeRegistry& r) {
         r = MapOf(0);
         AddAdapter(r, 0, kAdapter0, ati, "RADEON 9800");
       },
       "RADEON 9800 ... fixed.\n" + Summary(1, 1),
       {kAdapter0}},
      {"two ATI adapters, each fixed and counted",
       [&](FakeRegistry& r) {
         r = MapOf(1);
         AddAdapter(r, 0, kAdapter0, ati, "First");
         AddAdapter(r, 1, kAdapter1, std::string("ATI2DVAG\0", 9), "Second");
       },
       "First ... fixed.\nSecond ... fixed.\n" + Summary(2, 2),
       {kAdapter0, kAdapter1}},
      {"mixed-case driver name matches",
       [&](FakeRegistry& r) {
         r = MapOf(0);
         AddAdapter(r, 0, kAdapter0, Sz("AtI2dvag"), "X");
       },
       "X ... fixed.\n" + Summary(1, 1),
       {kAdapter0}},
      {"ATI only as a later driver name",
       [&](FakeRegistry& r) {
         r = MapOf(0);
         AddAdapter(r, 0, kAdapter0, std::string("nv4_disp\0ati2dvag\0\0", 19), "Y");
       },
       Summary(1, 0),
       {}},
      {"driver list shorter than three characters",
       [&](FakeRegistry& r) {
         r = MapOf(0);
         AddAdapter(r, 0, kAdapter0, std::string("at\0i", 4), "Y");
       },
       Summary(1, 0),
       {}},
      {"driver list without a terminating zero",
       [&](FakeRegistry& r) {
         r = MapOf(0);
         AddAdapter(r, 0, kAdapter0, "ati", "Z");
       },
       "Z ... fixed.\n" + Summary(1, 1),
       {kAdapter0}},
      {"no driver list: not ATI, even after an ATI slot",
       [&](FakeRegistry& r) {
         r = MapOf(1);
         AddAdapter(r, 0, kAdapter0, ati, "A");
         AddAdapter(r, 1, kAdapter1, ati, "B");
         r.keys[kAdapter1].erase("InstalledDisplayDrivers");
       },
       "A ... fixed.\n" + Summary(2, 1),
       {kAdapter0}},
      {"MaxObjectNumber 0xFFFFFFFF walks nothing",
       [&](FakeRegistry& r) {
         r = MapOf(0xFFFFFFFF);
         AddAdapter(r, 0, kAdapter0, ati, "A");
       },
       Summary(0, 0),
       {}},
      {"MaxObjectNumber 0x7FFFFFFF wraps",
       [&](FakeRegistry& r) {
         r = MapOf(0x7FFFFFFF);
         AddAdapter(r, 0, kAdapter0, ati, "A");
       },
       "Video card registry entries found: -2147483648\nVideo card registry entries modified: 0\n",
       {}},
      {"no device map key",
       [&](FakeRegistry& r) { r.Put(kAdapter0, "InstalledDisplayDrivers", ati); },
       Summary(0, 0),
       {}},
      {"no MaxObjectNumber",
       [&](FakeRegistry& r) {
         r = MapOf(0);
         AddAdapter(r, 0, kAdapter0, ati, "A");
         r.keys[kMap].erase("MaxObjectNumber");
       },
       Summary(0, 0),
       {}},
      {"MaxObjectNumber shorter than four bytes",
       [&](FakeRegistry& r) {
         r = MapOf(0);
         AddAdapter(r, 0, kAdapter0, ati, "A");
         r.Put(kMap, "MaxObjectNumber", "\1\0", 3);
       },
       Summary(0, 0),
       {}},
      {"missing slot and a slot naming a missing key are skipped",
       [&](FakeRegistry& r) {
         r = MapOf(3);
         AddAdapter(r, 0, kAdapter0, ati, "A");
         r.Put(kMap, "\\Device\\Video2", Sz(kPrefix + "System\\Nowhere"));
         AddAdapter(r, 3, kAdapter1, ati, "D");
       },
       "A ... fixed.\nD ... fixed.\n" + Summary(4, 2),
       {kAdapter0, kAdapter1}},
      {"slot path no longer than the prefix",
       [&](FakeRegistry& r) {
         r = MapOf(1);
         AddAdapter(r, 0, kAdapter0, ati, "A");
         r.Put(kMap, "\\Device\\Video1", Sz(kPrefix));
       },
       "A ... fixed.\n" + Summary(2, 1),
       {kAdapter0}},
      {"slot value over 260 bytes is skipped",
       [&](FakeRegistry& r) {
         r = MapOf(0);
         r.Put(kMap, "\\Device\\Video0", Sz(kPrefix + long_text));
       },
       Summary(1, 0),
       {}},
      {"prefix skipped unread",
       [&](FakeRegistry& r) {
         r = MapOf(0);
         AddAdapter(r, 0, kAdapter0, ati, "A");
         r.Put(kMap, "\\Device\\Video0", Sz("??????????????????" + kAdapter0));
       },
       "A ... fixed.\n" + Summary(1, 1),
       {kAdapter0}},
      {"no description: the key path stands in",
       [&](FakeRegistry& r) {
         r = MapOf(0);
         AddAdapter(r, 0, kAdapter0, ati, "");
       },
       kAdapter0 + " ... fixed.\n" + Summary(1, 1),
       {kAdapter0}},
      {"description filling the buffer without a zero",
       [&](FakeRegistry& r) {
         r = MapOf(0);
         AddAdapter(r, 0, kAdapter0, ati, "A");
         r.Put(kAdapter0, "Device Description", std::string(260, 'd'));
       },
       std::string(260, 'd') + " ... fixed.\n" + Summary(1, 1),
       {kAdapter0}},
      {"description printed byte for byte",
       [&](FakeRegistry& r) {
         r = MapOf(0);
         AddAdapter(r, 0, kAdapter0, ati, "Rad\xe9on %s %d\t!");
       },
       "Rad\xe9on %s %d\t! ... fixed.\n" + Summary(1, 1),
       {kAdapter0}},
      {"values already set are written again",
       [&](FakeRegistry& r) {
         r = MapOf(0);
         AddAdapter(r, 0, kAdapter0, ati, "A");
         r.Put(kAdapter0, "TableFogEnable", std::string("1\0\0\0", 4), 3);
         r.Put(kAdapter0, "WFogEnable", "garbage", 1);
       },
       "A ... fixed.\n" + Summary(1, 1),
       {kAdapter0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeRegistry reg;
    c.setup(reg);
    const std::string output = Capture([&](std::FILE* out) { EnableDriverFog(reg, out); });
    EXPECT_EQ(output, c.output);
    EXPECT_TRUE(reg.faults.empty()) << reg.faults.front();
    EXPECT_EQ(reg.open_keys, 0) << "a key was left open";
    EXPECT_EQ(reg.written_keys, c.fixed_keys);
    for (const std::string& key : c.fixed_keys) {
      const auto& values = reg.keys[key];
      const std::pair<const char*, std::string> fog[] = {
          {"TableFogEnable", std::string("1\0\0\0", 4)},
          {"WFogEnable", std::string("0\0\0\0", 4)},
          {"ZFogEnable", std::string("1\0\0\0", 4)}};
      for (const auto& [name, bytes] : fog) {
        ASSERT_EQ(values.count(name), 1u) << name;
        EXPECT_EQ(values.at(name).type, 3u) << name;
        EXPECT_EQ(values.at(name).bytes, bytes) << name;
      }
    }
  }
}

TEST(EnableDriverFog, OpensTheMapForReadingAndAdaptersForQueryAndSet) {
  FakeRegistry reg = MapOf(0);
  AddAdapter(reg, 0, kAdapter0, Sz("ati2dvag"), "A");
  Capture([&](std::FILE* out) { EnableDriverFog(reg, out); });
  EXPECT_EQ(reg.opened, (std::vector<std::string>{kMap + "/1", kAdapter0 + "/3"}));
  EXPECT_EQ(reg.queried,
            (std::vector<std::string>{"MaxObjectNumber", "\\Device\\Video0",
                                      "InstalledDisplayDrivers", "Device Description"}));
}

TEST(EnableDriverFog, FailedWriteIsNotReportedAsFixed) {
  FakeRegistry reg = MapOf(1);
  AddAdapter(reg, 0, kAdapter0, Sz("ati2dvag"), "Locked");
  AddAdapter(reg, 1, kAdapter1, Sz("ati2dvag"), "Open");
  reg.read_only_keys.insert(kAdapter0);
  std::string output = Capture([&](std::FILE* out) { EnableDriverFog(reg, out); });
  EXPECT_EQ(output, "Open ... fixed.\n" + Summary(2, 1));
  EXPECT_EQ(reg.keys[kAdapter0].count("WFogEnable"), 0u);
  EXPECT_EQ(reg.open_keys, 0);

  // One refused value: the others are still written, and the adapter is not called fixed.
  reg.read_only_keys.clear();
  reg.failing_values.insert("WFogEnable");
  output = Capture([&](std::FILE* out) { EnableDriverFog(reg, out); });
  EXPECT_EQ(output, Summary(2, 0));
  EXPECT_EQ(reg.keys[kAdapter0].at("ZFogEnable").bytes, std::string("1\0\0\0", 4));
  EXPECT_EQ(reg.keys[kAdapter1].at("TableFogEnable").bytes, std::string("1\0\0\0", 4));
}

}  // namespace
}  // namespace fogswitch
