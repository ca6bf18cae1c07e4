#include "platform/appkit/NSWorkspace.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Opening a settings link must never hand the opener anything it could misread
// (an option, a second argument, a truncated link), must not block the main
// thread on the opener, and must fail when there is no opener. (Recording the
// well-formed links of the settings panes is proven by the bridge's tests.)
TEST(NSWorkspaceTest, HandsOnlyWellFormedLinksToTheOpenerAsOneArgumentWithoutWaiting) {
  NSWorkspace& workspace = NSWorkspace::sharedWorkspace();
  workspace.setOpensLinks(false);
  for (const std::string& link :
       {std::string("no-scheme"), std::string("-x:y"), std::string("a/b:x"),
        std::string("https://a b"), std::string("https://a\x7f"), std::string("https://a\0b", 11),
        std::string(9000, 'a') + ":x"}) {
    EXPECT_FALSE(workspace.openURL(link)) << link;
  }

  const auto directory =
      std::filesystem::temp_directory_path() / ("harkwell-workspace-" + std::to_string(::getpid()));
  std::filesystem::create_directories(directory);
  const auto opener = directory / "xdg-open", out = directory / "out";
  // Holds until the test says go, so returning early proves openURL did not wait.
  std::ofstream(opener) << "#!/bin/sh\nPATH=/usr/bin:/bin; cd " << directory
                        << " && while [ ! -e go ]; do sleep 0.01; done\n"
                        << "printf '%s|%s' \"$#\" \"$1\" > out.tmp && mv out.tmp out\n";
  ::chmod(opener.c_str(), 0755);
  workspace.setOpensLinks(true);
  // Found on PATH, past an empty entry and a folder without it.
  const char* path = std::getenv("PATH");
  const std::string savedPath = path != nullptr ? path : "/usr/bin:/bin";
  ::setenv("PATH", (":/nonexistent:" + directory.string()).c_str(), 1);
  workspace.setOpenerPath("");
  const std::string link = "https://example.org/a?b=c&d='e%20f';$(id)";
  auto opened = std::async(std::launch::async, [&] { return workspace.openURL(link); });
  const bool returned = opened.wait_for(10s) == std::future_status::ready;
  std::ofstream(directory / "go").put('\n');
  ASSERT_TRUE(returned) << "openURL waited for the opener";
  EXPECT_TRUE(opened.get());
  ::setenv("PATH", savedPath.c_str(), 1);
  // The opener is a separate process: poll for its output, bounded.
  for (int tries = 0; !std::filesystem::exists(out) && tries < 1000; ++tries) {
    std::this_thread::sleep_for(10ms);
  }
  std::stringstream received;
  received << std::ifstream(out).rdbuf();
  EXPECT_EQ(received.str(), "1|" + link);
  workspace.setOpenerPath("/nonexistent/xdg-open");
  EXPECT_FALSE(workspace.openURL(link));
  std::filesystem::remove_all(directory);
}

}  // namespace
