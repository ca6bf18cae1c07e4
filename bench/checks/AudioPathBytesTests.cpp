#include <gtest/gtest.h>

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "audio/capture/AudioConverter.h"
#include "audio/capture/AudioDataEvent.h"
#include "bench/AudioPathInputs.h"
#include "bench/IdealEventEncoder.h"
#include "bench/ReferenceConverter.h"
#include "bridge/BridgeFlutterApi.h"
#include "platform/flutter/FlutterBinaryMessenger.h"

namespace harkwell::bench {
namespace {

// Keeps every message sent, with its channel.
class RecordingMessenger final : public FlutterBinaryMessenger {
 public:
  struct Message {
    std::string channel;
    std::vector<std::uint8_t> bytes;
  };

  void sendOnChannel(const std::string& channel, std::vector<std::uint8_t> message,
                     FlutterBinaryReply) override {
    messages.push_back({channel, std::move(message)});
  }
  void setMessageHandlerOnChannel(const std::string&, FlutterBinaryMessageHandler) override {}

  std::vector<Message> messages;
};

// The audio path may be made faster, never different: what reaches the
// messenger for a run of buffers must be, byte for byte, the straightforward
// encoding of the straightforwardly converted samples.
class AudioPathBytesTest : public ::testing::TestWithParam<InputShape> {
 protected:
  // Sends `buffers` deliveries of the shape's buffer the way a capture
  // controller does; returns what each conversion gave.
  std::vector<std::vector<float>> sendBuffers(int buffers) {
    std::vector<std::vector<float>> converted;
    for (int i = 0; i < buffers; ++i) {
      std::vector<float> samples = converter_.convert(input_->buffer);
      converted.push_back(samples);
      if (!samples.empty()) api_.sendEvent(event_.withSamples(samples), {});
    }
    return converted;
  }

  const std::unique_ptr<AudioPathInput> input_ = makeAudioPathInput(GetParam());
  AudioConverter converter_;
  AudioDataEvent event_{"1", AudioDeviceType::output};
  RecordingMessenger messenger_;
  BridgeFlutterApi api_{messenger_};
};

TEST_P(AudioPathBytesTest, SendsTheReferenceBytesForTheFirstBuffer) {
  sendBuffers(1);

  ASSERT_EQ(messenger_.messages.size(), 1u);
  const std::vector<float> expected = referenceConvert(input_->pcm);
  EXPECT_EQ(messenger_.messages[0].channel, std::string(BridgeFlutterApi::channelPrefix));
  EXPECT_EQ(messenger_.messages[0].bytes,
            encodeAudioEventIdeal("1", AudioDeviceType::output, std::span<const float>(expected)));
}

TEST_P(AudioPathBytesTest, SendsEachLaterBlockAsTheIdealEncodingOfItsSamples) {
  const std::vector<std::vector<float>> converted = sendBuffers(6);

  std::size_t sent = 0;
  for (const std::vector<float>& samples : converted) {
    if (samples.empty()) continue;
    ASSERT_LT(sent, messenger_.messages.size());
    EXPECT_EQ(messenger_.messages[sent].bytes,
              encodeAudioEventIdeal("1", AudioDeviceType::output, std::span<const float>(samples)))
        << "event " << sent;
    ++sent;
  }
  EXPECT_EQ(sent, messenger_.messages.size());
}

INSTANTIATE_TEST_SUITE_P(BenchShapes, AudioPathBytesTest,
                         ::testing::Values(InputShape::float48kStereo,
                                           InputShape::int16At44k1StereoInterleaved,
                                           InputShape::float16kMono));

}  // namespace
}  // namespace harkwell::bench
