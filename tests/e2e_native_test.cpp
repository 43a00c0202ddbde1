#include <gtest/gtest.h>
#include <signal.h>

#include <regex>
#include <string>

#include "tests/support/output.h"
#include "tests/support/process.h"

namespace fogswitch {
namespace {

using namespace fogswitch::testing;

TEST(NativeRun, WithoutTheGamePrintsSummaryAndPrompt) {
  TempDir dir;
  const auto outcome = RunDetached({{FOGSWITCH_EXE}, dir.path()});
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_EQ(AfterBanner(outcome.out), kSummary + kPrompt);
  EXPECT_EQ(outcome.err, "");
}

TEST(NativeRun, SwitchesFogOnInTheGameFolderWhateverTheArguments) {
  const std::vector<std::string> argument_lists[] = {{}, {"--help"}, {"/?", "cam.cfg", "-v"}};
  for (const auto& arguments : argument_lists) {
    TempDir dir;
    WriteBytes(dir.path() / "TH2.EXE", "");
    WriteBytes(dir.path() / "cam.cfg", "game_screen_size 640 480\r\nfogging 0\r\nz 1\r\n");
    Command command{{FOGSWITCH_EXE}, dir.path()};
    command.argv.insert(command.argv.end(), arguments.begin(), arguments.end());
    const auto outcome = RunDetached(command);
    EXPECT_EQ(outcome.exit_code, 0);
    EXPECT_EQ(AfterBanner(outcome.out), kSummary + kTrying + "successful.\n" + kPrompt);
    EXPECT_EQ(ReadBytes(dir.path() / "cam.cfg"),
              "game_screen_size 640 480\r\nfogging 1\r\nz 1\r\n");
  }
}

TEST(NativeRun, GameFolderWithoutCamCfgReportsFailure) {
  TempDir dir;
  WriteBytes(dir.path() / "th_x2y.exe", "MZ");
  const auto outcome = RunDetached({{FOGSWITCH_EXE}, dir.path()});
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_EQ(AfterBanner(outcome.out), kSummary + kTrying + kFailed + kPrompt);
}

// The lines a command printed on the terminal, without the terminal's CR.
std::vector<std::string> Lines(const std::string& screen) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : screen) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (c != '\r') {
      line += c;
    }
  }
  lines.push_back(line);
  return lines;
}

// The terminal settings that `stty -g` printed, in order.
std::vector<std::string> TerminalModes(const std::string& screen) {
  std::vector<std::string> modes;
  const std::regex stty(R"([0-9a-f]+(:[0-9a-f]+){10,})");
  for (const auto& line : Lines(screen)) {
    std::smatch match;
    if (std::regex_search(line, match, stty)) modes.push_back(match.str());
  }
  return modes;
}

TEST(NativeTerminal, PromptShowsBeforeTheKeyAndAnyKeyEndsTheWait) {
  const char* keys[] = {"x", "\r", " ", "\x1b", "\xc3\xa9"};
  for (const char* key : keys) {
    SCOPED_TRACE(::testing::PrintToString(std::string(key)));
    TempDir dir;
    PtyRun run({{FOGSWITCH_EXE}, dir.path()});
    ASSERT_TRUE(run.WaitFor(kPrompt)) << run.screen();
    EXPECT_TRUE(run.StillRunningAfter(300)) << "ended before a key was pressed";
    EXPECT_EQ(AfterBanner(WithLf(run.screen())), kSummary + kPrompt);
    run.Type(key);
    EXPECT_EQ(run.WaitExit(), 0);
  }
}

TEST(NativeTerminal, MultiByteKeysLeaveNothingBehindForTheShell) {
  const std::vector<std::string> keys[] = {{"\x1b[A"}, {"\x1bOP"}, {"\x1b", "[", "1", "5~"}};
  for (const auto& pieces : keys) {
    TempDir dir;
    PtyRun run({{"/bin/sh", "-c",
                 "\"$0\"; stty -icanon -echo min 0 time 5; "
                 "printf '[%s]' \"$(dd bs=64 count=1 2>/dev/null | od -An -c)\"",
                 FOGSWITCH_EXE},
                dir.path()});
    ASSERT_TRUE(run.WaitFor(kPrompt)) << run.screen();
    ASSERT_TRUE(run.WaitForKeyMode());  // keys typed earlier would be echoed
    for (const auto& piece : pieces) {
      run.Type(piece);
      run.StillRunningAfter(10);
    }
    EXPECT_EQ(run.WaitExit(), 0);
    EXPECT_NE(run.screen().find(kPrompt + "[]"), std::string::npos) << run.screen();
  }
}

TEST(NativeTerminal, CtrlCEndsTheWaitWithStatusZeroAndTheTerminalIsRestored) {
  TempDir dir;
  PtyRun run({{"/bin/sh", "-c", "stty -g; \"$0\"; echo \" status=$?\"; stty -g", FOGSWITCH_EXE},
              dir.path()});
  ASSERT_TRUE(run.WaitFor(kPrompt)) << run.screen();
  // Before the wait begins, Ctrl+C is still the terminal's interrupt.
  ASSERT_TRUE(run.WaitForKeyMode());
  run.Type("\x03");
  ASSERT_TRUE(run.WaitFor(" status=0")) << run.screen();
  EXPECT_EQ(run.WaitExit(), 0);
  const auto modes = TerminalModes(run.screen());
  ASSERT_EQ(modes.size(), 2u) << run.screen();
  EXPECT_EQ(modes[0], modes[1]);
}

TEST(NativeTerminal, TerminationDuringTheWaitRestoresTheTerminal) {
  for (int signal_number : {SIGTERM, SIGHUP}) {
    TempDir dir;
    PtyRun run(
        {{"/bin/sh", "-c", "stty -g; \"$0\" & echo \"pid=$!\"; wait; stty -g", FOGSWITCH_EXE},
         dir.path()});
    ASSERT_TRUE(run.WaitFor(kPrompt)) << run.screen();
    const std::smatch pid = [&] {
      std::smatch match;
      std::regex_search(run.screen(), match, std::regex("pid=(\\d+)"));
      return match;
    }();
    ASSERT_FALSE(pid.empty()) << run.screen();
    ASSERT_EQ(kill(std::stoi(pid[1].str()), signal_number), 0);
    EXPECT_EQ(run.WaitExit(), 0);
    const auto modes = TerminalModes(run.screen());
    ASSERT_EQ(modes.size(), 2u) << run.screen();
    EXPECT_EQ(modes[0], modes[1]);
  }
}

TEST(NativeTerminal, StandardInputFromAFileStillWaitsForTheTerminal) {
  TempDir dir;
  WriteBytes(dir.path() / "keys.txt", "xyz\n");
  Command command{{FOGSWITCH_EXE}, dir.path()};
  command.stdin_path = (dir.path() / "keys.txt").string();
  PtyRun run(command);
  ASSERT_TRUE(run.WaitFor(kPrompt)) << run.screen();
  EXPECT_TRUE(run.StillRunningAfter(300));
  run.Type("k");
  EXPECT_EQ(run.WaitExit(), 0);
}

TEST(NativeTerminal, KeyPressedWhileTheStepsRunEndsTheWaitAtOnce) {
  TempDir dir;
  PtyRun run({{"/bin/sh", "-c", "sleep 0.3; exec \"$0\"", FOGSWITCH_EXE}, dir.path()});
  run.Type("q");
  ASSERT_TRUE(run.WaitFor(kPrompt)) << run.screen();
  EXPECT_EQ(run.WaitExit(5000), 0);
}

}  // namespace
}  // namespace fogswitch
