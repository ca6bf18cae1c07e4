#include "platform/screencapturekit/SCStream.h"

#include <gtest/gtest.h>

#include <optional>

#include "backends/simulated/SimulatedCaptureBackend.h"
#include "tests/support/CaptureTestHelpers.h"

namespace harkwell {
namespace {

using testing::RecordingStreamConsumer;

constexpr std::uint32_t kDisplay = 7;

// A consumer wired the way the display controller wires itself.
struct StreamConsumer {
  explicit StreamConsumer(const SCDisplay& display)
      : recorder(DispatchQueue::makeSerial("stream-audio-7"),
                 DispatchQueue::makeSerial("stream-video-7")) {
    SCStreamConfiguration config;
    config.setCapturesAudio(true);
    config.setMinimumFrameInterval(CMTimeMake(1, 30));
    stream = std::make_unique<SCStream>(SCContentFilter(display, {}), config, &recorder);
    stream->addStreamOutput(&recorder, SCStreamOutputType::audio, recorder.audioQueue());
    stream->addStreamOutput(&recorder, SCStreamOutputType::screen, recorder.screenQueue());
  }

  RecordingStreamConsumer recorder;
  std::unique_ptr<SCStream> stream;
};

// Records a completion's outcome: not called, success, or the error's code.
struct Outcome {
  int calls = 0;
  std::optional<NSError> error;
  SCStream::CompletionHandler handler() {
    return [this](std::optional<NSError> e) {
      ++calls;
      error = std::move(e);
    };
  }
};

class SCStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CaptureBackend::setCurrent(backend_);
    backend_->addDisplay(kDisplay);
  }
  void TearDown() override { CaptureBackend::setCurrent(nullptr); }

  SCDisplay display() const { return SCDisplay(kDisplay, backend_); }
  static CMSampleBufferRef audio() {
    return CMSampleBufferCreateWithFloat32Channels(
        48000, {std::vector<float>(1024, 0.1f), std::vector<float>(1024, 0.1f)});
  }

  std::shared_ptr<SimulatedCaptureBackend> backend_ = SimulatedCaptureBackend::makeManual();
};

// At stake: audio and screen buffers each reach their own output on their own
// queue, only while capturing, and the configuration reaches the backend.
class SCStreamDeliveryTest : public SCStreamTest {};

TEST_F(SCStreamDeliveryTest, DeliversAudioAndScreenOnTheirOwnQueues) {
  StreamConsumer consumer(display());
  Outcome started;
  consumer.stream->startCapture(started.handler());
  ASSERT_EQ(started.calls, 1);
  EXPECT_FALSE(started.error);
  EXPECT_EQ(backend_->deliverToDisplay(kDisplay, DisplayOutputKind::audio, audio()), 1u);
  EXPECT_EQ(backend_->deliverToDisplay(kDisplay, DisplayOutputKind::screen,
                                       CMSampleBufferCreateVideoFrame()),
            1u);
  auto audioReceived = consumer.recorder.audio();
  auto screenReceived = consumer.recorder.screen();
  ASSERT_EQ(audioReceived.size(), 1u);
  ASSERT_EQ(screenReceived.size(), 1u);
  EXPECT_TRUE(audioReceived[0].onExpectedQueue);
  EXPECT_TRUE(screenReceived[0].onExpectedQueue);
}

TEST_F(SCStreamDeliveryTest, PassesAudioCaptureAndFrameIntervalToTheBackend) {
  StreamConsumer consumer(display());
  auto settings = backend_->streamSettings(kDisplay);
  ASSERT_TRUE(settings);
  EXPECT_TRUE(settings->capturesAudio);
  EXPECT_DOUBLE_EQ(settings->minimumFrameIntervalSeconds, 1.0 / 30);
}

TEST_F(SCStreamDeliveryTest, DeliversNothingBeforeStartOrAfterStop) {
  StreamConsumer consumer(display());
  EXPECT_EQ(backend_->deliverToDisplay(kDisplay, DisplayOutputKind::audio, audio()), 0u);
  Outcome started, stopped;
  consumer.stream->startCapture(started.handler());
  consumer.stream->stopCapture(stopped.handler());
  EXPECT_EQ(stopped.calls, 1);
  EXPECT_FALSE(stopped.error);
  EXPECT_EQ(backend_->deliverToDisplay(kDisplay, DisplayOutputKind::audio, audio()), 0u);
  EXPECT_TRUE(consumer.recorder.audio().empty());
}

TEST_F(SCStreamDeliveryTest, ARemovedOutputReceivesNothingMore) {
  StreamConsumer consumer(display());
  Outcome started;
  consumer.stream->startCapture(started.handler());
  consumer.stream->removeStreamOutput(&consumer.recorder, SCStreamOutputType::audio);
  backend_->deliverToDisplay(kDisplay, DisplayOutputKind::audio, audio());
  EXPECT_TRUE(consumer.recorder.audio().empty());
  EXPECT_THROW(consumer.stream->removeStreamOutput(&consumer.recorder, SCStreamOutputType::audio),
               NSError);
}

TEST_F(SCStreamDeliveryTest, AudioFlowsWhileTheStartCompletionIsStillHeld) {
  backend_->holdStreamStartCompletions(true);
  StreamConsumer consumer(display());
  Outcome started;
  consumer.stream->startCapture(started.handler());
  EXPECT_EQ(started.calls, 0);
  EXPECT_EQ(backend_->deliverToDisplay(kDisplay, DisplayOutputKind::audio, audio()), 1u);
  EXPECT_EQ(backend_->releaseStreamStartCompletions(), 1u);
  EXPECT_EQ(started.calls, 1);
  EXPECT_FALSE(started.error);
}

// At stake: every failure the display controller handles can be produced:
// adding an output, starting, stopping, and the stream ending by itself.
class SCStreamFailureTest : public SCStreamTest {};

TEST_F(SCStreamFailureTest, AddingAnOutputThrowsTheInjectedError) {
  backend_->failNextAddOutput(NSError("test", 9, "no output"));
  EXPECT_THROW(StreamConsumer{display()}, NSError);
}

TEST_F(SCStreamFailureTest, AFailedStartReportsItsErrorAndCapturesNothing) {
  StreamConsumer consumer(display());
  backend_->failNextStreamStart(NSError("test", 4, "start refused"));
  Outcome started;
  consumer.stream->startCapture(started.handler());
  ASSERT_TRUE(started.error);
  EXPECT_EQ(started.error->code(), 4);
  EXPECT_EQ(backend_->runningStreamCount(), 0u);
}

TEST_F(SCStreamFailureTest, StartingOnAnUnknownDisplayFails) {
  StreamConsumer consumer(SCDisplay(99, backend_));
  Outcome started;
  consumer.stream->startCapture(started.handler());
  EXPECT_TRUE(started.error);
}

TEST_F(SCStreamFailureTest, AFailedStopKeepsTheStreamCapturing) {
  StreamConsumer consumer(display());
  Outcome started, stopped;
  consumer.stream->startCapture(started.handler());
  backend_->failNextStreamStop(NSError("test", 5, "stop refused"));
  consumer.stream->stopCapture(stopped.handler());
  EXPECT_TRUE(stopped.error);
  EXPECT_EQ(backend_->runningStreamCount(), 1u);
}

TEST_F(SCStreamFailureTest, StoppingWithAnErrorTellsTheDelegateAndEndsDelivery) {
  StreamConsumer consumer(display());
  Outcome started;
  consumer.stream->startCapture(started.handler());
  EXPECT_EQ(backend_->stopStreamsWithError(kDisplay, NSError("test", 6, "gone")), 1u);
  EXPECT_EQ(consumer.recorder.stopErrors(), std::vector<std::string>{"gone"});
  EXPECT_EQ(backend_->deliverToDisplay(kDisplay, DisplayOutputKind::audio, audio()), 0u);
}

TEST_F(SCStreamFailureTest, RemovingTheDisplayStopsItsStreamWithAnError) {
  StreamConsumer consumer(display());
  Outcome started;
  consumer.stream->startCapture(started.handler());
  backend_->removeDisplay(kDisplay);
  EXPECT_EQ(consumer.recorder.stopErrors().size(), 1u);
  EXPECT_EQ(backend_->runningStreamCount(), 0u);
}

// At stake: a consumer destroyed with its stream is never called again, and
// its capture does not run on orphaned; completions still come exactly once.
class SCStreamLifetimeTest : public SCStreamTest {};

TEST_F(SCStreamLifetimeTest, DestroyingTheStreamStopsACaptureAndSilencesItsConsumer) {
  auto consumer = std::make_unique<StreamConsumer>(display());
  Outcome started;
  consumer->stream->startCapture(started.handler());
  consumer->stream.reset();
  EXPECT_EQ(backend_->runningStreamCount(), 0u);
  EXPECT_EQ(backend_->openStreamCount(), 0u);
  consumer.reset();
  EXPECT_EQ(backend_->deliverToDisplay(kDisplay, DisplayOutputKind::audio, audio()), 0u);
  EXPECT_EQ(backend_->stopStreamsWithError(kDisplay, NSError("test", 1, "late")), 0u);
}

TEST_F(SCStreamLifetimeTest, DestroyingAStreamWhoseStartIsHeldStopsItsCapture) {
  backend_->holdStreamStartCompletions(true);
  auto consumer = std::make_unique<StreamConsumer>(display());
  Outcome started;
  consumer->stream->startCapture(started.handler());
  consumer.reset();
  EXPECT_EQ(backend_->runningStreamCount(), 0u);
  EXPECT_EQ(backend_->releaseStreamStartCompletions(), 1u);
  EXPECT_EQ(started.calls, 1);
}

TEST_F(SCStreamLifetimeTest, AHeldStopCompletionRunsOnceAfterTheStreamIsGone) {
  backend_->holdStreamStopCompletions(true);
  auto consumer = std::make_unique<StreamConsumer>(display());
  Outcome started, stopped;
  consumer->stream->startCapture(started.handler());
  consumer->stream->stopCapture(stopped.handler());
  consumer.reset();
  EXPECT_EQ(stopped.calls, 0);
  EXPECT_EQ(backend_->releaseStreamStopCompletions(), 1u);
  EXPECT_EQ(stopped.calls, 1);
}

}  // namespace
}  // namespace harkwell
