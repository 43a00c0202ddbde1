// The steps' cores against fakes of the registry and the game folder, the key filter and the
// choice of the per-user copies of cam.cfg.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "driver_fog/driver_fog.h"
#include "game_fog/game_fog.h"
#include "platform/win32/key_wait.h"
#include "platform/win32/user_copies.h"

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
    return open.erase(key) == 1 ? kRegSuccess : throw std::logic_error("closed, but not open");
  }
};

const char kMap[] = "HARDWARE\\DEVICEMAP\\VIDEO";
const std::string kPrefix = "\\Registry\\Machine\\";
const std::string kAti = "ati2dvag\0\0"s;
const std::string kLongName(260, 'd');

// MaxObjectNumber's data: a 4-byte number, least significant byte first.
std::string Dword(std::uint32_t n) { return {char(n), char(n >> 8), char(n >> 16), char(n >> 24)}; }

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
    std::optional<std::string> highest{};  // MaxObjectNumber's data; none when missing
    std::string output, log;
  } rows[] = {
      {.highest = Dword(10), .output = all + Summary(11, 3), .log = map + writes},
      {.highest = Dword(0), .output = first + Summary(1, 1), .log = map + "A0 3|" + fog},
      {.highest = Dword(256), .output = all + Summary(257, 3), .log = map + writes},
      {.highest = Dword(0xFFFFFFFF), .output = Summary(0, 0), .log = map},
      // The count wraps as a 32-bit number would, to the lowest int, which is no slot at all:
      // one past the highest slot must neither walk 2^31 slots nor print another count.
      {.highest = Dword(0x7FFFFFFF), .output = Summary(INT32_MIN, 0), .log = map},
      {.highest = Dword(1).substr(0, 3), .output = Summary(0, 0), .log = map},
      {.output = Summary(0, 0), .log = map},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE("row " + std::to_string(i));
    FakeRegistry registry = Machine();
    if (rows[i].highest) registry.keys[kMap]["MaxObjectNumber"] = *rows[i].highest;
    EXPECT_EQ(Capture([&](std::FILE* out) { EnableDriverFog(registry, out); }), rows[i].output);
    EXPECT_EQ(registry.log, rows[i].log);
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

// A game folder in memory, holding a row's cam.cfg and its per-user copy as "before". The first
// one there can fail as the row says.
struct FakeFolder final : GameFolder, GameRow {
  explicit FakeFolder(const GameRow& row) : GameRow(row) {}

  bool HasEntryMatching(const char* pattern) override { return pattern == "th*2*.exe"s; }
  std::vector<std::unique_ptr<UpdateFile>> OpenForUpdate(const char* name) override {
    std::vector<std::unique_ptr<UpdateFile>> opened;
    for (auto* file : {&before, &copy})
      if (*file && name == "cam.cfg"s) opened.push_back(std::make_unique<File>(*this, **file));
    return opened;
  }

  struct File final : UpdateFile {
    File(FakeFolder& folder, std::string& bytes)
        : f(folder),
          data(bytes),
          faulty(&bytes == &*(folder.before ? folder.before : folder.copy)) {}
    std::optional<std::uint64_t> Size() override { return data.size(); }
    std::optional<std::size_t> Read(char* buffer, std::size_t count) override {
      if (Fails(Fault::kRead)) return std::nullopt;
      return data.copy(buffer, count, std::exchange(at, std::min(at + count, data.size())));
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
      {.before = "fogging 0\r\nfogging 0\r\n", .after = "fogging 0\r\nfogging 1\r\n", .budget = 1},
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
      EXPECT_EQ(folder.before, after);
      EXPECT_EQ(folder.copy, row.copy_after ? row.copy_after : row.copy);
      if (!ok) continue;
      Capture([&](std::FILE* out) { EnableGameFog(folder, out); });
      EXPECT_EQ(folder.before, after) << "a second run changed it";
    }
  }
}

// The Windows key wait reads each row to its end and no further: events it skips, then one that
// ends the wait.
TEST(WaitForKeyEvent, EndsAtATypedOrExtendedKeyOrAReadOfNothing) {
  struct Read {
    ConsoleEvent event;
    bool ok = true;
    unsigned long count = 1;
  };
  const auto key = [](bool down, unsigned short vk, char16_t c = 0) {
    return Read{{true, down, vk, c}};
  };
  const Read focus_or_menu{}, failed{{}, false}, none{{}, true, 0};
  std::vector<std::vector<Read>> rows = {
      {focus_or_menu, key(false, 0x41, u'a')},
      {focus_or_menu, failed},
      {focus_or_menu, none},
      {key(true, 0xDE, u'\u00e9')},  // é on an OEM key, in a UTF-8 console
  };
  // Among them Shift, Pause, the Windows key; 0x20 and 0x6F carry a character when typed.
  using Keys = std::initializer_list<unsigned short>;
  for (unsigned short vk : Keys{0x0B, 0x10, 0x13, 0x20, 0x29, 0x2C, 0x2F, 0x5B, 0x6F, 0x88})
    rows[0].insert(rows[0].end() - 1, key(true, vk));
  rows[0].push_back(key(true, 0x41, u'a'));
  // Clear, Page Up to the down arrow, Insert, Delete, F1 to F24, each with its neighbours above.
  for (unsigned short vk : Keys{0x0C, 0x21, 0x28, 0x2D, 0x2E, 0x70, 0x87})
    rows.push_back({key(false, vk), key(true, vk)});
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE("row " + std::to_string(i));
    std::size_t taken = 0;
    WaitForKeyEvent([&](ConsoleEvent& event, unsigned long& count) {
      const Read& next = rows[i].at(taken++);  // throws when the wait reads on past the row
      std::tie(event, count) = std::tie(next.event, next.count);
      return next.ok;
    });
    EXPECT_EQ(taken, rows[i].size());
  }
}

// Whose per-user copies count, where they lie, and when an opened file is the one asked for.
TEST(UserCopies, AreTheOwnAndTheSessionUsersInTheirProfilesOnTheSystemDrive) {
  const auto shown = [](const std::optional<PathBelow>& p) {
    return p ? p->folder + L"|" + p->rest : L"none";
  };
  const struct {
    unsigned long type;
    std::wstring data;
    std::optional<std::wstring> folder;
  } profiles[] = {
      {2, L"%systemdrive%\\Users\\a\0"s, L"D:\\Users\\a"},
      {1, L"C:\\Users\\%b", L"C:\\Users\\%b"},  // stored without its zero
      {2, L"%USERPROFILE%\\..\\c", {}},
      {7, L"C:\\Users\\d\0\0"s, {}},
      {1, L"\0"s, {}},
  };
  for (const auto& row : profiles)
    EXPECT_EQ(ProfileFolder(row.type, row.data, L"D:\\Windows"), row.folder) << row.data.c_str();

  const Account own{L"S-1-5-21-1", L"P"};
  const struct {
    Account own;
    std::optional<Account> session;
    std::wstring local_app_data;
    std::vector<std::wstring> folders;
  } users[] = {
      {own, Account{L"S-1-5-21-2", L"Q"}, L"L", {L"P|AppData\\Local", L"Q|AppData\\Local"}},
      {{L"S-1-5-21-1", {}}, {}, L"L", {L"L|"}},
      {{L"S-1-5-21-1", {}}, Account{L"S-1-5-21-2", {}}, L"", {}},
      {own, Account{L"s-1-5-21-1", L"Q"}, L"", {L"P|AppData\\Local"}},
      {{L"S-1-5-18", L"P"}, Account{L"S-1-5-20", L"Q"}, L"L", {}},
      {{L"S-1-5-19", L"P"}, Account{L"S-1-5-21-2", L"Q"}, L"L", {L"Q|AppData\\Local"}},
  };
  for (std::size_t i = 0; i < std::size(users); ++i) {
    std::vector<std::wstring> folders;
    for (const auto& folder :
         LocalDataFolders(users[i].own, users[i].session, users[i].local_app_data))
      folders.push_back(shown(folder));
    EXPECT_EQ(folders, users[i].folders) << "users row " << i;
  }

  const std::wstring store = L"AppData\\Local\\VirtualStore\\";
  const struct {
    std::wstring folder;
    std::wstring copy;
    PathBelow local_data{L"P", L"AppData\\Local"};
  } copies[] = {
      {L"c:\\Program Files\\Thief 2\\", L"P|" + store + L"Program Files\\Thief 2\\cam.cfg"},
      {L"C:\\", L"P|" + store + L"cam.cfg"},
      {L"C:\\Games", L"L|VirtualStore\\Games\\cam.cfg", {L"L", L""}},
      {L"D:\\Games", L"none"},
      {L"\\\\server\\share\\Games", L"none"},
      {L"C:Games", L"none"},
  };
  for (const auto& row : copies) {
    EXPECT_EQ(shown(VirtualStoreCopy(row.folder, L"C:\\Windows", row.local_data, L"cam.cfg")),
              row.copy)
        << row.folder.c_str();
  }

  // A game folder entered by one path, its final path another: the copies of both, once.
  const struct {
    std::wstring entered, final_path;
    std::vector<std::wstring> folders;
  } real[] = {
      {L"C:\\Games\\T2", L"\\\\?\\c:\\games\\t2", {L"C:\\Games\\T2"}},
      {L"C:\\T2", L"\\\\?\\C:\\Program Files\\T2", {L"C:\\T2", L"C:\\Program Files\\T2"}},
      {L"S:\\", L"\\\\?\\D:\\", {L"S:\\", L"D:\\"}},
      {L"C:\\T2", L"\\\\?\\UNC\\server\\T2", {L"C:\\T2"}},
      {L"C:\\T2", L"", {L"C:\\T2"}},
  };
  for (const auto& row : real) EXPECT_EQ(GameFolderPaths(row.entered, row.final_path), row.folders);

  // Where no final path can be told: each level below the folder as itself and as its path leads
  // (">"), one of them changed, missing or none.
  const std::map<std::wstring, Opened> down = {{L"a", {1, 10}},
                                               {L"a>", {1, 10}},
                                               {L"a\\b", {1, 11}},
                                               {L"a\\b>", {1, 11}},
                                               {L"a\\b\\c", {1, 12}}};
  const std::pair<std::wstring, std::optional<Opened>> changes[] = {{L"a", Opened{1, 10, true}},
                                                                    {L"a\\b", Opened{1, 13}},
                                                                    {L"a\\b>", Opened{2, 11}},
                                                                    {L"a\\b\\c", Opened{2, 12}},
                                                                    {L"a", {}},
                                                                    {L"a\\b>", {}},
                                                                    {L"", {}}};
  for (const auto& [changed, to] : changes) {
    auto levels = down;
    to ? void(levels[changed] = *to) : void(levels.erase(changed));
    const auto open = [&](const std::wstring& full, bool as_itself) -> std::optional<Opened> {
      const auto level = levels.find(full + (as_itself ? L"" : L">"));
      if (level == levels.end()) return std::nullopt;
      return level->second;
    };
    EXPECT_EQ(NoLinkBelow({L"", L"a\\b\\c"}, {1, 12}, open), changed.empty()) << changed.c_str();
  }

  const std::pair<std::wstring, std::wstring> extended[] = {
      {L"C:\\", L"\\\\?\\C:\\"},
      {L"\\\\server\\share\\a", L"\\\\?\\UNC\\server\\share\\a"},
      {L"\\\\?\\C:\\a", L"\\\\?\\C:\\a"},
  };
  for (const auto& [full, path] : extended) EXPECT_EQ(ExtendedLengthPath(full), path);

  const std::wstring volume = L"\\Device\\HarddiskVolume2\\";
  EXPECT_TRUE(IsFinalPathOf(volume + L"GAMES\\t2\\Cam.cfg", volume + L"games", L"t2\\cam.cfg"));
  EXPECT_TRUE(IsFinalPathOf(volume + L"cam.cfg", volume, L"cam.cfg"));
  EXPECT_FALSE(IsFinalPathOf(volume + L"Windows\\cam.cfg", volume + L"Games", L"cam.cfg"));
}

}  // namespace
}  // namespace fogswitch
