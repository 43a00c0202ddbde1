// The steps' cores against fakes of the registry and the game folder, and the key filter.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "driver_fog/driver_fog.h"
#include "game_fog/game_fog.h"
#include "platform/win32/key_wait.h"

namespace fogswitch {
namespace {

using namespace std::string_literals;

// What `print` writes to the stream it is handed.
std::string Capture(const std::function<void(std::FILE*)>& print) {
  std::FILE* out = std::tmpfile();
  print(out);
  std::string text(static_cast<std::size_t>(std::ftell(out)), '\0');
  std::rewind(out);
  text.resize(std::fread(text.data(), 1, text.size(), out));
  std::fclose(out);
  return text;
}

// The registry below HKEY_LOCAL_MACHINE, in memory. It logs the keys opened, with the access
// asked for, and the values set, and fills what a read leaves of the buffer with '#', so text
// taken from past the returned bytes shows in the output. A call on a key that is not open throws.
struct FakeRegistry final : Registry {
  std::map<std::string, std::map<std::string, std::string>> keys;
  std::set<std::string> refused;  // keys that won't open, "key/value"s that can't be set
  std::map<RegHandle, std::string> open;
  std::string log;

  RegStatus RegOpenKeyExA(const char* path, unsigned long access, RegHandle* key) override {
    log += path + " "s + std::to_string(access) + "|";
    if (keys.count(path) == 0 || refused.count(path) != 0) return 2;
    open[*key = open.size() + 7] = path;
    return kRegSuccess;
  }
  RegStatus RegQueryValueExA(RegHandle key, const char* name, unsigned char* data,
                             unsigned long* size) override {
    EXPECT_EQ(*size, 260u);
    const auto value = keys[open.at(key)].find(name);
    if (value == keys[open.at(key)].end() || value->second.size() > *size) return 2;  // or too long
    std::fill_n(data, *size, '#');
    *size = static_cast<unsigned long>(value->second.copy(reinterpret_cast<char*>(data), *size));
    return kRegSuccess;
  }
  RegStatus RegSetValueExA(RegHandle key, const char* name, unsigned long type,
                           const unsigned char* data, unsigned long size) override {
    log += name + "="s + std::to_string(type) + ":" + std::string(data, data + size) + "|";
    return refused.count(open.at(key) + "/" + name) != 0 ? 5 : kRegSuccess;
  }
  RegStatus RegCloseKey(RegHandle key) override {
    open.at(key);  // throws when it is not open
    open.erase(key);
    return kRegSuccess;
  }
};

const char kMap[] = "HARDWARE\\DEVICEMAP\\VIDEO";
const std::string kPrefix = "\\Registry\\Machine\\";
const std::string kAti = "ati2dvag\0\0"s;
const std::string kLongName(260, 'd');

std::string Summary(int found, int modified) {
  return "Video card registry entries found: " + std::to_string(found) +
         "\nVideo card registry entries modified: " + std::to_string(modified) + "\n";
}

// A device map with every kind of slot, numbered 0 to 10.
FakeRegistry Machine() {
  FakeRegistry r;
  auto slot = [&](int i, const std::string& value) {
    r.keys[kMap]["\\Device\\Video" + std::to_string(i)] = value;
  };
  auto adapter = [&](const std::string& key, const std::string& drivers) {
    slot(std::stoi(key.substr(1)), kPrefix + key + '\0');
    if (!drivers.empty()) r.keys[key]["InstalledDisplayDrivers"] = drivers;
  };
  adapter("A0", kAti);
  r.keys["A0"]["Device Description"] = "RADEON %s %d \xe9\0"s;
  slot(1, (kPrefix + "A0").append(261 - 20, '\0'));  // longer than the buffer
  slot(2, kPrefix + '\0');                           // no path after the prefix
  adapter("A4", kAti);
  adapter("A5", "nv4_disp\0ati2dvag\0\0"s);
  // The prefix goes unread, and a failed read leaves no stale "ati" to match.
  slot(6, "ati###############A6");
  r.keys["A6"];
  adapter("A7", "AtI");  // no zero bytes, and no description: the key path stands in
  slot(7, kPrefix + "A7");
  adapter("A8", "at\0i"s);
  adapter("A9", kAti);
  r.refused = {"A4", "A9/WFogEnable"};
  adapter("A10", kAti);
  r.keys[kMap]["\\Device\\Video10"].resize(260, '\0');
  r.keys["A10"]["Device Description"] = kLongName;
  return r;
}

TEST(EnableDriverFog, WritesTheFogValuesOfEveryAtiAdapterAndNothingElse) {
  const std::string map = "HARDWARE\\DEVICEMAP\\VIDEO 1|";
  const std::string fog = "TableFogEnable=3:1\0\0\0|WFogEnable=3:0\0\0\0|ZFogEnable=3:1\0\0\0|"s;
  const std::string first = "RADEON %s %d \xe9 ... fixed.\n";
  const std::string all = first + "A7 ... fixed.\n" + kLongName + " ... fixed.\n";
  const std::string writes =
      "A0 3|" + fog + "A4 3|A5 3|A6 3|A7 3|" + fog + "A8 3|A9 3|" + fog + "A10 3|" + fog;
  const struct {
    std::string highest;  // MaxObjectNumber; "-" for none
    std::string output, log;
  } rows[] = {
      {"\x0a\0\0\0"s, all + Summary(11, 3), map + writes},
      {"\0\0\0\0"s, first + Summary(1, 1), map + "A0 3|" + fog},
      {"\0\1\0\0"s, all + Summary(257, 3), map + writes},
      {"\xff\xff\xff\xff", Summary(0, 0), map},
      {"\xff\xff\xff\x7f", Summary(-2147483647 - 1, 0), map},
      {"\1\0\0"s, Summary(0, 0), map},
      {"-", Summary(0, 0), map},
  };
  for (const auto& row : rows) {
    FakeRegistry registry = Machine();
    registry.keys[kMap]["MaxObjectNumber"] = row.highest;
    if (row.highest == "-") registry.keys[kMap].erase("MaxObjectNumber");
    EXPECT_EQ(Capture([&](std::FILE* out) { EnableDriverFog(registry, out); }), row.output);
    EXPECT_EQ(registry.log, row.log);
    EXPECT_TRUE(registry.open.empty()) << "a key was left open";
  }
}

enum class Fault { kNone, kRead, kResize, kFlush, kClose };

// cam.cfg and its per-user copy before and after a run, each unchanged where "after" is unset.
struct GameRow {
  std::optional<std::string> before{}, after{};
  Fault fault = Fault::kNone;
  std::size_t budget = SIZE_MAX;  // bytes written before a write fails
  std::uint64_t limit = kMaxConfigSize;
  std::optional<std::string> copy{}, copy_after{};
};

// A game folder in memory: cam.cfg and its per-user copy, each there or not. The first one there
// can fail as the row says.
struct FakeFolder final : GameFolder {
  explicit FakeFolder(const GameRow& row)
      : files{row.before, row.copy}, fault(row.fault), budget(row.budget) {}
  std::optional<std::string> files[2];
  Fault fault;
  std::size_t budget;

  bool HasEntryMatching(const char* pattern) override { return pattern == "th*2*.exe"s; }
  std::vector<std::unique_ptr<UpdateFile>> OpenForUpdate(const char* name) override {
    std::vector<std::unique_ptr<UpdateFile>> opened;
    for (auto& file : files) {
      if (file && name == "cam.cfg"s) opened.push_back(std::make_unique<File>(*this, *file));
    }
    return opened;
  }

  struct File final : UpdateFile {
    File(FakeFolder& folder, std::string& bytes)
        : f(folder), data(bytes), faulty(&bytes == &*folder.files[folder.files[0] ? 0 : 1]) {}
    std::optional<std::uint64_t> Size() override { return data.size(); }
    std::optional<std::size_t> Read(char* buffer, std::size_t count) override {
      if (Fails(Fault::kRead)) return std::nullopt;
      const std::size_t got = data.copy(buffer, count, at);
      at += got;
      return got;
    }
    bool WriteAt(std::uint64_t offset, const char* bytes, std::size_t count) override {
      EXPECT_LE(offset + count, data.size()) << "a write past the end it grew the file to";
      const std::size_t n = faulty ? std::min(count, f.budget) : count;
      data.replace(offset, n, bytes, n);
      if (faulty) f.budget = n == count ? f.budget - n : SIZE_MAX;  // one failure; the undo works
      return n == count;
    }
    bool Resize(std::uint64_t length) override {  // a growth that fails may leave part of it
      const bool fails = Fails(Fault::kResize) && length > data.size();
      data.resize(fails ? (data.size() + length) / 2 : length);
      return !fails;
    }
    bool Flush() override { return !Fails(Fault::kFlush); }
    bool Close() override { return !Fails(Fault::kClose); }
    bool Fails(Fault kind) const { return faulty && f.fault == kind; }
    FakeFolder& f;
    std::string& data;
    bool faulty;
    std::size_t at = 0;
  };
};

TEST(EnableGameFog, SwitchesFogOnInCamCfgAndKeepsEveryOtherByte) {
  const std::string trying = "Thief 2 detected. Now trying to enable fog in its cam.cfg ... ";
  const std::string failed =
      trying + "failed!\nPossible reasons: cam.cfg doesn't exist or it's marked as read only.\n";
  const std::string cfg = "a 1\r\nfogging 0\r\n", on = "a 1\r\nfogging 1\r\n";
  const std::vector<GameRow> edits = {
      {.before = "a\r\nfogging 1\r\nb", .fault = Fault::kResize, .budget = 0},
      {.before = "a\r\nfogging \r\nb\r\n", .after = "a\r\nfogging 1\r\nb\r\n"},
      {.before = "a\nfogging \nb\n", .after = "a\nfogging 1\nb\n"},
      {.before = "fogging ", .after = "fogging 1"},
      {.before = "xfogging 0\nfogging 0\n", .after = "xfogging 0\nfogging 1\n"},
      // After a CR LF wins over the first line; only the byte that changes is written.
      {.before = "fogging 0\r\nb\r\nfogging 0\r\nc",
       .after = "fogging 0\r\nb\r\nfogging 1\r\nc",
       .budget = 1},
      {.before = "a\0b\r\nfogging 0\r\n"s, .after = "a\0b\r\nfogging 1\r\n"s},
      {.before = "", .after = "fogging 1\r\n"},
      {.before = "a 1\n", .after = "a 1\nfogging 1\r\n"},
      {.before = "Fogging 0\r\nfogging0\r\na\rfogging 0",
       .after = "Fogging 0\r\nfogging0\r\na\rfogging 0\r\nfogging 1\r\n"},
      {.before = std::string(200000, 'x') + "\r\nfogging 0",
       .after = std::string(200000, 'x') + "\r\nfogging 1"},
      {.before = cfg, .after = on, .limit = cfg.size()},
      {.before = cfg, .after = on, .copy = cfg, .copy_after = on},
  };
  // Each is reported; a file whose edit failed is left as it was.
  const std::vector<GameRow> failures = {
      {},
      {.before = cfg, .fault = Fault::kRead},
      {.before = cfg, .limit = cfg.size() - 1},
      {.before = "a 1", .fault = Fault::kResize},
      {.before = "a 1\r\nb 2", .budget = 5},
      {.before = "fogging \r\nabc\r\n", .budget = 3},
      {.before = cfg, .after = on, .fault = Fault::kClose},
      // The copy's edit stays when the other one fails.
      {.before = cfg, .fault = Fault::kFlush, .copy = cfg, .copy_after = on},
  };
  for (const bool ok : {true, false}) {
    const std::vector<GameRow>& rows = ok ? edits : failures;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      SCOPED_TRACE((ok ? "edit " : "failure ") + std::to_string(i));
      const GameRow& row = rows[i];
      FakeFolder folder(row);
      EXPECT_EQ(Capture([&](std::FILE* out) { EnableGameFog(folder, out, row.limit); }),
                ok ? trying + "successful.\n" : failed);
      const auto after = row.after ? row.after : row.before;
      EXPECT_EQ(folder.files[0], after);
      EXPECT_EQ(folder.files[1], row.copy_after ? row.copy_after : row.copy);
      if (!ok) continue;
      Capture([&](std::FILE* out) { EnableGameFog(folder, out); });
      EXPECT_EQ(folder.files[0], after) << "a second run changed it";
    }
  }
}

// The Windows key wait: how many console reads it makes before it ends.
TEST(WaitForKeyEvent, EndsAtATypedOrExtendedKeyOrAReadOfNothing) {
  struct Read {
    ConsoleEvent event;
    bool ok = true;
    unsigned long count = 1;
  };
  const auto down = [](unsigned short key, char16_t c = 0) { return Read{{true, true, key, c}}; };
  const auto up = [](unsigned short key) { return Read{{true, false, key, 0}}; };
  const Read a = down(0x41, u'a'), focus_or_menu{}, failed{{}, false}, none{{}, true, 0};
  // Among them Shift, Pause, the Windows key; 0x20 and 0x6F carry a character when typed.
  std::vector<Read> skipped = {focus_or_menu, up(0x41)};
  using Keys = std::initializer_list<unsigned short>;
  for (unsigned short key : Keys{0x0B, 0x10, 0x13, 0x20, 0x29, 0x2C, 0x2F, 0x5B, 0x6F, 0x88}) {
    skipped.push_back(down(key));
  }
  struct Row {
    std::string name;
    std::vector<Read> reads;
    std::size_t taken;
  };
  std::vector<Row> rows = {
      {.name = "skipped, then typed", .reads = skipped, .taken = skipped.size() + 1},
      {.name = "a failed read", .reads = {focus_or_menu, failed, a}, .taken = 2},
      {.name = "a read of no event", .reads = {focus_or_menu, none, a}, .taken = 2},
      {.name = "é on an OEM key, UTF-8 console", .reads = {down(0xDE, u'\u00e9'), a}, .taken = 1},
  };
  rows[0].reads.insert(rows[0].reads.end(), {a, a});
  // Clear, Page Up to the down arrow, Insert, Delete, F1 to F24, each with its neighbours.
  for (unsigned short key : Keys{0x0C, 0x21, 0x28, 0x2D, 0x2E, 0x70, 0x87}) {
    rows.push_back(
        {.name = "key " + std::to_string(key), .reads = {up(key), down(key), a}, .taken = 2});
  }
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::size_t taken = 0;
    WaitForKeyEvent([&](ConsoleEvent& event, unsigned long& count) {
      const Read& next = row.reads.at(taken++);  // throws when the wait reads on past them
      event = next.event;
      count = next.count;
      return next.ok;
    });
    EXPECT_EQ(taken, row.taken);
  }
}

}  // namespace
}  // namespace fogswitch
