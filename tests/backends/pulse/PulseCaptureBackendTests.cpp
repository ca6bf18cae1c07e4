#include "backends/pulse/PulseCaptureBackend.h"

#include <algorithm>

#include "tests/backends/pulse/PulseBackendFixture.h"

namespace harkwell::pulse_test {
namespace {

using namespace std::chrono_literals;

// At stake: the lists the UI offers. A monitor offered as a microphone records
// the speakers; a display id that changes with the server's mood breaks a
// remembered choice.
class PulseBackendEnumerationTest : public PulseBackendFixture {};

TEST_F(PulseBackendEnumerationTest, MicrophoneListHoldsTheTestMicFirstAndNoMonitor) {
  const auto microphones = backend_->microphones(microphoneType);
  ASSERT_FALSE(microphones.empty());
  EXPECT_EQ(microphones[0], (MicrophoneInfo{"test_mic", "Test_Microphone"}));
  for (const auto& microphone : microphones) {
    EXPECT_EQ(microphone.uniqueID.find(".monitor"), std::string::npos) << microphone.uniqueID;
  }
  EXPECT_TRUE(backend_->microphones("AVCaptureDeviceTypeExternal").empty());
}

TEST_F(PulseBackendEnumerationTest, DisplayListHoldsEverySinkUnderItsHashedName) {
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

TEST_F(PulseBackendEnumerationTest, PermissionsAreGrantedWhileTheServerAnswers) {
  EXPECT_EQ(backend_->microphoneAuthorizationStatus(), CaptureAuthorizationStatus::authorized);
  std::optional<bool> granted;
  backend_->requestMicrophoneAccess([&](bool g) { granted = g; });
  EXPECT_EQ(granted, true);
}

// At stake: start, stop and start again work; after a stop has returned (or
// reported success) not one more buffer reaches the consumer; an unknown id
// never records something else.
class PulseBackendLifecycleTest : public PulseBackendFixture {};

TEST_F(PulseBackendLifecycleTest, AMicrophoneCanBeStartedStoppedAndStartedAgain) {
  auto capture = backend_->openMicrophone("test_mic");
  for (int run = 0; run < 2; ++run) {
    auto collector = std::make_shared<BufferCollector>();
    capture->setOutput({}, queue_, [collector](CMSampleBufferRef b) { collector->add(b); });
    const auto error = capture->startRunning();
    ASSERT_FALSE(error) << error->debugDescription();
    EXPECT_TRUE(capture->isRunning());
    EXPECT_TRUE(collector->waitForFrames(4800, 3s)) << "run " << run;
    capture->stopRunning();
    EXPECT_FALSE(capture->isRunning());
  }
}

TEST_F(PulseBackendLifecycleTest, MicrophoneBuffersDescribeFloatOneBufferPerChannel) {
  auto capture = backend_->openMicrophone("test_mic");
  auto collector = std::make_shared<BufferCollector>();
  capture->setOutput({}, queue_, [collector](CMSampleBufferRef b) { collector->add(b); });
  ASSERT_FALSE(capture->startRunning());
  ASSERT_TRUE(collector->waitForFrames(960, 3s));
  capture->stopRunning();
  const auto asbd = collector->asbd();
  ASSERT_TRUE(asbd);
  EXPECT_EQ(asbd->mSampleRate, 48000);
  EXPECT_EQ(asbd->mChannelsPerFrame, 1u);
  EXPECT_EQ(asbd->mBitsPerChannel, 32u);
  EXPECT_TRUE(asbd->mFormatFlags & kAudioFormatFlagIsFloat);
  EXPECT_TRUE(asbd->mFormatFlags & kAudioFormatFlagIsNonInterleaved);
  EXPECT_EQ(collector->malformed(), 0u);
}

TEST_F(PulseBackendLifecycleTest, NoMicrophoneBufferArrivesAfterStopReturns) {
  auto capture = backend_->openMicrophone("test_mic");
  auto stopped = std::make_shared<std::atomic<bool>>(false);
  auto late = std::make_shared<std::atomic<int>>(0);
  auto collector = std::make_shared<BufferCollector>();
  // The handler is slow, so buffers pile up in the queue when the stop comes.
  capture->setOutput({}, queue_, [=](CMSampleBufferRef b) {
    if (stopped->load()) late->fetch_add(1);
    collector->add(b);
    std::this_thread::sleep_for(5ms);
  });
  ASSERT_FALSE(capture->startRunning());
  ASSERT_TRUE(collector->waitForFrames(4800, 3s));
  capture->stopRunning();
  stopped->store(true);
  queue_->sync([] {});
  std::this_thread::sleep_for(100ms);
  queue_->sync([] {});
  EXPECT_EQ(late->load(), 0);
}

TEST_F(PulseBackendLifecycleTest, NoDisplayBufferArrivesAfterStopReportsSuccess) {
  DisplayCapture capture;
  ASSERT_FALSE(startDisplay(capture, speakersId()));
  ASSERT_TRUE(capture.collector->waitForFrames(4800, 3s));
  ASSERT_FALSE(
      await([&](CaptureCompletion done) { capture.stream->stopCapture(std::move(done)); }));
  const size_t atStop = capture.collector->buffers();
  queue_->sync([] {});
  std::this_thread::sleep_for(100ms);
  queue_->sync([] {});
  EXPECT_EQ(capture.collector->buffers(), atStop);
  EXPECT_EQ(capture.stoppedCount->load(), 0);
  // And it starts again.
  ASSERT_FALSE(startDisplay(capture, speakersId()));
  EXPECT_TRUE(capture.collector->waitForFrames(atStop + 4800, 3s));
}

TEST_F(PulseBackendLifecycleTest, AnUnknownMicrophoneCannotBeOpened) {
  try {
    backend_->openMicrophone("no_such_source");
    FAIL() << "opened a microphone that does not exist";
  } catch (const NSError& error) {
    EXPECT_EQ(error.code(), static_cast<int64_t>(CaptureErrorCode::deviceNotFound));
  }
  // A monitor is a source, but not a microphone.
  EXPECT_THROW(backend_->openMicrophone("test_speakers.monitor"), NSError);
}

TEST_F(PulseBackendLifecycleTest, AnUnknownDisplayFailsToStartAndDeliversNothing) {
  DisplayCapture capture;
  const auto error = startDisplay(capture, speakersId() + 1);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), static_cast<int64_t>(CaptureErrorCode::deviceNotFound));
  std::this_thread::sleep_for(100ms);
  queue_->sync([] {});
  EXPECT_EQ(capture.collector->buffers(), 0u);
  EXPECT_EQ(capture.stoppedCount->load(), 0);
}

TEST_F(PulseBackendLifecycleTest, DestroyingARunningDisplayStreamStopsItsDelivery) {
  DisplayCapture capture;
  ASSERT_FALSE(startDisplay(capture, speakersId()));
  ASSERT_TRUE(capture.collector->waitForFrames(960, 3s));
  capture.stream.reset();
  const size_t atDestruction = capture.collector->buffers();
  std::this_thread::sleep_for(100ms);
  queue_->sync([] {});
  EXPECT_EQ(capture.collector->buffers(), atDestruction);
}

}  // namespace
}  // namespace harkwell::pulse_test
