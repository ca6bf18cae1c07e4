#include "backends/pulse/PulseCaptureBackend.h"

#include "tests/backends/pulse/PulseBackendFixture.h"

namespace harkwell::pulse_test {
namespace {

using namespace std::chrono_literals;

// At stake: what the server plays is what the host receives: the right
// device, frequency and level, in the layout the buffers describe.
class PulseBackendContentTest : public PulseBackendFixture {};

TEST_F(PulseBackendContentTest, AToneIntoTheSpeakersComesOutOfTheDisplayCapture) {
  const std::string tone =
      server_->fixture("tone-1k.wav", "sox -n -r 48000 -c 2 -b 16 {} synth 1.0 sine 1000 vol 0.5");
  DisplayCapture capture;
  ASSERT_FALSE(startDisplay(capture, speakersId()));
  ASSERT_TRUE(capture.collector->waitForFrames(960, 3s));
  { PulsePlayer player(*server_, "test_speakers", tone); }
  std::this_thread::sleep_for(200ms);
  ASSERT_FALSE(
      await([&](CaptureCompletion done) { capture.stream->stopCapture(std::move(done)); }));

  const auto asbd = capture.collector->asbd();
  ASSERT_TRUE(asbd);
  EXPECT_EQ(asbd->mSampleRate, 48000);
  EXPECT_EQ(asbd->mChannelsPerFrame, 2u);
  EXPECT_TRUE(asbd->mFormatFlags & kAudioFormatFlagIsNonInterleaved);
  const auto channels = capture.collector->channels();
  ASSERT_EQ(channels.size(), 2u);
  for (const auto& channel : channels) {
    EXPECT_NEAR(peak(channel), 0.5, 0.03);
    EXPECT_NEAR(dominantFrequency(channel, asbd->mSampleRate), 1000.0, 10.0);
  }
  // As the host hears it: the channels averaged (they must be in step for the
  // level to hold) and picked down to 16 kHz.
  ASSERT_EQ(asbd->mSampleRate, 48000);
  std::vector<float> mono16k;
  for (size_t i = 0; i < channels[0].size() && i < channels[1].size(); i += 3) {
    mono16k.push_back((channels[0][i] + channels[1][i]) / 2);
  }
  EXPECT_NEAR(peak(mono16k), 0.5, 0.03);
  EXPECT_NEAR(dominantFrequency(mono16k, 16000), 1000.0, 10.0);
  EXPECT_EQ(capture.stoppedCount->load(), 0);
}

TEST_F(PulseBackendContentTest, SpeechIntoTheMicFeedComesOutOfTheMicrophoneWhereItIsPlayed) {
  const std::string speech = server_->fixture(
      "speech.wav", "espeak-ng -w {} 'The quick brown fox jumps over the lazy dog'");
  auto capture = backend_->openMicrophone("test_mic");
  auto collector = std::make_shared<BufferCollector>();
  capture->setOutput({}, queue_, [collector](CMSampleBufferRef b) { collector->add(b); });
  ASSERT_FALSE(capture->startRunning());
  // Half a second of silence first, then the phrase.
  ASSERT_TRUE(collector->waitForFrames(24000, 3s));
  const size_t speechStart = collector->channels()[0].size();
  { PulsePlayer player(*server_, "test_micfeed", speech); }
  std::this_thread::sleep_for(200ms);
  capture->stopRunning();

  const auto samples = collector->channels()[0];
  const auto rms = windowRms(samples, 4800);  // 100 ms windows at 48 kHz
  ASSERT_GT(rms.size(), speechStart / 4800 + 10);
  double before = 0, during = 0;
  for (size_t w = 0; w + 1 < speechStart / 4800; ++w) before = std::max(before, rms[w]);
  for (size_t w = speechStart / 4800; w < rms.size(); ++w) during = std::max(during, rms[w]);
  EXPECT_LT(before, 0.001);
  EXPECT_GT(during, 0.05);
  EXPECT_GT(peak(samples, speechStart), 0.2);
}

}  // namespace
}  // namespace harkwell::pulse_test
