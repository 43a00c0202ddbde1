// Faults from outside, on the native program: files it can't edit, folders it can't read,
// output nobody takes. It must never crash, lose a byte of cam.cfg or print to standard error.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "tests/support/output.h"
#include "tests/support/process.h"

namespace fogswitch {
namespace {

using namespace fogswitch::testing;

constexpr std::pair<uid_t, gid_t> kNobody{65534, 65534};
const std::string kSuccess = kTrying + "successful.\n";
const std::string kFailure = kTrying + kFailed;

std::string BigConfig(std::size_t size, const std::string& tail) {
  std::string config;
  config.reserve(size + tail.size());
  while (config.size() + 16 <= size) config += "setting_x 1234\r\n";
  config.append(size - config.size(), 'z');
  return config + tail;
}

struct Case {
  const char* name;
  std::function<void(const std::filesystem::path& dir, Command& command)> setup;
  std::string game_output;            // what the game step prints
  std::optional<std::string> before;  // cam.cfg written before the run
  std::optional<std::string> after;   // cam.cfg expected after it; nothing: no such file
};

TEST(NativeFaults, CamCfgThatCantBeEditedIsReportedAndKeepsEveryByte) {
  const std::string grows = "a 1\r\nb 2";  // gets "\r\nfogging 1\r\n" added
  const std::string in_place = "a 1\r\nfogging 0\r\n";
  const std::string with_nul = std::string("a\0b\r\nfogging 0\r\nc\0", 18);
  const std::string big = BigConfig(64u << 20, "\r\nfogging 0\r\nend 1\r\n");
  std::string big_after = big;
  big_after.replace(big_after.rfind("fogging 0"), 9, "fogging 1");
  const Case cases[] = {
      {"no cam.cfg", {}, kFailure, std::nullopt, std::nullopt},
      {"a directory named cam.cfg",
       [](auto& dir, auto&) { std::filesystem::create_directory(dir / "cam.cfg"); }, kFailure,
       std::nullopt, std::nullopt},
      {"a FIFO named cam.cfg", [](auto& dir, auto&) { mkfifo((dir / "cam.cfg").c_str(), 0666); },
       kFailure, std::nullopt, std::nullopt},
      {"no write permission",
       [](auto& dir, Command& command) {
         std::filesystem::permissions(dir, std::filesystem::perms::all);
         std::filesystem::permissions(dir / "cam.cfg", std::filesystem::perms::owner_read |
                                                           std::filesystem::perms::others_read);
         command.as = kNobody;
       },
       kFailure, in_place, in_place},
      {"growing it goes past the file size limit",
       [&](auto&, Command& command) { command.file_size_limit = grows.size() + 5; }, kFailure,
       grows, grows},
      {"not even a byte more may be written",
       [&](auto&, Command& command) { command.file_size_limit = grows.size(); }, kFailure, grows,
       grows},
      {"an edit in place is within the limit",
       [&](auto&, Command& command) { command.file_size_limit = in_place.size(); }, kSuccess,
       in_place, "a 1\r\nfogging 1\r\n"},
      {"NUL bytes are kept", {}, kSuccess, with_nul, std::string("a\0b\r\nfogging 1\r\nc\0", 18)},
      {"64 MiB, switch at the end", {}, kSuccess, big, big_after},
      {"64 MiB, switch added",
       {},
       kSuccess,
       BigConfig(64u << 20, "x"),
       BigConfig(64u << 20, "x") + "\r\nfogging 1\r\n"},
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's shadow memory needs more address space
      {"no memory for the file", [](auto&, Command& command) { command.memory_limit = 48l << 20; },
       kFailure, big, big},
      {"memory enough for a small file",
       [](auto&, Command& command) { command.memory_limit = 48l << 20; }, kSuccess, in_place,
       "a 1\r\nfogging 1\r\n"},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    WriteBytes(dir.path() / "th2.exe", "MZ");
    if (c.before) WriteBytes(dir.path() / "cam.cfg", *c.before);
    Command command({FOGSWITCH_EXE}, dir.path());
    if (c.setup) c.setup(dir.path(), command);
    const Outcome run = RunDetached(command);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(AfterBanner(run.out), kSummary + c.game_output + kPrompt);
    const auto cam_cfg = dir.path() / "cam.cfg";
    if (c.after) {
      const std::string bytes = ReadBytes(cam_cfg);
      EXPECT_EQ(bytes.size(), c.after->size());
      EXPECT_TRUE(bytes == *c.after) << "cam.cfg differs";
    } else if (!c.setup) {
      EXPECT_FALSE(std::filesystem::exists(cam_cfg)) << "cam.cfg must not be created";
    }
  }
}

TEST(NativeFaults, ImmutableCamCfgIsReportedAndUntouched) {
  // The build folder is on a disk that takes the immutable flag; as root it is the real refusal.
  TempDir dir(std::filesystem::current_path());
  WriteBytes(dir.path() / "th2.exe", "MZ");
  const auto cam_cfg = dir.path() / "cam.cfg";
  WriteBytes(cam_cfg, "fogging 0\r\n");
  ASSERT_EQ(RunDetached({{"chattr", "+i", cam_cfg.string()}, "/"}).exit_code, 0);
  const Outcome run = RunDetached({{FOGSWITCH_EXE}, dir.path()});
  RunDetached({{"chattr", "-i", cam_cfg.string()}, "/"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(AfterBanner(run.out), kSummary + kFailure + kPrompt);
  EXPECT_EQ(ReadBytes(cam_cfg), "fogging 0\r\n");
}

TEST(NativeFaults, AnyEntryNamedLikeTheGameMarksItsFolderUnlessTheFolderCantBeRead) {
  const struct {
    const char* name;
    std::function<void(const std::filesystem::path&, Command&)> setup;
    bool detected;
  } cases[] = {
      {"a directory named th2.exe",
       [](auto& dir, auto&) { std::filesystem::create_directory(dir / "th2.exe"); }, true},
      {"a dangling symlink named th2.exe",
       [](auto& dir, auto&) { std::filesystem::create_symlink(dir / "gone", dir / "th2.exe"); },
       true},
      {"a folder that can't be listed",
       [](auto& dir, Command& command) {
         WriteBytes(dir / "th2.exe", "MZ");
         std::filesystem::permissions(dir / "cam.cfg", std::filesystem::perms::all);
         std::filesystem::permissions(
             dir, std::filesystem::perms::owner_write | std::filesystem::perms::owner_exec |
                      std::filesystem::perms::others_write | std::filesystem::perms::others_exec);
         command.as = kNobody;
       },
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    WriteBytes(dir.path() / "cam.cfg", "fogging 0\r\n");
    Command command({FOGSWITCH_EXE}, dir.path());
    c.setup(dir.path(), command);
    const Outcome run = RunDetached(command);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(AfterBanner(run.out), kSummary + (c.detected ? kSuccess : "") + kPrompt);
    EXPECT_EQ(ReadBytes(dir.path() / "cam.cfg"), c.detected ? "fogging 1\r\n" : "fogging 0\r\n");
  }
}

TEST(NativeFaults, OutputNobodyTakesDoesNotStopTheRun) {
  const struct {
    const char* name;
    std::vector<int> closed;
    bool reader_gone;
  } cases[] = {{"standard output closed", {1}, false},
               {"all standard descriptors closed", {0, 1, 2}, false},
               {"standard input and output closed", {0, 1}, false},
               {"a pipe whose reader has gone", {}, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    WriteBytes(dir.path() / "th2.exe", "MZ");
    WriteBytes(dir.path() / "cam.cfg", "a 1\r\nfogging 0\r\n");
    Command command({FOGSWITCH_EXE}, dir.path());
    command.closed_fds = c.closed;
    command.stdout_reader_gone = c.reader_gone;
    const Outcome run = RunDetached(command);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(ReadBytes(dir.path() / "cam.cfg"), "a 1\r\nfogging 1\r\n");
  }
}

}  // namespace
}  // namespace fogswitch
