#include "backends/pulse/PulseCaptureBackend.h"

#include "audio/capture/AudioConverter.h"

#include <algorithm>
#include <cmath>

#include "tests/backends/pulse/PulseBackendFixture.h"

namespace harkwell::pulse_test {
namespace {

// At stake: the lists the UI offers. A monitor offered as a microphone records
// the speakers; a display id that is not the sink name's hash breaks a
// remembered choice.
class PulseBackendEnumerationTest : public PulseBackendFixture {};

TEST_F(PulseBackendEnumerationTest, SourcesBecomeMicrophonesAndSinksBecomeDisplays) {
  const auto microphones = backend_->microphones(microphoneType);
  ASSERT_FALSE(microphones.empty());
  EXPECT_EQ(microphones[0], (MicrophoneInfo{"test_mic", "Test_Microphone"}));
  for (const auto& microphone : microphones) {
    EXPECT_EQ(microphone.uniqueID.find(".monitor"), std::string::npos) << microphone.uniqueID;
  }
  EXPECT_TRUE(backend_->microphones("AVCaptureDeviceTypeExternal").empty());
  EXPECT_EQ(backend_->microphoneAuthorizationStatus(), CaptureAuthorizationStatus::authorized);

  ShareableContentAnswer answer;
  backend_->getShareableContent([&](ShareableContentAnswer a) { answer = std::move(a); });
  ASSERT_FALSE(answer.error) << answer.error->debugDescription();
  ASSERT_GE(answer.displays.size(), 2u);
  EXPECT_EQ(answer.displays[0].displayID, speakersId());
  EXPECT_NE(std::find(answer.displays.begin(), answer.displays.end(),
                      DisplayInfo{displayIdForSinkName("test_micfeed")}),
            answer.displays.end());
}

TEST_F(PulseBackendEnumerationTest, IdsStayTheSameAcrossAServerRestart) {
  ShareableContentAnswer before, after;
  backend_->getShareableContent([&](ShareableContentAnswer a) { before = std::move(a); });
  const auto microphonesBefore = backend_->microphones(microphoneType);
  ASSERT_TRUE(server_->restart());
  // The same backend object: it has to notice the old connection died.
  backend_->getShareableContent([&](ShareableContentAnswer a) { after = std::move(a); });
  ASSERT_FALSE(after.error);
  EXPECT_EQ(before.displays, after.displays);
  EXPECT_EQ(microphonesBefore, backend_->microphones(microphoneType));
}

// At stake: start, stop and start again work; after a stop has returned (or
// reported success) or the stream is gone, not one more buffer reaches the
// consumer; an unknown id never records something else.
class PulseBackendLifecycleTest : public PulseBackendFixture {};

// The second run asks for what the microphone controller asks for: the server
// converts, each buffer holds at least a 20 ms fragment although the source,
// fed from a monitor, hands over less, and the host's converter passes the
// samples through untouched. The first leaves the format to the source.
TEST_F(PulseBackendLifecycleTest, AMicrophoneRestartsAndNothingArrivesAfterItsStopReturns) {
  auto capture = backend_->openMicrophone("test_mic");
  const AudioOutputSettings settings[] = {{}, {kAudioFormatLinearPCM, 1, 16000}};
  const double rates[] = {48000, 16000};
  for (int run = 0; run < 2; ++run) {
    auto stopped = std::make_shared<std::atomic<bool>>(false);
    auto late = std::make_shared<std::atomic<int>>(0);
    auto altered = std::make_shared<std::atomic<int>>(0);
    auto shortest = std::make_shared<std::atomic<CMItemCount>>(1 << 30);
    auto collector = std::make_shared<BufferCollector>();
    auto converter = std::make_shared<AudioConverter>();
    // The handler is slow, so buffers pile up in the queue when the stop comes.
    capture->setOutput(settings[run], queue_, [=](CMSampleBufferRef b) {
      if (stopped->load()) late->fetch_add(1);
      collector->add(b);
      const auto frames = CMSampleBufferGetNumSamples(b);
      shortest->store(std::min(shortest->load(), frames));
      if (run == 1) {
        const auto converted = converter->convert(b);
        if (std::vector<double>(converted.begin(), converted.end()) !=
            testing::decodeChannels(b).at(0)) {
          altered->fetch_add(1);
        }
      }
      std::this_thread::sleep_for(5ms);
    });
    ASSERT_FALSE(capture->startRunning());
    EXPECT_TRUE(capture->isRunning());
    ASSERT_TRUE(collector->waitForFrames(rates[run] / 10)) << "run " << run;
    capture->stopRunning();
    stopped->store(true);
    EXPECT_FALSE(capture->isRunning());
    drainDeliveries();
    EXPECT_EQ(late->load(), 0);
    EXPECT_GE(shortest->load(), rates[run] / 50);
    EXPECT_EQ(altered->load(), 0);
    // Float, one buffer per channel.
    const auto asbd = collector->asbd();
    ASSERT_TRUE(asbd);
    EXPECT_EQ(asbd->mSampleRate, rates[run]);
    EXPECT_EQ(asbd->mChannelsPerFrame, 1u);
    EXPECT_EQ(asbd->mBitsPerChannel, 32u);
    EXPECT_TRUE(asbd->mFormatFlags & kAudioFormatFlagIsFloat);
    EXPECT_TRUE(asbd->mFormatFlags & kAudioFormatFlagIsNonInterleaved);
  }
}

TEST_F(PulseBackendLifecycleTest, NoDisplayBufferArrivesAfterAStopOrTheStreamsDestruction) {
  DisplayCapture capture;
  ASSERT_FALSE(startDisplay(capture, speakersId()));
  ASSERT_TRUE(capture.collector->waitForFrames(4800));
  ASSERT_FALSE(stopDisplay(capture));
  const size_t atStop = capture.collector->buffers();
  drainDeliveries();
  EXPECT_EQ(capture.collector->buffers(), atStop);
  EXPECT_EQ(capture.stoppedCount->load(), 0);

  ASSERT_FALSE(startDisplay(capture, speakersId()));
  ASSERT_TRUE(capture.collector->waitForFrames(atStop + 4800));
  capture.stream.reset();
  const size_t atDestruction = capture.collector->buffers();
  drainDeliveries();
  EXPECT_EQ(capture.collector->buffers(), atDestruction);
}

TEST_F(PulseBackendLifecycleTest, UnknownDevicesCannotBeOpenedOrStarted) {
  try {
    backend_->openMicrophone("no_such_source");
    FAIL() << "opened a microphone that does not exist";
  } catch (const NSError& error) {
    EXPECT_EQ(error.code(), static_cast<int64_t>(CaptureErrorCode::deviceNotFound));
  }
  // A monitor is a source, but not a microphone.
  EXPECT_THROW(backend_->openMicrophone("test_speakers.monitor"), NSError);

  DisplayCapture capture;
  const auto error = startDisplay(capture, speakersId() + 1);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), static_cast<int64_t>(CaptureErrorCode::deviceNotFound));
  drainDeliveries();
  EXPECT_EQ(capture.collector->buffers(), 0u);
  EXPECT_EQ(capture.stoppedCount->load(), 0);
}

// At stake: what the server plays is what the host receives: the right
// device, frequency and level, in the layout the buffers describe.
class PulseBackendContentTest : public PulseBackendFixture {};

TEST_F(PulseBackendContentTest, AToneIntoTheSpeakersArrivesAtSixteenKilohertzMono) {
  DisplayCapture capture;
  ASSERT_FALSE(startDisplay(capture, speakersId()));
  ASSERT_TRUE(capture.collector->waitForFrames(960));
  server_->playTone("test_speakers");
  std::this_thread::sleep_for(200ms);
  ASSERT_FALSE(stopDisplay(capture));

  const auto asbd = capture.collector->asbd();
  ASSERT_TRUE(asbd);
  ASSERT_EQ(asbd->mSampleRate, 48000);
  EXPECT_EQ(asbd->mChannelsPerFrame, 2u);
  EXPECT_TRUE(asbd->mFormatFlags & kAudioFormatFlagIsNonInterleaved);
  const auto channels = capture.collector->channels();
  ASSERT_EQ(channels.size(), 2u);
  for (const auto& channel : channels) {
    EXPECT_NEAR(peak(channel), 0.5, 0.03);
    EXPECT_NEAR(dominantFrequency(channel, 48000), 1000.0, 10.0);
  }
  // As the host hears it: the channels averaged (they must be in step for the
  // level to hold) and picked down to 16 kHz.
  std::vector<double> mono16k;
  for (size_t i = 0; i < channels[0].size() && i < channels[1].size(); i += 3) {
    mono16k.push_back((channels[0][i] + channels[1][i]) / 2);
  }
  EXPECT_NEAR(peak(mono16k), 0.5, 0.03);
  EXPECT_NEAR(dominantFrequency(mono16k, 16000), 1000.0, 10.0);
  EXPECT_EQ(capture.stoppedCount->load(), 0);
}

TEST_F(PulseBackendContentTest, AMicrophoneHearsItsFeedAndStaysPinnedWhenTheDefaultMoves) {
  auto collector = std::make_shared<BufferCollector>();
  auto capture = startMicrophone(collector);
  ASSERT_TRUE(collector->waitForFrames(24000));  // half a second of silence first
  const size_t speechStart = collector->channels()[0].size();
  // A spoken phrase, as a microphone would hear it: silence before it, and
  // speech-level energy (20 ms windows) while it plays.
  server_->shell(
      "espeak-ng --stdout 'Harkwell is listening to you' | "
      "paplay --latency-msec=100 -d test_micfeed");
  std::this_thread::sleep_for(200ms);
  const size_t speechEnd = collector->channels()[0].size();
  const auto heard = collector->channels()[0];
  EXPECT_LT(peak(heard, 0, speechStart), 0.001);
  double loudestWindow = 0;
  for (size_t begin = speechStart; begin + 960 <= speechEnd; begin += 960) {
    double energy = 0;
    for (size_t i = begin; i < begin + 960; ++i) energy += heard[i] * heard[i];
    loudestWindow = std::max(loudestWindow, std::sqrt(energy / 960));
  }
  EXPECT_GT(loudestWindow, 0.05) << "no speech reached the microphone";

  server_->shell("pactl set-default-source test_speakers.monitor");
  std::this_thread::sleep_for(100ms);
  server_->playTone("test_speakers");
  std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(capture->isRunning());
  capture->stopRunning();
  EXPECT_LT(peak(collector->channels()[0], speechEnd), 0.01)
      << "the microphone capture followed the default";
}

}  // namespace
}  // namespace harkwell::pulse_test
