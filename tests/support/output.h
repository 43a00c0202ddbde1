#pragma once

#include <string>

namespace fogswitch::testing {

// The driver step's two closing lines.
inline std::string Summary(int found, int modified) {
  return "Video card registry entries found: " + std::to_string(found) +
         "\nVideo card registry entries modified: " + std::to_string(modified) + "\n";
}
inline const std::string kSummary = Summary(0, 0);
inline const std::string kTrying = "Thief 2 detected. Now trying to enable fog in its cam.cfg ... ";
inline const std::string kFailed =
    "failed!\nPossible reasons: cam.cfg doesn't exist or it's marked as read only.\n";
inline const std::string kPrompt = "Press any key to exit...";

// Checks the banner line (with the build date the tests were configured with, if any) and
// returns what follows it.
std::string AfterBanner(const std::string& output);

// `text` with every LF as CR LF, as a Windows program writes it in text mode.
std::string WithCrLf(const std::string& text);

// `text` with every CR LF as LF.
std::string WithLf(const std::string& text);

}  // namespace fogswitch::testing
