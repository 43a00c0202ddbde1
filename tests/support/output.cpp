#include "tests/support/output.h"

#include <gtest/gtest.h>

#include <regex>

namespace fogswitch::testing {

std::string AfterBanner(const std::string& output) {
  const std::size_t end = output.find('\n');
  if (end == std::string::npos) {
    ADD_FAILURE() << "no banner in: " << output;
    return output;
  }
  std::string banner = output.substr(0, end);
  if (!banner.empty() && banner.back() == '\r') banner.pop_back();
  const std::string date = FOGSWITCH_BUILD_DATE;
  if (!date.empty()) {
    EXPECT_EQ(banner,
              "fogswitch v0.04 (built " + date + ") - fog for Thief 2 on ATI display adapters");
  } else {
    EXPECT_TRUE(std::regex_match(
        banner, std::regex(R"(fogswitch v0\.04 \(built [A-Z][a-z]{2} [ 123]\d \d{4}\) - )"
                           R"(fog for Thief 2 on ATI display adapters)")))
        << banner;
  }
  return output.substr(end + 1);
}

std::string WithCrLf(const std::string& text) {
  return std::regex_replace(text, std::regex("\n"), "\r\n");
}

std::string WithLf(const std::string& text) {
  return std::regex_replace(text, std::regex("\r\n"), "\n");
}

}  // namespace fogswitch::testing
