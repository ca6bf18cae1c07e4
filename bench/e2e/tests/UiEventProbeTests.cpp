#include "bench/e2e/UiEventProbe.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

#include "bridge/BridgeFlutterApi.h"
#include "bridge/NativeAudioEvent.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/flutter/FlutterEngine.h"

namespace harkwell::e2e {
namespace {

using namespace std::chrono_literals;

NativeAudioEvent audio(const std::string& id, std::vector<double> samples) {
  NativeAudioEvent event;
  event.id = id;
  event.type = AudioDeviceType::output;
  event.eventType = NativeAudioEventType::deviceAudioData;
  event.audioData.emplace(samples.begin(), samples.end());
  return event;
}

NativeAudioEvent device(NativeAudioEventType type) {
  NativeAudioEvent event;
  event.id = "7";
  event.type = AudioDeviceType::output;
  event.eventType = type;
  return event;
}

// The probe on a real engine, fed by the host's real event sender: what it
// records is what crossed the channel as bytes. The test thread pumps the main
// loop, where the UI's replies come back.
class UiEventProbeTest : public ::testing::Test {
 protected:
  UiEventProbeTest() : probe_(engine_.uiSide(), "7", {0.25, 0.01, 10}) {}

  // Sends every event and waits for each delivery's outcome.
  void send(const std::vector<NativeAudioEvent>& events) {
    for (const NativeAudioEvent& event : events) {
      api_.onEvent(event, [this](Result<void, PigeonError> result) {
        (result.ok() ? succeeded_ : failed_) += 1;
      });
    }
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (succeeded_ + failed_ < sent_ + events.size() &&
           std::chrono::steady_clock::now() < deadline) {
      MainRunLoop::shared().drainFor(1ms);
    }
    sent_ += events.size();
  }

  FlutterEngine engine_;
  BridgeFlutterApi api_{engine_.binaryMessenger()};
  UiEventProbe probe_;
  std::size_t sent_ = 0;
  std::size_t succeeded_ = 0;
  std::size_t failed_ = 0;
};

TEST_F(UiEventProbeTest, FindsClicksAcrossEventsAtTheirStreamPositionAndAnswersEveryEvent) {
  const auto before = std::chrono::steady_clock::now();
  send({device(NativeAudioEventType::deviceStart), audio("7", std::vector<double>(12, 0.0)),
        audio("7", {0.0, 0.0, 0.5, 0.5}),  // onset at 14
        audio("other", std::vector<double>(40, 0.0)),
        audio("other", {0.9}),  // another device: neither counted nor searched
        audio("7", std::vector<double>(11, 0.0)), audio("7", {-0.6}),  // onset at 27
        device(NativeAudioEventType::deviceStop)});

  EXPECT_EQ(succeeded_, sent_);
  EXPECT_EQ(failed_, 0u);
  EXPECT_EQ(probe_.audioEvents(), 4u);
  EXPECT_EQ(probe_.audioSamples(), 28u);
  EXPECT_EQ(probe_.deviceEvents(),
            (std::vector<NativeAudioEventType>{NativeAudioEventType::deviceStart,
                                               NativeAudioEventType::deviceStop}));
  const auto onsets = probe_.onsets();
  ASSERT_EQ(onsets.size(), 2u);
  EXPECT_EQ(onsets[0].position, 14u);
  EXPECT_EQ(onsets[1].position, 27u);
  EXPECT_GE(onsets[0].arrivedAt, before);
  EXPECT_GE(onsets[1].arrivedAt, onsets[0].arrivedAt);
  EXPECT_EQ(probe_.undecodable(), 0u);
}

TEST_F(UiEventProbeTest, CountsMessagesThatAreNoEvent) {
  bool answered = false;
  engine_.binaryMessenger().sendOnChannel(
      std::string(BridgeFlutterApi::channelPrefix), {0xff, 0x01},
      [&](std::optional<std::vector<std::uint8_t>> reply) { answered = reply.has_value(); });
  send({audio("7", {0.0})});
  EXPECT_TRUE(answered);
  EXPECT_EQ(probe_.undecodable(), 1u);
  EXPECT_EQ(probe_.audioEvents(), 1u);
}

}  // namespace
}  // namespace harkwell::e2e
