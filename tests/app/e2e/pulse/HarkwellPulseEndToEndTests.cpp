// The harkwell binary on the PulseAudio backend, against the private server
// (what it records is checked by the backend's own tests and the browser run).

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/app/e2e/HarkwellProcess.h"

namespace harkwell::test {
namespace {

// At stake: a suspended source does not end a capture; the meter says it is
// waiting.
TEST(HarkwellPulseTest, ASuspendedSourceIsWaitedFor) {
  if (std::getenv("PULSE_SERVER") == nullptr) GTEST_SKIP() << "no private server: see scripts/test";
  std::string directory = (std::filesystem::temp_directory_path() / "hw-pulse-XXXXXX").string();
  ASSERT_NE(::mkdtemp(directory.data()), nullptr);
  HarkwellProcess harkwell(directory, {"--backend", "pulse", "--seconds", "0"},
                           "HARKWELL_NO_XDG_OPEN=1");
  ASSERT_TRUE(harkwell.waitForError("Capturing"));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_EQ(std::system("pactl suspend-source test_mic 1"), 0);
  std::this_thread::sleep_for(std::chrono::seconds(4));
  ASSERT_EQ(std::system("pactl suspend-source test_mic 0"), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  harkwell.signal(SIGINT);
  EXPECT_EQ(harkwell.finish(), 0) << harkwell.err();
  EXPECT_NE(harkwell.err().find("audio backend: PulseAudio"), std::string::npos) << harkwell.err();
  // PipeWire goes on delivering silence from a suspended source; only
  // PulseAudio leaves the meter waiting.
  if (std::system("pactl info | grep -q PipeWire") != 0) {
    EXPECT_NE(harkwell.err().find("waiting: no audio for"), std::string::npos) << harkwell.err();
  }
  std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace harkwell::test
