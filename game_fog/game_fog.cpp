#include "game_fog/game_fog.h"

#include <exception>
#include <string>

#include "game_fog/cam_cfg.h"

namespace fogswitch {
namespace {

constexpr char kGameMarker[] = "th*2*.exe";
constexpr char kConfigName[] = "cam.cfg";
constexpr std::size_t kReadChunk = std::size_t{64} << 10;
// Room for the longest edit, so applying it never moves the buffer.
constexpr std::size_t kEditRoom = 16;

// Reads the whole file; false on a read error or when it is over `limit`.
bool ReadAll(UpdateFile& file, std::uint64_t limit, std::string& config) {
  const auto size = file.Size();
  if (size && *size > limit) return false;
  config.reserve(static_cast<std::size_t>(size.value_or(0)) + kReadChunk + kEditRoom);
  for (;;) {
    const std::size_t have = config.size();
    config.resize(have + kReadChunk);
    const auto got = file.Read(config.data() + have, kReadChunk);
    if (!got) return false;
    config.resize(have + *got);
    if (config.size() > limit) return false;
    if (*got == 0) return true;
  }
}

// Writes the edit and has it on the disk before it counts. A failed grow, write or flush is
// undone: the bytes already rewritten are put back, the file cut back to its old length, and
// that put on the disk too, as far as it still can be.
bool WriteEdit(UpdateFile& file, std::string& config, const FogEdit& edit) {
  const std::size_t old_size = config.size();
  const std::string old_bytes = config.substr(edit.offset, edit.replaced);
  config.replace(edit.offset, edit.replaced, edit.bytes);
  const std::size_t new_size = config.size();
  // A replacement of the same length writes only its own bytes; an insertion moves the tail.
  const auto span = [&](std::size_t size) {
    return new_size == old_size ? edit.replaced : size - edit.offset;
  };
  // Growing first means no existing byte moves before the room for it is there.
  const bool grown = new_size <= old_size || file.Resize(new_size);
  if (grown && file.WriteAt(edit.offset, config.data() + edit.offset, span(new_size)) &&
      file.Flush()) {
    return true;
  }
  if (grown) {
    config.replace(edit.offset, edit.bytes.size(), old_bytes);
    file.WriteAt(edit.offset, config.data() + edit.offset, span(old_size));
  }
  file.Resize(old_size);
  file.Flush();
  return false;
}

bool SwitchFogOn(UpdateFile& file, std::uint64_t limit) {
  bool done = false;
  // Memory running out anywhere in reading or editing fails this file only; a file that grows
  // while it is read may need more than its size promised.
  try {
    std::string config;
    done = ReadAll(file, limit, config);
    if (done) {
      const FogEdit edit = FindFogEdit(config);
      done = edit.ChangesNothing() || WriteEdit(file, config, edit);
    }
  } catch (const std::exception&) {
    done = false;
  }
  const bool closed = file.Close();
  return done && closed;
}

}  // namespace

void EnableGameFog(GameFolder& folder, std::FILE* out, std::uint64_t max_config_size) {
  if (!folder.HasEntryMatching(kGameMarker)) return;
  std::fputs("Thief 2 detected. Now trying to enable fog in its cam.cfg ... ", out);
  // The game may read any of the copies, so each gets the edit and each must have it.
  auto files = folder.OpenForUpdate(kConfigName);
  bool done = !files.empty();
  for (const auto& file : files) done = file && SwitchFogOn(*file, max_config_size) && done;
  if (done) {
    std::fputs("successful.\n", out);
  } else {
    std::fputs("failed!\nPossible reasons: cam.cfg doesn't exist or it's marked as read only.\n",
               out);
  }
}

void EnableGameFog() { EnableGameFog(*OpenCurrentFolder(), stdout); }

}  // namespace fogswitch
