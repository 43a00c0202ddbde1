// The steps' cores against fakes of the registry and the game folder, the key filter and the
// choice of the per-user copies of cam.cfg.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <tuple>
#include <vector>

#include "driver_fog/driver_fog.h"
#include "game_fog/game_fog.h"
#include "platform/ascii.h"
#include "platform/win32/copy_rules.h"
#include "platform/win32/key_rules.h"
#include "platform/win32/path_rules.h"

namespace fogswitch {
namespace {

using namespace std::string_literals;

// A table's rows: each its name, shown when it fails, then its columns.
template <typename... Columns>
using Rows = std::vector<std::tuple<const char*, Columns...>>;

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

// The registry below HKEY_LOCAL_MACHINE, in memory. Its log has an entry, ended by "|", for each
// key opened, "path access" (the access mask: 1 to query, 3 to query and set), and each value set,
// "name=type:bytes" (type 3 is REG_BINARY). A read fills what it leaves of the buffer with '#', so
// text taken from past the returned bytes shows in the output. A call on a key not open throws.
struct FakeRegistry final : Registry {
  std::map<std::string, std::map<std::string, std::string>> keys;
  std::set<std::string> refused;  // keys that won't open, "key/value"s that can't be set
  std::map<RegHandle, std::string> open;
  RegHandle last_handle = 6;
  std::string log;

  RegStatus OpenKey(const char* path, unsigned long access, RegHandle* key) override {
    log += path + " "s + std::to_string(access) + "|";
    if (keys.count(path) == 0 || refused.count(path) != 0) return 2;
    *key = ++last_handle;
    open[*key] = path;
    return kRegSuccess;
  }
  RegStatus QueryValue(RegHandle key, const char* name, unsigned char* data,
                       unsigned long* size) override {
    EXPECT_EQ(*size, kRegistryDataSize);
    const auto value = keys[open.at(key)].find(name);
    if (value == keys[open.at(key)].end() || value->second.size() > *size) return 2;  // or too long
    std::fill_n(data, *size, '#');
    *size = static_cast<unsigned long>(value->second.copy(reinterpret_cast<char*>(data), *size));
    return kRegSuccess;
  }
  RegStatus SetValue(RegHandle key, const char* name, unsigned long type, const unsigned char* data,
                     unsigned long size) override {
    log += name + "="s + std::to_string(type) + ":" + std::string(data, data + size) + "|";
    return refused.count(open.at(key) + "/" + name) != 0 ? 5 : kRegSuccess;
  }
  RegStatus CloseKey(RegHandle key) override {
    if (open.erase(key) != 1) throw std::logic_error("closed, but not open");
    return kRegSuccess;
  }
};

const char kMap[] = "HARDWARE\\DEVICEMAP\\VIDEO";
// MaxObjectNumber's data: a 4-byte number, least significant byte first.
std::string Dword(std::uint32_t n) { return {char(n), char(n >> 8), char(n >> 16), char(n >> 24)}; }

std::string Summary(int found, int modified) {
  return "Video card registry entries found: " + std::to_string(found) +
         "\nVideo card registry entries modified: " + std::to_string(modified) + "\n";
}

// The adapter keys that the rows' device slots point to.
FakeRegistry Adapters() {
  const std::string ati = "ati2dvag\0\0"s;
  FakeRegistry r;
  r.keys["ATI"] = {{"InstalledDisplayDrivers", ati},
                   {"Device Description", "RADEON %s %d \xe9\0"s}};
  r.keys["Nv"] = {{"InstalledDisplayDrivers", "nv4_disp\0ati2dvag\0\0"s}};
  r.keys["AtI"] = {{"InstalledDisplayDrivers", "AtI"}};  // no zero byte, and no description
  r.keys["Refused"] = r.keys["NoW"] = {{"InstalledDisplayDrivers", ati}};
  r.keys["Full"] = {{"InstalledDisplayDrivers", ati},
                    {"Device Description", std::string(kRegistryDataSize, 'd')}};
  r.keys["NoValues"];
  r.refused = {"Refused", "NoW/WFogEnable"};
  return r;
}

// A device slot's value: the kernel's path of an adapter key.
std::string To(const std::string& key) { return "\\Registry\\Machine\\" + key + '\0'; }

// Data padded with zero bytes to `size` bytes.
std::string Padded(std::string data, std::size_t size) {
  return data.append(size - data.size(), '\0');
}

TEST(EnableDriverFog, WritesTheFogValuesOfEveryAtiAdapterAndNothingElse) {
  const std::string map = "HARDWARE\\DEVICEMAP\\VIDEO 1|";
  const std::string fog = "TableFogEnable=3:1\0\0\0|WFogEnable=3:0\0\0\0|ZFogEnable=3:1\0\0\0|"s;
  const std::string radeon = "RADEON %s %d \xe9 ... fixed.\n", ati = "ATI 3|" + fog;
  // MaxObjectNumber's data (none when missing), the slots' values (empty when missing), the
  // output and the log of the registry. The native end-to-end run has no device map at all.
  const Rows<std::optional<std::string>, std::vector<std::string>, std::string, std::string> rows =
      {
          {"an ATI adapter, its description byte for byte",
           Dword(0),
           {To("ATI")},
           radeon + Summary(1, 1),
           map + ati},
          {"two of them, a slot between without a value",
           Dword(2),
           {To("ATI"), "", To("ATI")},
           radeon + radeon + Summary(3, 2),
           map + ati + ati},
          {"another maker's driver first", Dword(0), {To("Nv")}, Summary(1, 0), map + "Nv 3|"},
          {"ATI in other letter case, no zero, no description",
           Dword(0),
           {"\\Registry\\Machine\\AtI"},
           "AtI ... fixed.\n" + Summary(1, 1),
           map + "AtI 3|" + fog},
          {"a key that won't open", Dword(0), {To("Refused")}, Summary(1, 0), map + "Refused 3|"},
          {"a value that can't be set", Dword(0), {To("NoW")}, Summary(1, 0), map + "NoW 3|" + fog},
          {"a path longer than the buffer",
           Dword(0),
           {Padded(To("ATI"), kRegistryDataSize + 1)},
           Summary(1, 0),
           map},
          {"no path after the prefix", Dword(0), {To("")}, Summary(1, 0), map},
          {"values that fill the buffer",
           Dword(0),
           {Padded(To("Full"), kRegistryDataSize)},
           std::string(kRegistryDataSize, 'd') + " ... fixed.\n" + Summary(1, 1),
           map + "Full 3|" + fog},
          // The prefix goes unread, and the failed read leaves no stale "ati" to match.
          {"a failed read after an ati read",
           Dword(1),
           {To("ATI"), "ati###############NoValues"},
           radeon + Summary(2, 1),
           map + ati + "NoValues 3|"},
          {"no slot", Dword(0xFFFFFFFF), {To("ATI")}, Summary(0, 0), map},
          {"the highest int", Dword(0x7FFFFFFF), {To("ATI")}, Summary(INT32_MIN, 0), map},
          {"no number", {}, {To("ATI")}, Summary(0, 0), map},
          {"a number shorter than 4 bytes", "\x01"s, {To("ATI"), To("ATI")}, Summary(0, 0), map},
      };
  for (const auto& [name, highest, slots, output, log] : rows) {
    SCOPED_TRACE(name);
    FakeRegistry registry = Adapters();
    auto& device_map = registry.keys[kMap];
    if (highest) device_map["MaxObjectNumber"] = *highest;
    for (std::size_t i = 0; i < slots.size(); ++i) {
      if (!slots[i].empty()) device_map["\\Device\\Video" + std::to_string(i)] = slots[i];
    }
    EXPECT_EQ(Capture([&](std::FILE* out) { EnableDriverFog(registry, out); }), output);
    EXPECT_EQ(registry.log, log);
    EXPECT_TRUE(registry.open.empty()) << "a key was left open";
  }
}

enum class Fault { kNone, kSize, kRead, kMemory };

// A run in a game folder: cam.cfg and its per-user copy before and after, each unchanged where
// "after" is unset, and whether the run reports success.
struct GameRow {
  const char* name;
  bool ok = true;
  std::optional<std::string> before{}, after{};
  Fault fault = Fault::kNone;  // of cam.cfg, once each time it is opened
  std::size_t fail_at = 0;     // which of cam.cfg's grows, writes and flushes fails, from 1
  bool close_fails = false;
  std::uint64_t limit = kMaxConfigSize;
  std::optional<std::string> copy{}, copy_after{};
  bool copy_unknown = false;  // a per-user copy that can't be looked for
};

// A file's bytes as programs read them, and as they are on the disk: a flush puts them there,
// even one that fails. Its grows, writes and flushes are counted, and the bytes written.
struct Stored {
  std::string data, disk;
  std::size_t calls = 0, written = 0;
};

// A game folder in memory, holding a row's cam.cfg and its per-user copy. cam.cfg fails as the
// row says: its fault once each time it is opened, and its fail_at-th grow, write or flush, which
// does half its work, rounded up.
struct FakeFolder final : GameFolder {
  explicit FakeFolder(const GameRow& game_row) : row(game_row) {
    if (row.before) own = Stored{*row.before, *row.before};
    if (row.copy) copy = Stored{*row.copy, *row.copy};
  }

  bool HasEntryMatching(const char*) override { return true; }
  std::vector<std::unique_ptr<UpdateFile>> OpenForUpdate(const char* name) override {
    EXPECT_EQ(name, "cam.cfg"s);
    std::vector<std::unique_ptr<UpdateFile>> opened;
    if (own)
      opened.push_back(std::make_unique<File>(*own, row.fault, row.fail_at, row.close_fails));
    if (copy) opened.push_back(std::make_unique<File>(*copy, Fault::kNone, 0, false));
    if (row.copy_unknown) opened.push_back(nullptr);
    return opened;
  }

  struct File final : UpdateFile {
    File(Stored& bytes, Fault fails, std::size_t failing_call, bool closing_fails)
        : stored(bytes), fault(fails), fail_at(failing_call), close_fails(closing_fails) {}
    std::optional<std::uint64_t> Size() override {
      if (Fails(Fault::kSize)) return std::nullopt;
      return stored.data.size();
    }
    std::optional<std::size_t> Read(char* buffer, std::size_t count) override {
      if (Fails(Fault::kRead)) return std::nullopt;
      if (Fails(Fault::kMemory)) throw std::bad_alloc();
      const std::size_t got = stored.data.copy(buffer, count, at);
      at += got;
      return got;
    }
    bool WriteAt(std::uint64_t offset, const char* bytes, std::size_t count) override {
      EXPECT_LE(offset + count, stored.data.size()) << "a write past the end it grew the file to";
      const bool fails = Meets();
      const std::size_t n = fails ? count / 2 : count;
      stored.data.replace(offset, n, bytes, n);
      stored.written += n;
      return !fails;
    }
    bool Resize(std::uint64_t length) override {
      const bool fails = Meets();
      stored.data.resize(fails ? (stored.data.size() + length + 1) / 2 : length);
      return !fails;
    }
    bool Flush() override {
      stored.disk = stored.data;
      return !Meets();
    }
    bool Close() override { return !close_fails; }

    bool Fails(Fault kind) {
      if (fault != kind) return false;
      fault = Fault::kNone;
      return true;
    }
    bool Meets() { return ++stored.calls == fail_at; }
    Stored& stored;
    Fault fault;
    std::size_t fail_at;
    bool close_fails;
    std::size_t at = 0;
  };

  const GameRow& row;
  std::optional<Stored> own, copy;
};

// What a file holds after a run, read and on the disk alike.
std::optional<std::string> Kept(const std::optional<Stored>& file) {
  if (!file) return std::nullopt;
  EXPECT_EQ(file->data, file->disk) << "not all of it is on the disk";
  return file->data;
}

const std::string kTrying = "Thief 2 detected. Now trying to enable fog in its cam.cfg ... ";
const std::string kDone = kTrying + "successful.\n";
const std::string kFailed =
    kTrying + "failed!\nPossible reasons: cam.cfg doesn't exist or it's marked as read only.\n";

TEST(EnableGameFog, SwitchesFogOnInCamCfgAndKeepsEveryOtherByte) {
  const std::string cfg = "a 1\r\nfogging 0\r\n", on = "a 1\r\nfogging 1\r\n";
  const std::string big = std::string(200000, 'x') + "\r\n";
  using enum Fault;
  const GameRow rows[] = {
      // Any grow, write or flush would fail, and none is made.
      {.name = "fog on already", .before = "a\r\nfogging 1", .fail_at = 1},
      {.name = "an empty file", .before = "", .after = "fogging 1\r\n"},
      {.name = "an empty value on a CR LF line", .before = "a 1\r\nfogging \r\n", .after = on},
      {.name = "a last line ended by LF", .before = "a 1\n", .after = "a 1\nfogging 1\r\n"},
      {.name = "inside another line",
       .before = "nofogging 0",
       .after = "nofogging 0\r\nfogging 1\r\n"},
      {.name = "longer than one read", .before = big + "fogging 0", .after = big + "fogging 1"},
      {.name = "of the largest size", .before = cfg, .after = on, .limit = cfg.size()},
      // Each failure is reported; a file whose edit failed is left as it was.
      {.name = "no cam.cfg", .ok = false},
      {.name = "a read fails", .ok = false, .before = cfg, .fault = kRead},
      {.name = "memory runs out", .ok = false, .before = cfg, .fault = kMemory},
      {.name = "too large", .ok = false, .before = cfg, .limit = cfg.size() - 1},
      {.name = "too large, size unknown", .ok = false, .before = cfg, .fault = kSize, .limit = 1},
      {.name = "closing fails", .ok = false, .before = cfg, .after = on, .close_fails = true},
      {.name = "a flush fails, but the copy's edit stays",
       .ok = false,
       .before = cfg,
       .fail_at = 2,
       .copy = cfg,
       .copy_after = on},
      {.name = "a copy's place unknown",
       .ok = false,
       .before = cfg,
       .after = on,
       .copy_unknown = true},
  };
  for (const GameRow& row : rows) {
    SCOPED_TRACE(row.name);
    FakeFolder folder(row);
    const std::string output =
        Capture([&](std::FILE* out) { EnableGameFog(folder, out, row.limit); });
    EXPECT_EQ(output, row.ok ? kDone : kFailed);
    const auto after = row.after ? row.after : row.before;
    EXPECT_EQ(Kept(folder.own), after);
    EXPECT_EQ(Kept(folder.copy), row.copy_after ? row.copy_after : row.copy);
    if (!row.ok) continue;
    Capture([&](std::FILE* out) { EnableGameFog(folder, out); });
    EXPECT_EQ(Kept(folder.own), after) << "a second run changed it";
  }
}

// Fails the first grow, write or flush of cam.cfg, then the second, and so on, until a run meets
// no failure: each failing run leaves the file as it was, and the last one edits it, writing
// only the bytes that change or move.
TEST(EnableGameFog, LeavesCamCfgAsItWasWhereverAWriteFails) {
  const std::string off = "fogging 0\r\n";
  const Rows<std::string, std::string, std::size_t> rows = {
      // The line after a CR LF, not the first line.
      {"the value's byte replaced", off + "a 1\r\n" + off, off + "a 1\r\nfogging 1\r\n", 1},
      {"the value inserted, the tail moved", "a\nfogging \nb\n", "a\nfogging 1\nb\n", 4},
  };
  for (const auto& [name, before, after, written] : rows) {
    for (std::size_t k = 1;; ++k) {
      SCOPED_TRACE(name + " with call "s + std::to_string(k) + " failing");
      const GameRow row{.name = name, .before = before, .fail_at = k};
      FakeFolder folder(row);
      const std::string output = Capture([&](std::FILE* out) { EnableGameFog(folder, out); });
      if (folder.own->calls < k) {
        EXPECT_EQ(output, kDone);
        EXPECT_EQ(Kept(folder.own), after);
        EXPECT_EQ(folder.own->written, written);
        break;
      }
      EXPECT_EQ(output, kFailed);
      EXPECT_EQ(Kept(folder.own), before);
    }
  }
}

// The Windows key wait reads each row to its end and no further: the events it skips, then the
// one that ends the wait.
TEST(WaitForKeyOn, EndsAtATypedOrExtendedKeyOrAReadOfNothing) {
  struct Read {
    ConsoleEvent event;
    bool ok = true;
    unsigned long count = 1;
  };
  const auto up = [](unsigned short vk, char16_t c = 0) { return Read{{true, false, vk, c}}; };
  const auto down = [](unsigned short vk, char16_t c = 0) { return Read{{true, true, vk, c}}; };
  const Read focus{};
  const Rows<std::vector<Read>> rows = {
      // Among them Shift, Pause and the Windows key; 0x20 and 0x6F carry a character when typed.
      {"a typed key, after a release and keys that type nothing",
       {focus, up(0x41, u'a'), down(0x0B), down(0x10), down(0x13), down(0x20), down(0x29),
        down(0x2C), down(0x2F), down(0x5B), down(0x6F), down(0x88), down(0x41, u'a')}},
      {"a read that fails", {focus, Read{{}, false}}},
      {"a read of no event", {focus, Read{{}, true, 0}}},
      // Each key with an extended code, or each end of a range of them, ends the wait itself.
      {"Clear", {down(0x0C)}},
      {"Page Up", {down(0x21)}},
      {"the down arrow", {down(0x28)}},
      {"Insert", {down(0x2D)}},
      {"Delete", {down(0x2E)}},
      {"F1", {down(0x70)}},
      {"F24", {down(0x87)}},
  };
  for (const auto& [name, reads] : rows) {
    SCOPED_TRACE(name);
    std::size_t taken = 0;
    const auto read = [&](ConsoleEvent& event, unsigned long& count) {
      const Read& next = reads.at(taken);  // throws when the wait reads on past the row
      ++taken;
      event = next.event;
      count = next.count;
      return next.ok;
    };
    WaitForKeyOn({[] { return std::optional<unsigned long>(); }, [](unsigned long) {}, read});
    EXPECT_EQ(taken, reads.size());
  }
}

// The input mode is 0 while the wait reads; the one read before is put back after.
TEST(WaitForKeyOn, PutsBackTheInputModeItRead) {
  const Rows<std::optional<unsigned long>, std::string> rows = {
      {"a mode read", 7, "0 read 7 "},
      {"none read", {}, "0 read "},
  };
  for (const auto& [name, mode, calls] : rows) {
    SCOPED_TRACE(name);
    std::string log;
    WaitForKeyOn({[&] { return mode; }, [&](unsigned long to) { log += std::to_string(to) + " "; },
                  [&](ConsoleEvent&, unsigned long&) {
                    log += "read ";
                    return false;
                  }});
    EXPECT_EQ(log, calls);
  }
}

// As the file system compares names, for ASCII names: letter case aside.
bool SameName(std::wstring_view a, std::wstring_view b) { return SameAscii(a, b); }

TEST(ProfileFolder, IsTheStoredPathWithOnlyTheSystemDriveExpanded) {
  const Rows<unsigned long, std::wstring, std::optional<std::wstring>> rows = {
      {"the system drive, in any case", 2, L"%systemdrive%\\Users\\a\0"s, L"D:\\Users\\a"},
      {"stored without its zero, a % kept as it is", 1, L"C:\\Users\\%b", L"C:\\Users\\%b"},
      {"another variable", 2, L"%USERPROFILE%\\..\\c", {}},
      {"not a string", 3, L"C:\\Users\\a", {}},
  };
  for (const auto& [name, type, data, folder] : rows) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ProfileFolder(type, data, L"D:\\Windows"), folder);
  }
}

TEST(SessionUserSid, IsTheOneTheSessionsLogonsHoldOrThatOfItsName) {
  const std::wstring by_name = L"S-1-5-21-9";
  const auto lookup = [&](const std::wstring& account) {
    std::optional<std::pair<std::wstring, bool>> found;
    if (account == L"DOM\\bob" || account == L"\\bob") found = {by_name, true};
    if (account == L"DOM\\admins") found = {L"S-1-5-32-544", false};
    return found;
  };
  // A logon of the program's own session 1, or of another, by default DOM\bob's.
  const auto in = [](unsigned long type, const wchar_t* sid, unsigned long session = 1,
                     const wchar_t* user = L"bob", const wchar_t* domain = L"DOM") {
    return LogonSession{session, type, domain, user, sid};
  };
  const auto bob = in(2, L"S-L");
  using Name = std::optional<std::wstring>;
  const Rows<Name, Name, std::vector<LogonSession>, std::optional<std::wstring>> rows = {
      {"no logon: the name's user account", L"DOM", L"bob", {}, by_name},
      {"the session's name can't be read", {}, L"bob", {}, L""},
      {"no user: session 0", L"", L"", {}, {}},
      {"no domain", L"", L"bob", {}, L""},
      {"a name that can't be looked up", L"DOM", L"eve", {}, L""},
      {"not a user account", L"DOM", L"admins", {}, L""},
      {"the own user in other letter case, not looked up", L"host", L"ME", {}, L"S-1-5-21-1"},
      {"one, an elevation's too", L"DOM", L"bob", {in(2, L"S-A", 1, L"admin"), bob}, L"S-L"},
      {"UAC's two of one SID", L"DOM", L"bob", {bob, bob}, L"S-L"},
      {"two that disagree", L"DOM", L"bob", {in(10, L"S-L"), in(11, L"S-M")}, L""},
      {"other letter case", L"DOM", L"bob", {in(12, L"S-L", 1, L"BOB", L"dom")}, L"S-L"},
      {"another session's", L"DOM", L"bob", {in(2, L"S-L", 2)}, by_name},
      {"a network logon", L"DOM", L"bob", {in(3, L"S-L")}, by_name},
  };
  const Account own{L"S-1-5-21-1", {}, L"HOST\\me", 1};
  for (const auto& [name, domain, user, logons, sid] : rows) {
    SCOPED_TRACE(name);
    EXPECT_EQ(SessionUserSid(domain, user, own, logons, lookup, SameName), sid);
  }
}

TEST(OwnName, IsTheOwnLogonsElseTheSidsName) {
  const auto logon = [](const wchar_t* domain, const wchar_t* user) {
    return LogonSession{1, 2, domain, user, L"S-1-5-21-1"};
  };
  const Rows<LogonSession, std::wstring> rows = {
      {"the logon's", logon(L"DOM", L"me"), L"DOM\\me"},
      {"a logon without a domain: the SID's", logon(L"", L"me"), L"HOST\\sid"},
      {"a logon without a user: the SID's", logon(L"DOM", L""), L"HOST\\sid"},
  };
  for (const auto& [name, own_logon, own_name] : rows) {
    SCOPED_TRACE(name);
    EXPECT_EQ(OwnName(own_logon, [] { return L"HOST\\sid"; }), own_name);
  }
}

// Each copy as "profile|rest", the profile "none" where the user's copies can't be looked for.
TEST(PerUserCopies, AreTheOwnUsersAndTheSessionUsersOnTheSystemDrive) {
  const Account own{L"S-1-5-21-1", L"P"}, own_unknown{L"S-1-5-21-1", {}};
  const Account other{L"S-1-5-21-2", L"Q"}, other_unknown{L"S-1-5-21-2", {}};
  const std::wstring p = L"P|AppData\\Local\\VirtualStore\\",
                     q = L"Q|AppData\\Local\\VirtualStore\\";
  const std::vector<std::wstring> games{L"C:\\Games"};
  const Rows<Users, std::vector<std::wstring>, std::vector<std::wstring>> rows = {
      {"the folder's two paths",
       {own},
       {L"C:\\Games", L"c:\\Program Files\\Thief 2\\"},
       {p + L"Games\\cam.cfg", p + L"Program Files\\Thief 2\\cam.cfg"}},
      {"the drive's root", {own}, {L"C:\\"}, {p + L"cam.cfg"}},
      {"another drive, a share, a drive-relative path",
       {own},
       {L"D:\\Games", L"\\\\server\\share\\Games", L"C:Games"},
       {}},
      {"no profile: LOCALAPPDATA",
       {own_unknown, {}, L"L"},
       games,
       {L"L|VirtualStore\\Games\\cam.cfg"}},
      {"the session's user without a profile",
       {own_unknown, other_unknown},
       games,
       {L"none|VirtualStore\\Games\\cam.cfg"}},
      {"the session's user who can't be told",
       {own, Account{}},
       games,
       {p + L"Games\\cam.cfg", L"none|VirtualStore\\Games\\cam.cfg"}},
      {"the own user's session", {own, own}, games, {p + L"Games\\cam.cfg"}},
      {"a service's session", {{L"S-1-5-19", L"P"}, other}, games, {q + L"Games\\cam.cfg"}},
  };
  for (const auto& [name, users, game_folders, expected] : rows) {
    SCOPED_TRACE(name);
    std::vector<std::wstring> copies;
    for (const auto& user : PerUserCopies(
             true, [&] { return users; }, game_folders, L"C:\\Windows", L"cam.cfg")) {
      for (const auto& rest : user.rests)
        copies.push_back(user.folder.value_or(L"none") + L"|" + rest);
    }
    EXPECT_EQ(copies, expected);
  }
  const auto no_users = []() -> Users { throw std::logic_error("users asked for"); };
  EXPECT_TRUE(PerUserCopies(false, no_users, games, L"C:\\Windows", L"cam.cfg").empty())
      << "before Vista";
}

TEST(FolderPathsForCopies, AreTheEnteredAndTheRealOnADrive) {
  // A folder reached through a link is a row of the end-to-end test.
  const Rows<std::wstring, std::wstring, std::wstring, std::vector<std::wstring>> rows = {
      {"a subst drive's root, by its long name",
       L"S:\\PROGRA~1",
       L"S:\\Program Files",
       L"\\\\?\\D:\\",
       {L"S:\\Program Files", L"D:\\"}},
      {"a share, no long name", L"C:\\T2", L"", L"\\\\?\\UNC\\server\\T2", {L"C:\\T2"}},
  };
  for (const auto& [name, current, long_path, final_path, folders] : rows) {
    SCOPED_TRACE(name);
    EXPECT_EQ(FolderPathsForCopies(current, long_path, final_path, SameName), folders);
  }
}

TEST(ExtendedLengthPath, OpensAnyLength) {
  const Rows<std::wstring, std::wstring> rows = {
      {"a drive's root", L"C:\\", L"\\\\?\\C:\\"},
      {"a relative path", L"cam.cfg", L"cam.cfg"},
      {"a share", L"\\\\server\\share\\a", L"\\\\?\\UNC\\server\\share\\a"},
      {"already so", L"\\\\?\\C:\\a", L"\\\\?\\C:\\a"},
  };
  for (const auto& [name, full, path] : rows) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ExtendedLengthPath(full), path);
  }
}

TEST(FinalPathsAgree, WhereTheFilesIsTheFoldersFollowedByTheRestOrEitherIsUnknown) {
  const std::wstring volume = L"\\Device\\HarddiskVolume2\\";
  const FinalPaths folder{volume + L"games", L"\\\\?\\C:\\games"};
  const FinalPaths file{volume + L"GAMES\\t2\\Cam.cfg", L"\\\\?\\C:\\games\\t2\\cam.cfg"};
  const FinalPaths elsewhere{volume + L"Windows\\cam.cfg", L"\\\\?\\C:\\Windows\\cam.cfg"};
  const Rows<FinalPaths, FinalPaths, bool> rows = {
      {"the same, letter case aside", folder, file, true},
      {"another file", folder, elsewhere, false},
      {"no device name of the file", folder, {L"", file.drive}, true},
      {"no device name of the folder, another file", {L"", folder.drive}, elsewhere, false},
      {"no final path of the file", folder, {}, true},
  };
  for (const auto& [name, folder_paths, file_paths, agree] : rows) {
    SCOPED_TRACE(name);
    EXPECT_EQ(FinalPathsAgree(folder_paths, file_paths, L"t2\\cam.cfg", SameName), agree);
  }
}

// What the system tells of a name opened below a level, and what the rules make of it.
TEST(Describe, JudgesALevelByWhatTheSystemTellsOfIt) {
  using State = LevelDescription::State;
  const FileId index{1, {7}}, full{1, {9, 9}};
  const LevelDescription opened{State::kOpened, full, 0, 2};
  // Whether it is a file; what the system told: the open's error code, the attributes, links,
  // index, 128-bit id, whether it is on a disk and the reparse tag; and the description.
  const Rows<bool, LevelFacts, LevelDescription> rows = {
      {"a disk file, by its 128-bit id", true, {0, 0x20, 2, index, full, true, 0}, opened},
      {"by its index where that is all",
       true,
       {0, 0x20, 2, index, {}, true, 0},
       {State::kOpened, index, 0, 2}},
      {"a folder whose path isn't found", false, {3}, {State::kMissing}},
      {"nothing told", true, {0, {}, 2, index, full, true, 0}, {}},
      {"a file not on a disk", true, {0, 0x20, 2, index, full, false, 0}, {}},
      {"a folder, which needn't be", false, {0, 0x20, 2, index, full, false, 0}, opened},
      {"a reparse point",
       true,
       {0, 0x420, 2, index, full, true, 0x80000013},
       {State::kOpened, full, 0x80000013, 2}},
      {"a reparse point whose tag can't be read", true, {0, 0x420, 2, index, full, true, {}}, {}},
      {"a reparse point tagged 0", true, {0, 0x420, 2, index, full, true, 0}, {}},
  };
  for (const auto& [name, is_file, facts, expected] : rows) {
    SCOPED_TRACE(name);
    const LevelDescription level = Describe(facts, is_file);
    EXPECT_EQ(std::tie(level.state, level.id.volume, level.id.id, level.reparse_tag, level.links),
              std::tie(expected.state, expected.id.volume, expected.id.id, expected.reparse_tag,
                       expected.links));
  }
}

// Each row: what the held folder, level 0, and a, b and cam.cfg give, opened as themselves one
// after another, and what opening one normally gives, where it is not the one opened as itself;
// then where the open ends, and each call: a name opened below a level (normally with a "+", for
// writing with a "w"), a level let go ("~") and the final path of a level asked for ("?").
TEST(OpenLevels, ReachesTheFileThroughNoLink) {
  using State = LevelDescription::State;
  const LevelDescription folder{State::kOpened, {1, {10}}}, file{State::kOpened, {1, {12}}};
  const auto tagged = [](LevelDescription level, std::uint32_t tag) {
    level.reparse_tag = tag;
    return level;
  };
  const LevelDescription junction = tagged(folder, 0xA0000003), link = tagged(file, 0xA000000C);
  LevelDescription two_links = file;
  two_links.links = 2;
  using enum Reached;
  const Rows<std::vector<LevelDescription>, std::optional<LevelDescription>, Reached, std::string>
      rows = {
          {"no link", {folder, folder, folder, file}, {}, kFile, "0a 1b 2cam.cfg 2cam.cfg+w ~3 ?4"},
          {"a missing folder", {{State::kMissing}}, {}, kMissing, ""},
          {"a folder that won't open", {{}}, {}, kRefused, ""},
          {"a junction in the middle", {folder, folder, junction}, {}, kRefused, "0a 1b"},
          {"a file link", {folder, folder, folder, link}, {}, kRefused, "0a 1b 2cam.cfg"},
          {"a deduplicated folder and file, each the same when opened again",
           {folder, folder, tagged(folder, 0x80000013), tagged(file, 0x80000013)},
           {},
           kFile,
           "0a 1b 1b+ ~2 3cam.cfg 3cam.cfg+w ~4 ?5"},
          {"a file swapped for another between its two opens",
           {folder, folder, folder, file},
           folder,
           kRefused,
           "0a 1b 2cam.cfg 2cam.cfg+w"},
          {"a missing level", {folder, folder, {State::kMissing}}, {}, kMissing, "0a 1b"},
          {"a level that won't open", {folder, folder, {}}, {}, kRefused, "0a 1b"},
          {"a file with two links",
           {folder, folder, folder, two_links},
           {},
           kRefused,
           "0a 1b 2cam.cfg"},
      };
  for (const auto& [name, levels, followed, reached, calls] : rows) {
    SCOPED_TRACE(name);
    std::string log;
    std::size_t taken = 1;
    const auto note = [&](const std::string& call) { log += (log.empty() ? "" : " ") + call; };
    const auto open = [&](std::size_t above, const std::wstring& next, LevelOpen how) {
      note(std::to_string(above) + std::string(next.begin(), next.end()) +
           (how.as_itself ? "" : "+") + (how.for_writing ? "w" : ""));
      EXPECT_EQ(how.is_file, next == L"cam.cfg");
      if (how.as_itself) return levels.at(taken++);
      return followed ? *followed : tagged(levels.at(taken - 1), 0);
    };
    const auto release = [&](std::size_t level) { note("~" + std::to_string(level)); };
    const auto final_paths = [&](std::size_t level) {
      note("?" + std::to_string(level));
      return FinalPaths{};
    };
    const FolderFound held{levels[0].state, {}};
    EXPECT_EQ(OpenLevels(held, L"a\\b\\cam.cfg", {open, release, final_paths}, SameName), reached);
    EXPECT_EQ(log, calls);
  }
}

}  // namespace
}  // namespace fogswitch
