#pragma once

#include <string>

namespace fogswitch::testing {

inline const std::string kSummary =
    "Video card registry entries found: 0\nVideo card registry entries modified: 0\n";
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
