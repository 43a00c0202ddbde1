#include "game_fog/game_fog.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/support/capture.h"
#include "tests/support/fake_folder.h"

namespace fogswitch {
namespace {

using testing::Capture;
using testing::FakeFolder;

const std::string kTrying = "Thief 2 detected. Now trying to enable fog in its cam.cfg ... ";
const std::string kSuccess = kTrying + "successful.\n";
const std::string kFailure =
    kTrying + "failed!\nPossible reasons: cam.cfg doesn't exist or it's marked as read only.\n";

struct Case {
  const char* name;
  std::function<void(FakeFolder&)> setup;
  std::string output;
  std::optional<std::string> cam_cfg_after;
  std::uint64_t limit = kMaxConfigSize;
};

TEST(EnableGameFog, EditsCamCfgInTheGameFolderAndNeverLosesBytes) {
  const std::string cfg = "a 1\r\nfogging 0\r\nb 2\r\n";
  const std::string no_switch = "a 1\r\nb 2";
  const Case cases[] = {
      {"no game: silent, nothing opened",
       [&](FakeFolder& f) {
         f.has_game = false;
         f.cam_cfg = cfg;
       },
       "", cfg},
      {"game without cam.cfg", [](FakeFolder& f) { f.cam_cfg.reset(); }, kFailure, std::nullopt},
      {"switch set in place", [&](FakeFolder& f) { f.cam_cfg = cfg; }, kSuccess,
       "a 1\r\nfogging 1\r\nb 2\r\n"},
      {"line added", [&](FakeFolder& f) { f.cam_cfg = no_switch; }, kSuccess,
       no_switch + "\r\nfogging 1\r\n"},
      {"fog on already",
       [&](FakeFolder& f) {
         f.cam_cfg = "fogging 1\r\n";
         f.resize_fails = true;
         f.write_budget = 0;
       },
       kSuccess, "fogging 1\r\n"},
      {"a size that grew after it was taken",
       [&](FakeFolder& f) {
         f.cam_cfg = std::string(200000, 'x') + "\r\nfogging 0";
         f.reported_size = 10;
       },
       kSuccess, std::string(200000, 'x') + "\r\nfogging 1"},
      {"read fails",
       [&](FakeFolder& f) {
         f.cam_cfg = cfg;
         f.read_fails = true;
       },
       kFailure, cfg},
      {"larger than the limit", [&](FakeFolder& f) { f.cam_cfg = cfg; }, kFailure, cfg,
       cfg.size() - 1},
      {"larger than the limit, size not known",
       [&](FakeFolder& f) {
         f.cam_cfg = cfg;
         f.reported_size = 1;
       },
       kFailure, cfg, cfg.size() - 1},
      {"exactly the limit", [&](FakeFolder& f) { f.cam_cfg = cfg; }, kSuccess,
       "a 1\r\nfogging 1\r\nb 2\r\n", cfg.size()},
      {"growing fails",
       [&](FakeFolder& f) {
         f.cam_cfg = no_switch;
         f.resize_fails = true;
       },
       kFailure, no_switch},
      {"in-place write fails",
       [&](FakeFolder& f) {
         f.cam_cfg = cfg;
         f.write_budget = 0;
       },
       kFailure, cfg},
      {"appending fails partway",
       [&](FakeFolder& f) {
         f.cam_cfg = no_switch;
         f.write_budget = 5;
       },
       kFailure, no_switch},
      {"inserting fails partway",
       [&](FakeFolder& f) {
         f.cam_cfg = "fogging \r\nabc\r\n";
         f.write_budget = 3;
       },
       kFailure, "fogging \r\nabc\r\n"},
      {"close fails",
       [&](FakeFolder& f) {
         f.cam_cfg = cfg;
         f.close_fails = true;
       },
       kFailure, "a 1\r\nfogging 1\r\nb 2\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFolder folder;
    c.setup(folder);
    const std::string output =
        Capture([&](std::FILE* out) { EnableGameFog(folder, out, c.limit); });
    EXPECT_EQ(output, c.output);
    EXPECT_EQ(folder.cam_cfg, c.cam_cfg_after);
    EXPECT_EQ(folder.pattern(), "th*2*.exe");
    if (folder.has_game) {
      EXPECT_EQ(folder.opened_name, "cam.cfg");
      EXPECT_EQ(folder.closed, folder.cam_cfg.has_value()) << "the file must be closed once opened";
    } else {
      EXPECT_EQ(folder.opens, 0);
    }
  }
}

}  // namespace
}  // namespace fogswitch
