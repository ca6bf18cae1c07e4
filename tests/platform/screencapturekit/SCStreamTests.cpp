#include "platform/screencapturekit/SCStream.h"

#include <gtest/gtest.h>

#include <optional>

#include "backends/simulated/SimulatedCaptureBackend.h"
#include "platform/screencapturekit/SCShareableContent.h"
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
// queue, only while capturing; a stream ended by the system tells the delegate.
class SCStreamDeliveryTest : public SCStreamTest {};

TEST_F(SCStreamDeliveryTest, DeliversEachKindOnItsOwnQueueOnlyWhileCapturing) {
  StreamConsumer consumer(display());
  EXPECT_EQ(backend_->deliverToDisplay(kDisplay, DisplayOutputKind::audio, audio()), 0u);
  Outcome started, stopped;
  consumer.stream->startCapture(started.handler());
  ASSERT_EQ(started.calls, 1);
  EXPECT_FALSE(started.error);
  EXPECT_EQ(backend_->deliverToDisplay(kDisplay, DisplayOutputKind::audio, audio()), 1u);
  EXPECT_EQ(backend_->deliverToDisplay(kDisplay, DisplayOutputKind::screen,
                                       CMSampleBufferCreateVideoFrame()),
            1u);
  consumer.stream->stopCapture(stopped.handler());
  EXPECT_EQ(stopped.calls, 1);
  EXPECT_EQ(backend_->deliverToDisplay(kDisplay, DisplayOutputKind::audio, audio()), 0u);
  auto audioReceived = consumer.recorder.audio();
  auto screenReceived = consumer.recorder.screen();
  ASSERT_EQ(audioReceived.size(), 1u);
  ASSERT_EQ(screenReceived.size(), 1u);
  EXPECT_TRUE(audioReceived[0].onExpectedQueue);
  EXPECT_TRUE(screenReceived[0].onExpectedQueue);
}

TEST_F(SCStreamDeliveryTest, StoppingWithAnErrorTellsTheDelegateAndEndsDelivery) {
  StreamConsumer consumer(display());
  Outcome started;
  consumer.stream->startCapture(started.handler());
  EXPECT_EQ(backend_->stopStreamsWithError(kDisplay, NSError("test", 6, "gone")), 1u);
  EXPECT_EQ(consumer.recorder.stopErrors(), std::vector<std::string>{"gone"});
  EXPECT_EQ(backend_->deliverToDisplay(kDisplay, DisplayOutputKind::audio, audio()), 0u);
}

// At stake: the display query answers exactly once, possibly later; a backend
// that goes away with it pending must still answer, with an error.
TEST_F(SCStreamDeliveryTest, APendingContentQueryIsAnsweredWithAnErrorWhenTheBackendGoesAway) {
  backend_->setShareableContentPending(true);
  int answers = 0;
  std::optional<NSError> error;
  SCShareableContent::getShareableContentExcludingDesktopWindows(
      false, true, [&](std::optional<SCShareableContent> content, std::optional<NSError> e) {
        ++answers;
        EXPECT_FALSE(content);
        error = std::move(e);
      });
  EXPECT_EQ(answers, 0);
  CaptureBackend::setCurrent(nullptr);
  backend_.reset();
  EXPECT_EQ(answers, 1);
  EXPECT_TRUE(error);
}

}  // namespace
}  // namespace harkwell
