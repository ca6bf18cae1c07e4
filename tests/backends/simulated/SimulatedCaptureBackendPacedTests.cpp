#include "backends/simulated/SimulatedCaptureBackend.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <numbers>
#include <condition_variable>
#include <thread>

#include "platform/avfoundation/AVCaptureDevice.h"
#include "platform/avfoundation/AVCaptureSession.h"
#include "platform/screencapturekit/SCStream.h"
#include "tests/support/CaptureTestHelpers.h"

namespace harkwell {
namespace {

using testing::decodeChannels;
using testing::estimateFrequency;

constexpr auto kPatience = std::chrono::seconds(10);

// Collects buffers from either stand-in and lets the test wait for a count.
class Collector final : public AVCaptureAudioDataOutputSampleBufferDelegate, public SCStreamOutput {
 public:
  void captureOutput(AVCaptureAudioDataOutput&, CMSampleBufferRef buffer,
                     AVCaptureConnection&) override {
    add(std::move(buffer), true);
  }
  void stream(SCStream&, CMSampleBufferRef buffer, SCStreamOutputType type) override {
    add(std::move(buffer), type == SCStreamOutputType::audio);
  }

  bool waitForAudio(std::size_t count) {
    MutexLock lock(mutex_);
    return changed_.wait_for(lock, kPatience,
                             [&]() NO_THREAD_SAFETY_ANALYSIS { return audio_.size() >= count; });
  }
  bool waitForScreen(std::size_t count) {
    MutexLock lock(mutex_);
    return changed_.wait_for(lock, kPatience,
                             [&]() NO_THREAD_SAFETY_ANALYSIS { return screen_ >= count; });
  }
  std::vector<CMSampleBufferRef> audio() const {
    MutexLock lock(mutex_);
    return audio_;
  }
  std::size_t total() const {
    MutexLock lock(mutex_);
    return audio_.size() + screen_;
  }

 private:
  void add(CMSampleBufferRef buffer, bool isAudio) {
    MutexLock lock(mutex_);
    if (isAudio) {
      audio_.push_back(std::move(buffer));
    } else {
      ++screen_;
    }
    changed_.notify_all();
  }

  mutable Mutex mutex_;
  std::condition_variable_any changed_;
  std::vector<CMSampleBufferRef> audio_ GUARDED_BY(mutex_);
  std::size_t screen_ GUARDED_BY(mutex_) = 0;
};

// A running microphone capture, wired as the microphone controller does.
struct MicrophoneRun {
  MicrophoneRun(const AVCaptureDevice& device, Collector& collector)
      : queue(DispatchQueue::makeSerial("input-audio-t")),
        input(std::make_shared<AVCaptureDeviceInput>(device)) {
    output->setSampleBufferDelegate(&collector, queue);
    output->setAudioSettings({{AVFormatIDKey, kAudioFormatLinearPCM},
                              {AVNumberOfChannelsKey, 1},
                              {AVSampleRateKey, 16000}});
    session->addInput(input);
    session->addOutput(output);
    session->startRunning();
  }
  std::shared_ptr<DispatchQueue> queue;
  std::shared_ptr<AVCaptureDeviceInput> input;
  std::shared_ptr<AVCaptureAudioDataOutput> output = std::make_shared<AVCaptureAudioDataOutput>();
  std::unique_ptr<AVCaptureSession> session = std::make_unique<AVCaptureSession>();
};

// A running display stream, wired as the display controller does.
struct StreamRun {
  StreamRun(const SCDisplay& display, Collector& collector)
      : audioQueue(DispatchQueue::makeSerial("stream-audio-t")),
        videoQueue(DispatchQueue::makeSerial("stream-video-t")) {
    SCStreamConfiguration config;
    config.setCapturesAudio(true);
    config.setMinimumFrameInterval(CMTimeMake(1, 30));
    stream = std::make_unique<SCStream>(SCContentFilter(display, {}), config, nullptr);
    stream->addStreamOutput(&collector, SCStreamOutputType::audio, audioQueue);
    stream->addStreamOutput(&collector, SCStreamOutputType::screen, videoQueue);
    stream->startCapture(nullptr);
  }
  std::shared_ptr<DispatchQueue> audioQueue, videoQueue;
  std::unique_ptr<SCStream> stream;
};

class PacedBackendTest : public ::testing::Test {
 protected:
  void SetUp() override { CaptureBackend::setCurrent(backend_); }
  void TearDown() override { CaptureBackend::setCurrent(nullptr); }

  AVCaptureDevice microphone(std::size_t index) {
    auto session = AVCaptureDeviceDiscoverySession::discoverySessionWithDeviceTypes(
        {AVCaptureDeviceTypeMicrophone}, AVMediaTypeAudio, AVCaptureDevicePosition::unspecified);
    return session->devices().at(index);
  }

  std::shared_ptr<SimulatedCaptureBackend> backend_ = SimulatedCaptureBackend::makePaced();
};

// At stake: the app's fallback backend offers the fixed devices, in order,
// with both permissions granted, so the app works on any machine.
class PacedBackendDevicesTest : public PacedBackendTest {};

TEST_F(PacedBackendDevicesTest, OffersTwoMicrophonesAndOneDisplayWithPermissionsGranted) {
  EXPECT_EQ(microphone(0).uniqueID(), "simulated-microphone-1");
  EXPECT_EQ(microphone(0).localizedName(), "Simulated Microphone");
  EXPECT_EQ(microphone(1).uniqueID(), "simulated-microphone-2");
  EXPECT_EQ(microphone(1).localizedName(), "Simulated Headset Microphone");
  std::optional<SCShareableContent> content;
  SCShareableContent::getShareableContentExcludingDesktopWindows(
      false, true, [&](auto c, auto) { content = std::move(c); });
  ASSERT_TRUE(content);
  ASSERT_EQ(content->displays().size(), 1u);
  EXPECT_EQ(content->displays()[0].displayID(), 1u);
  EXPECT_EQ(AVCaptureDevice::authorizationStatusForMediaType(AVMediaTypeAudio),
            AVAuthorizationStatus::authorized);
}

struct PacedCase {
  const char* name;
  bool display;
  std::size_t microphoneIndex;
  double sampleRate;
  unsigned channels;
  bool interleaved;
  bool isFloat;
  unsigned bitsPerChannel;
  CMItemCount frames;
  double frequency;
};

// At stake: each paced device delivers its documented format, buffer size and
// tone, phase-continuous from buffer to buffer.
class PacedBackendSignalTest : public PacedBackendTest,
                               public ::testing::WithParamInterface<PacedCase> {};

TEST_P(PacedBackendSignalTest, DeliversItsFormatAndTone) {
  const auto& expected = GetParam();
  Collector collector;
  std::unique_ptr<MicrophoneRun> microphoneRun;
  std::unique_ptr<StreamRun> streamRun;
  if (expected.display) {
    streamRun = std::make_unique<StreamRun>(SCDisplay(1, backend_), collector);
  } else {
    microphoneRun =
        std::make_unique<MicrophoneRun>(microphone(expected.microphoneIndex), collector);
  }
  ASSERT_TRUE(collector.waitForAudio(6));
  if (expected.display) {
    EXPECT_TRUE(collector.waitForScreen(2));
  }
  microphoneRun.reset();
  streamRun.reset();

  std::vector<std::vector<double>> stream(expected.channels);
  for (const auto& buffer : collector.audio()) {
    const auto* asbd = CMAudioFormatDescriptionGetStreamBasicDescription(
        CMSampleBufferGetFormatDescription(buffer));
    ASSERT_NE(asbd, nullptr);
    EXPECT_EQ(asbd->mSampleRate, expected.sampleRate);
    EXPECT_EQ(asbd->mChannelsPerFrame, expected.channels);
    EXPECT_EQ((asbd->mFormatFlags & kAudioFormatFlagIsNonInterleaved) == 0, expected.interleaved);
    EXPECT_EQ((asbd->mFormatFlags & kAudioFormatFlagIsFloat) != 0, expected.isFloat);
    EXPECT_EQ(asbd->mBitsPerChannel, expected.bitsPerChannel);
    EXPECT_EQ(CMSampleBufferGetNumSamples(buffer), expected.frames);
    auto channels = decodeChannels(buffer);
    ASSERT_EQ(channels.size(), expected.channels);
    for (unsigned c = 0; c < expected.channels; ++c) {
      stream[c].insert(stream[c].end(), channels[c].begin(), channels[c].end());
    }
  }
  for (const auto& channel : stream) {
    EXPECT_NEAR(estimateFrequency(channel, expected.sampleRate), expected.frequency, 2.0);
    double peak = 0, largestStep = 0;
    for (std::size_t n = 0; n < channel.size(); ++n) {
      peak = std::max(peak, std::abs(channel[n]));
      if (n > 0) largestStep = std::max(largestStep, std::abs(channel[n] - channel[n - 1]));
    }
    EXPECT_NEAR(peak, 0.25, 0.01);
    // A phase jump at a buffer boundary would show as a step steeper than the sine's slope.
    EXPECT_LE(largestStep,
              2 * std::numbers::pi * expected.frequency / expected.sampleRate * 0.25 + 1e-3);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Devices, PacedBackendSignalTest,
    ::testing::Values(PacedCase{"Microphone", false, 0, 16000, 1, false, true, 32, 160, 440},
                      PacedCase{"Headset", false, 1, 44100, 2, true, false, 16, 512, 660},
                      PacedCase{"Display", true, 0, 48000, 2, false, true, 32, 1024, 1000}),
    [](const auto& info) { return std::string(info.param.name); });

// At stake: once stop or destruction returns, the pacer's thread must not reach
// the consumer (which may be gone) even with buffers already queued.
class PacedBackendStopTest : public PacedBackendTest {};

TEST_F(PacedBackendStopTest, NoBufferArrivesAfterStopReturns) {
  Collector collector;
  MicrophoneRun run(microphone(0), collector);
  ASSERT_TRUE(collector.waitForAudio(2));
  run.session->stopRunning();
  const auto atStop = collector.total();
  run.queue->sync([] {});  // lets anything still queued run into the closed gate
  // Several buffer periods: the pacer would have produced more by now.
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  run.queue->sync([] {});
  EXPECT_EQ(collector.total(), atStop);
  EXPECT_EQ(backend_->runningMicrophoneCount(), 0u);
}

TEST_F(PacedBackendStopTest, ConsumersDestroyedWhileBuffersFlowAreNeverCalled) {
  // Bounded stress for the sanitizers: tear down while the pacer posts.
  for (int i = 0; i < 10; ++i) {
    auto collector = std::make_unique<Collector>();
    auto microphoneRun = std::make_unique<MicrophoneRun>(microphone(i % 2), *collector);
    auto streamRun = std::make_unique<StreamRun>(SCDisplay(1, backend_), *collector);
    ASSERT_TRUE(collector->waitForAudio(1));
    streamRun.reset();
    microphoneRun.reset();
    collector.reset();
  }
  EXPECT_EQ(backend_->openMicrophoneCount(), 0u);
  EXPECT_EQ(backend_->openStreamCount(), 0u);
}

}  // namespace
}  // namespace harkwell
