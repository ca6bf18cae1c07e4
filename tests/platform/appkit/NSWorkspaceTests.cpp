#include "platform/appkit/NSWorkspace.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Opening a settings link must be recorded, must never block the main thread
// on the opener, and must not hand the opener anything it could misread.
class NSWorkspaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    workspace_.clearOpenedURLs();
    workspace_.setOpensLinks(false);
    workspace_.setOpenerPath("");
  }
  void TearDown() override { SetUp(); }

  NSWorkspace& workspace_ = NSWorkspace::sharedWorkspace();
};

class NSWorkspaceMalformedLinkTest : public NSWorkspaceTest,
                                     public ::testing::WithParamInterface<std::string> {};

TEST_P(NSWorkspaceMalformedLinkTest, IsRefusedAndNotRecorded) {
  EXPECT_FALSE(workspace_.openURL(GetParam()));
  EXPECT_TRUE(workspace_.openedURLs().empty());
}

INSTANTIATE_TEST_SUITE_P(Links, NSWorkspaceMalformedLinkTest,
                         ::testing::Values("", "--help", "-x:y", "no-scheme", "1http://x",
                                           "https://a b", "https://a\nb",
                                           std::string("https://a\0b", 11),
                                           std::string(9000, 'a') + ":x"));

TEST_F(NSWorkspaceTest, HandsTheLinkToTheOpenerAsOneArgumentWithoutWaitingForIt) {
  const std::filesystem::path directory =
      std::filesystem::temp_directory_path() / ("harkwell-workspace-" + std::to_string(::getpid()));
  std::filesystem::create_directories(directory);
  const auto opener = directory / "opener";
  const auto go = directory / "go";
  const auto out = directory / "out";
  {
    // Holds until the test says go, so returning early proves openURL did not wait.
    std::ofstream script(opener);
    script << "#!/bin/sh\n"
           << "while [ ! -e '" << go.string() << "' ]; do sleep 0.01; done\n"
           << "printf '%s|%s' \"$#\" \"$1\" > '" << out.string() << ".tmp'\n"
           << "mv '" << out.string() << ".tmp' '" << out.string() << "'\n";
  }
  ::chmod(opener.c_str(), 0755);
  workspace_.setOpensLinks(true);
  workspace_.setOpenerPath(opener.string());

  const std::string link = "https://example.org/a?b=c&d='e f'";
  const std::string safeLink = "https://example.org/a?b=c&d='e%20f';$(id)";
  auto opened = std::async(std::launch::async, [&] { return workspace_.openURL(safeLink); });
  const bool returned = opened.wait_for(10s) == std::future_status::ready;
  std::ofstream(go.string()).put('\n');
  ASSERT_TRUE(returned) << "openURL waited for the opener";
  EXPECT_TRUE(opened.get());
  EXPECT_FALSE(workspace_.openURL(link));  // a space is not part of a link

  // The opener is a separate process: poll for its output, bounded.
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!std::filesystem::exists(out) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  std::stringstream received;
  received << std::ifstream(out).rdbuf();
  EXPECT_EQ(received.str(), "1|" + safeLink);
  workspace_.setOpenerPath("/nonexistent/xdg-open");
  EXPECT_FALSE(workspace_.openURL(safeLink));
  std::filesystem::remove_all(directory);
}

}  // namespace
