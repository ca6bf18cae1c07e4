#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "backends/pulse/PulseDeviceList.h"
#include "bench/e2e/ClickPlayer.h"
#include "bench/e2e/HostUnderTest.h"
#include "bench/e2e/MonitorReader.h"
#include "bench/e2e/UiEventProbe.h"

namespace harkwell::e2e {
namespace {

using namespace std::chrono_literals;

// The measuring pieces on the private server of scripts/pulse-test-server
// (they play into its null sink, never into a desktop's): the player, the bare
// reader and the host wiring, each checked for doing what the latency run
// takes for granted. Deadlines only bound waits; nothing here is timed.
class PulseServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("HARKWELL_PULSE_TEST_RUNTIME") == nullptr) {
      GTEST_SKIP() << "no private sound server: export the lines of "
                      "`scripts/pulse-test-server start pulseaudio`";
    }
  }

  template <class Done>
  static bool waitFor(Done done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }
};

TEST_F(PulseServerTest, ClicksAskedForTogetherAreWrittenInOrderWithTheirLatency) {
  std::string whyNot;
  auto player = ClickPlayer::open({}, whyNot);
  ASSERT_NE(player, nullptr) << whyNot;
  const auto before = std::chrono::steady_clock::now();
  const std::size_t first = player->requestClick();
  const std::size_t second = player->requestClick();
  EXPECT_EQ(second, first + 1);
  ASSERT_TRUE(waitFor([&] { return player->written(second).has_value(); }, 1000ms));
  const auto a = *player->written(first);
  const auto b = *player->written(second);
  EXPECT_GE(a.writtenAt, before);
  EXPECT_GT(b.writtenAt, a.writtenAt);
  // Asked for 10 ms in all; whatever the server granted stays under the null
  // sink's 50 ms cap.
  ASSERT_TRUE(b.playbackLatency.has_value());
  EXPECT_LT(*b.playbackLatency, 50ms);
  EXPECT_FALSE(player->failed());
}

TEST_F(PulseServerTest, AnUnknownDeviceIsRefusedWithItsName) {
  ClickPlayer::Settings settings;
  settings.sink = "no_such_sink";
  std::string whyNot;
  EXPECT_EQ(ClickPlayer::open(settings, whyNot), nullptr);
  EXPECT_NE(whyNot.find("no_such_sink"), std::string::npos) << whyNot;
  EXPECT_EQ(MonitorReader::open("no_such_sink.monitor", whyNot), nullptr);
  EXPECT_NE(whyNot.find("no_such_sink.monitor"), std::string::npos) << whyNot;
}

TEST_F(PulseServerTest, EachClickReachesTheBareReaderOnceAfterItWasWritten) {
  std::string whyNot;
  auto reader = MonitorReader::open("test_speakers.monitor", whyNot);
  ASSERT_NE(reader, nullptr) << whyNot;
  auto player = ClickPlayer::open({}, whyNot);
  ASSERT_NE(player, nullptr) << whyNot;
  std::this_thread::sleep_for(200ms);  // the reader's detector hears silence first
  for (int click = 1; click <= 3; ++click) {
    const std::size_t index = player->requestClick();
    ASSERT_TRUE(waitFor([&] { return player->written(index).has_value(); }, 1000ms));
    ASSERT_TRUE(waitFor([&] { return reader->onsets().size() >= std::size_t(click); }, 1000ms));
    EXPECT_GE(reader->onsets().back().arrivedAt, player->written(index)->writtenAt);
    std::this_thread::sleep_for(150ms);
  }
  EXPECT_EQ(reader->onsets().size(), 3u);
}

TEST_F(PulseServerTest, TheHostListsCapturesAndStopsTheSpeakersThroughItsChannels) {
  std::string whyNot;
  auto host = HostUnderTest::create(whyNot);
  ASSERT_NE(host, nullptr) << whyNot;
  const auto displays = host->displays();
  ASSERT_TRUE(displays.has_value());
  const std::string id = std::to_string(displayIdForSinkName("test_speakers"));
  const AudioDevice* speakers = nullptr;
  for (const AudioDevice& device : *displays) {
    if (device.id == id) speakers = &device;
  }
  ASSERT_NE(speakers, nullptr);

  UiEventProbe probe(host->ui(), id, {});
  ASSERT_TRUE(host->listen(*speakers));
  EXPECT_TRUE(host->pumpUntil([&] { return probe.audioSamples() >= 1600; }, 5000ms));
  ASSERT_TRUE(host->unlisten(*speakers));
  EXPECT_TRUE(host->pumpUntil([&] { return probe.deviceEvents().size() >= 2; }, 2000ms));
  EXPECT_EQ(probe.deviceEvents(),
            (std::vector<NativeAudioEventType>{NativeAudioEventType::deviceStart,
                                               NativeAudioEventType::deviceStop}));
  host->pumpFor(200ms);
}

}  // namespace
}  // namespace harkwell::e2e
