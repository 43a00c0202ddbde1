#include "game_fog/cam_cfg.h"

namespace fogswitch {
namespace {

constexpr std::string_view kSwitch = "fogging ";
constexpr std::string_view kOn = "1";
constexpr std::string_view kLine = "fogging 1\r\n";
constexpr std::string_view kBreakAndLine = "\r\nfogging 1\r\n";

// The first "fogging " that follows a CR LF, as the game's own files have it; only when there is
// none, the first one at the file's start or after a bare LF.
std::size_t FindSwitch(std::string_view config) {
  const std::size_t after_crlf = config.find("\r\nfogging ");
  if (after_crlf != std::string_view::npos) return after_crlf + 2;
  for (std::size_t at = config.find(kSwitch); at != std::string_view::npos;
       at = config.find(kSwitch, at + 1)) {
    if (at == 0 || config[at - 1] == '\n') return at;
  }
  return std::string_view::npos;
}

}  // namespace

FogEdit FindFogEdit(std::string_view config) {
  const std::size_t at = FindSwitch(config);
  if (at != std::string_view::npos) {
    const std::size_t value = at + kSwitch.size();
    // An empty value gets its "1" inserted rather than written over the line end.
    if (value == config.size() || config[value] == '\r' || config[value] == '\n') {
      return {value, 0, kOn};
    }
    if (config[value] == kOn[0]) return {value, 0, {}};
    return {value, 1, kOn};
  }
  // A last line without its line end is ended first, so nothing gets joined to it.
  if (config.empty() || config.back() == '\n') return {config.size(), 0, kLine};
  return {config.size(), 0, kBreakAndLine};
}

}  // namespace fogswitch
