// Runs fogswitch.exe under Wine against the real Win32 registry, file and console API, in a
// throwaway prefix that is booted once for the whole run.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>

#include "tests/support/output.h"
#include "tests/support/process.h"

namespace fogswitch {
namespace {

using namespace fogswitch::testing;

class WinePrefix : public ::testing::Environment {
 public:
  void SetUp() override {
    prefix_ = std::make_unique<TempDir>();
    setenv("WINEPREFIX", prefix_->path().c_str(), 1);
    setenv("WINEDEBUG", "-all", 1);
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);  // no Mono or Gecko set-up
    // One server from set-up to the last check: the device map is volatile and dies with it.
    const Outcome server = RunDetached(
        {{"/bin/sh", "-c", "wineserver -p </dev/null >/dev/null 2>&1"}, prefix_->path()});
    ASSERT_EQ(server.exit_code, 0);
    const Outcome boot = RunDetached({{"wine", "wineboot", "-i"}, prefix_->path()}, 300000);
    ASSERT_EQ(boot.exit_code, 0) << boot.err;
  }
  void TearDown() override {
    RunDetached({{"wineserver", "-k"}, prefix_->path()});
    prefix_.reset();
  }

 private:
  std::unique_ptr<TempDir> prefix_;
};

const auto* const kWinePrefix = ::testing::AddGlobalTestEnvironment(new WinePrefix);

Outcome RunFogswitch(const std::filesystem::path& dir) {
  return RunDetached({{"wine", FOGSWITCH_WINDOWS_EXE}, dir});
}

// --- registry -----------------------------------------------------------------------------

const std::string kTestRoot = "System\\FogswitchTest";

std::string RegText(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

std::string Slot(int number, const std::string& key_path) {
  return RegText("\\Device\\Video" + std::to_string(number)) + "=" +
         RegText("\\Registry\\Machine\\" + key_path) + "\n";
}

std::string MaxObjectNumber(unsigned value) {
  char line[64];
  std::snprintf(line, sizeof line, "\"MaxObjectNumber\"=dword:%08x\n", value);
  return line;
}

// An adapter key below the test root with its driver list (REG_MULTI_SZ) and description.
std::string Adapter(const std::string& name, const std::vector<std::string>& drivers,
                    const std::string& description) {
  std::string multi_sz;
  for (const auto& driver : drivers) multi_sz += driver + '\0';
  multi_sz += '\0';
  std::ostringstream section;
  section << "\n[HKEY_LOCAL_MACHINE\\" << kTestRoot << "\\" << name << "]\n"
          << "\"InstalledDisplayDrivers\"=hex(7):";
  for (std::size_t i = 0; i < multi_sz.size(); ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(multi_sz[i]));
    section << (i ? "," : "") << hex;
  }
  section << "\n";
  if (!description.empty()) section << "\"Device Description\"=" << RegText(description) << "\n";
  return section.str();
}

std::string Key(const std::string& adapter) { return kTestRoot + "\\" + adapter; }

// Replaces the device map's values and the test adapters. The map key itself is volatile and
// is never deleted, only its values.
void SetUpRegistry(const std::string& map_values, const std::string& adapters) {
  std::string reg = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\VIDEO]\n";
  reg += "\"MaxObjectNumber\"=-\n";
  for (int i = 0; i < 4; ++i) reg += RegText("\\Device\\Video" + std::to_string(i)) + "=-\n";
  reg += map_values;
  reg += "\n[-HKEY_LOCAL_MACHINE\\" + kTestRoot + "]\n" + adapters;
  TempDir dir;
  WriteBytes(dir.path() / "setup.reg", WithCrLf(reg));
  const Outcome imported = RunDetached({{"wine", "regedit", "/S", "setup.reg"}, dir.path()});
  ASSERT_EQ(imported.exit_code, 0) << imported.err;
}

// The values of a key as `reg query` shows them: name -> "TYPE DATA".
std::map<std::string, std::string> QueryKey(const std::string& key) {
  const Outcome query = RunDetached({{"wine", "reg", "query", "HKLM\\" + key}, "/"});
  std::map<std::string, std::string> values;
  std::istringstream lines(query.out);
  std::string line;
  const std::regex value(R"(^    (.*?)    (REG_\w+)    ?(.*?)\r?$)");
  while (std::getline(lines, line)) {
    std::smatch match;
    if (std::regex_match(line, match, value))
      values[match[1]] = match[2].str() + " " + match[3].str();
  }
  return values;
}

TEST(WineRegistry, FixesExactlyTheAtiAdaptersThatTheDeviceMapNames) {
  const std::string ati = "ati2dvag";
  const struct {
    const char* name;
    std::string map_values;
    std::string adapters;
    std::string output;
    std::vector<std::string> fixed;
    std::vector<std::string> untouched;
  } cases[] = {
      {"one ATI adapter",
       MaxObjectNumber(0) + Slot(0, Key("A0")),
       Adapter("A0", {ati}, "RADEON 9800 PRO"),
       "RADEON 9800 PRO ... fixed.\n" + Summary(1, 1),
       {"A0"},
       {}},
      {"two ATI adapters",
       MaxObjectNumber(1) + Slot(0, Key("A0")) + Slot(1, Key("A1")),
       Adapter("A0", {ati}, "RADEON 9800 PRO") + Adapter("A1", {"ati3duag", ati}, "RADEON X800"),
       "RADEON 9800 PRO ... fixed.\nRADEON X800 ... fixed.\n" + Summary(2, 2),
       {"A0", "A1"},
       {}},
      {"ATI only as a later driver",
       MaxObjectNumber(0) + Slot(0, Key("A0")),
       Adapter("A0", {"nv4_disp", ati}, "GeForce"),
       Summary(1, 0),
       {},
       {"A0"}},
      {"mixed-case driver name",
       MaxObjectNumber(0) + Slot(0, Key("A0")),
       Adapter("A0", {"AtI2dvag"}, "Mobility RADEON"),
       "Mobility RADEON ... fixed.\n" + Summary(1, 1),
       {"A0"},
       {}},
      {"missing slots and a missing key",
       MaxObjectNumber(3) + Slot(1, Key("Nowhere")) + Slot(2, Key("A2")),
       Adapter("A2", {ati}, "RADEON 7000"),
       "RADEON 7000 ... fixed.\n" + Summary(4, 1),
       {"A2"},
       {}},
      {"slot value over 260 bytes",
       MaxObjectNumber(1) + Slot(0, Key(std::string(250, 'x'))) + Slot(1, Key("A1")),
       Adapter("A1", {ati}, "RADEON 9600"),
       "RADEON 9600 ... fixed.\n" + Summary(2, 1),
       {"A1"},
       {}},
      {"no description",
       MaxObjectNumber(0) + Slot(0, Key("A0")),
       Adapter("A0", {ati}, ""),
       Key("A0") + " ... fixed.\n" + Summary(1, 1),
       {"A0"},
       {}},
      {"MaxObjectNumber 0xFFFFFFFF",
       MaxObjectNumber(0xFFFFFFFF) + Slot(0, Key("A0")),
       Adapter("A0", {ati}, "RADEON"),
       Summary(0, 0),
       {},
       {"A0"}},
      {"no MaxObjectNumber, as Wine's own map",
       Slot(0, Key("A0")),
       Adapter("A0", {ati}, "RADEON"),
       Summary(0, 0),
       {},
       {"A0"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUpRegistry(c.map_values, c.adapters);
    TempDir dir;
    const Outcome run = RunFogswitch(dir.path());
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(AfterBanner(run.out), WithCrLf(c.output + kPrompt.c_str()));
    for (const auto& adapter : c.fixed) {
      const auto values = QueryKey(Key(adapter));
      EXPECT_EQ(values.count("TableFogEnable") ? values.at("TableFogEnable") : "",
                "REG_BINARY 31000000")
          << adapter;
      EXPECT_EQ(values.count("WFogEnable") ? values.at("WFogEnable") : "", "REG_BINARY 30000000")
          << adapter;
      EXPECT_EQ(values.count("ZFogEnable") ? values.at("ZFogEnable") : "", "REG_BINARY 31000000")
          << adapter;
    }
    for (const auto& adapter : c.untouched) {
      const auto values = QueryKey(Key(adapter));
      EXPECT_EQ(values.size(), values.count("Device Description") + 1) << adapter << " was changed";
    }
  }
}

// --- game folder --------------------------------------------------------------------------

TEST(WineGameFolder, FindsTheGameByItsExecutableName) {
  SetUpRegistry("", "");
  const struct {
    const char* marker;
    bool detected;
  } cases[] = {{"th2.exe", true},
               {"TH2.EXE", true},
               {"th_x2y.exe", true},
               {"thx.exe", false},
               {"ath2.exe", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.marker);
    TempDir dir;
    WriteBytes(dir.path() / c.marker, "MZ");
    WriteBytes(dir.path() / "cam.cfg", "fogging 0\r\n");
    const Outcome run = RunFogswitch(dir.path());
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(AfterBanner(run.out),
              WithCrLf(kSummary + (c.detected ? kTrying + "successful.\n" : "") + kPrompt));
    EXPECT_EQ(ReadBytes(dir.path() / "cam.cfg"), c.detected ? "fogging 1\r\n" : "fogging 0\r\n");
  }
}

TEST(WineGameFolder, EditsCamCfgByteForByte) {
  using namespace std::string_literals;
  const struct {
    std::string before;
    std::string after;
  } cases[] = {
      {"a 1\r\nfogging 0\r\nb 2\r\n", "a 1\r\nfogging 1\r\nb 2\r\n"},
      {"fogging 0\r\nb 2\r\n", "fogging 1\r\nb 2\r\n"},
      {"a 1\nfogging 0\n", "a 1\nfogging 1\n"},
      {"a 1\r\nfogging \r\n", "a 1\r\nfogging 1\r\n"},
      {"a 1\r\nb 2", "a 1\r\nb 2\r\nfogging 1\r\n"},
      {"", "fogging 1\r\n"},
      {"a\0b\r\nfogging 1\r\n"s, "a\0b\r\nfogging 1\r\n"s},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.before));
    TempDir dir;
    WriteBytes(dir.path() / "th2.exe", "MZ");
    WriteBytes(dir.path() / "cam.cfg", c.before);
    const Outcome run = RunFogswitch(dir.path());
    EXPECT_EQ(AfterBanner(run.out), WithCrLf(kSummary + kTrying + "successful.\n" + kPrompt));
    EXPECT_EQ(ReadBytes(dir.path() / "cam.cfg"), c.after);
  }
}

TEST(WineGameFolder, CamCfgThatCantBeWrittenOrIsMissingIsReportedAndUntouched) {
  // The build folder is on a disk that takes the immutable flag; as root it is the only refusal.
  TempDir dir(std::filesystem::current_path());
  WriteBytes(dir.path() / "th2.exe", "MZ");
  const std::string expected = WithCrLf(kSummary + kTrying + kFailed + kPrompt);

  Outcome run = RunFogswitch(dir.path());
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(AfterBanner(run.out), expected);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "cam.cfg")) << "cam.cfg must not be created";

  const auto cam_cfg = dir.path() / "cam.cfg";
  WriteBytes(cam_cfg, "fogging 0\r\n");
  ASSERT_EQ(RunDetached({{"chattr", "+i", cam_cfg.string()}, "/"}).exit_code, 0);
  run = RunFogswitch(dir.path());
  RunDetached({{"chattr", "-i", cam_cfg.string()}, "/"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(AfterBanner(run.out), expected);
  EXPECT_EQ(ReadBytes(cam_cfg), "fogging 0\r\n");
}

// --- console ------------------------------------------------------------------------------

TEST(WineConsole, PromptShowsBeforeTheKeyAndTheseKeysEndTheWait) {
  const struct {
    const char* name;
    const char* keys;
  } cases[] = {{"letter", "x"}, {"up arrow", "\x1b[A"}, {"Insert", "\x1b[2~"}, {"F1", "\x1bOP"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    PtyRun run({{"wine", FOGSWITCH_WINDOWS_EXE}, dir.path()});
    ASSERT_TRUE(run.WaitFor(kPrompt, 60000)) << run.screen();
    EXPECT_TRUE(run.StillRunningAfter(500)) << "ended before a key was pressed";
    run.Type(c.keys);
    EXPECT_EQ(run.WaitExit(), 0);
  }
}

}  // namespace
}  // namespace fogswitch
