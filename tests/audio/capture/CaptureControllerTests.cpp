#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "audio/capture/CaptureInputAudioController.h"
#include "audio/capture/CaptureStreamAudioController.h"
#include "platform/capture/CaptureBackend.h"
#include "platform/dispatch/DispatchQueueFactory.h"
#include "tests/support/CaptureTestHelpers.h"
#include "tests/support/ManualDispatchQueue.h"
#include "tests/support/SimulatedTestBackend.h"

namespace harkwell {
namespace {

using Lines = std::vector<std::string>;
constexpr std::uint32_t kDisplayID = 7;
constexpr const char* kDisplay = "7";
constexpr const char* kMic = "mic-1";

// Distinct float32 samples, exact in float: they must reach the UI bit for bit.
std::vector<float> ramp(std::size_t count = 160) {
  std::vector<float> samples(count);
  for (std::size_t i = 0; i < count; ++i) samples[i] = static_cast<float>(i) * 0.0078125f - 0.5f;
  return samples;
}

CMSampleBufferRef buffer(const std::vector<float>& samples = ramp()) {
  return CMSampleBufferCreateWithFloat32Channels(16000, {samples});
}

// Manual backend and manual queues: buffers run through a controller inside
// deliverTo..., completions inside the call that answers them, all on the
// test's thread. Log lines are recorded.
class CaptureControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CaptureBackend::setCurrent(backend_);
    backend_->addDisplay(kDisplayID);
    backend_->addMicrophone({kMic, "Desk Mic"});
  }
  void TearDown() override { CaptureBackend::setCurrent(nullptr); }

  std::shared_ptr<CaptureStreamAudioController> makeStream() {
    auto controller =
        CaptureStreamAudioController::create(kDisplay, SCDisplay(kDisplayID, backend_), api_);
    api_->expectEventsOn(queues_.find(std::string("stream-audio-") + kDisplay));
    return controller;
  }
  std::shared_ptr<CaptureInputAudioController> makeInput() {
    auto controller = CaptureInputAudioController::create(
        kMic, AVCaptureDevice(kMic, "Desk Mic", backend_), api_);
    api_->expectEventsOn(queues_.find(std::string("input-audio-") + kMic));
    return controller;
  }
  std::size_t deliverAudio() {
    return backend_->deliverToDisplay(kDisplayID, DisplayOutputKind::audio, buffer());
  }

  // deviceStart, then the samples, both sent from the capture's own queue.
  // The events before them are skipped.
  void expectStartThenAudio(const char* id, AudioDeviceType type, std::size_t skipped = 0) {
    const auto all = api_->sent();
    ASSERT_EQ(all.size(), skipped + 2);
    const auto* sent = &all[skipped];
    const auto samples = ramp();
    EXPECT_EQ(sent[0].event, (NativeAudioEvent{id, type, NativeAudioEventType::deviceStart,
                                               std::nullopt, std::nullopt}));
    EXPECT_EQ(sent[1].event,
              (NativeAudioEvent{id, type, NativeAudioEventType::deviceAudioData,
                                std::vector<std::optional<double>>(samples.begin(), samples.end()),
                                std::nullopt}));
    EXPECT_TRUE(sent[0].onExpectedQueue && sent[1].onExpectedQueue);
  }

  ManualDispatchQueues queues_;
  testing::RecordedHostLog log_;
  std::shared_ptr<SimulatedTestBackend> backend_ = SimulatedTestBackend::makeManual();
  std::shared_ptr<testing::RecordingFlutterApi> api_ =
      std::make_shared<testing::RecordingFlutterApi>();
};

// At stake: a stream captures audio at 30 frames a second at most; only its
// audio reaches the UI, typed output under the display's id, after
// deviceStart, also before the platform confirmed the start. A microphone
// capture asks for mono 16 kHz lpcm and runs as soon as it exists; each buffer
// is one event, typed input, after deviceStart.
TEST_F(CaptureControllerTest, EachCaptureSendsDeviceStartThenOnlyItsAudioFromItsQueue) {
  backend_->hold(SimulatedTestBackend::Step::streamStart, true);
  auto stream = makeStream();
  const DisplayStreamSettings settings = backend_->streamSettings(kDisplayID).value();
  EXPECT_TRUE(settings.capturesAudio);
  EXPECT_DOUBLE_EQ(settings.minimumFrameIntervalSeconds, 1.0 / 30.0);
  stream->start();
  ASSERT_EQ(deliverAudio(), 1u);
  EXPECT_EQ(backend_->deliverToDisplay(kDisplayID, DisplayOutputKind::screen, buffer()), 1u);
  stream->announceStart();
  expectStartThenAudio(kDisplay, AudioDeviceType::output);

  auto microphone = makeInput();
  EXPECT_TRUE(microphone->isRunning());
  const AudioOutputSettings asked = backend_->requestedSettings(kMic).value();
  EXPECT_EQ(std::tie(asked.formatID, asked.numberOfChannels, asked.sampleRate),
            std::make_tuple(kAudioFormatLinearPCM, 1, 16000.0));
  ASSERT_EQ(backend_->deliverToMicrophone(kMic, buffer()), 1u);
  microphone->announceStart();
  expectStartThenAudio(kMic, AudioDeviceType::input, 2);
}

// At stake: destruction stops and closes a microphone capture, and no buffer
// reaches the destroyed controller, also one delivered meanwhile from another
// thread (ASan: late callback, TSan: race).
TEST_F(CaptureControllerTest, AMicrophonesDestructionDropsBuffersInFlight) {
  ScopedDispatchQueueFactory threaded(nullptr);  // so a buffer can sit on the queue
  auto controller = makeInput();
  std::thread deliverer([&] {
    for (int i = 0; i < 50; ++i) backend_->deliverToMicrophone(kMic, buffer(ramp(16)));
  });
  controller.reset();
  const std::size_t sentAtDestruction = api_->sent().size();
  deliverer.join();
  EXPECT_EQ(api_->sent().size(), sentAtDestruction);
  EXPECT_EQ(backend_->runningMicrophoneCount() + backend_->openMicrophoneCount(), 0u);
}

enum class State { neverStarted, startPending, running, startFailed, endedByItself };

// A stream's state at destruction, the stops destruction must ask for, and the
// log once every held completion has run.
struct StateAtRelease {
  const char* name;
  State state;
  std::size_t stopsAsked;
  Lines log;
};

class CaptureStreamReleaseTest : public CaptureControllerTest,
                                 public ::testing::WithParamInterface<StateAtRelease> {};

// At stake: destruction, like a stop, stops a stream that captures or may
// start (a start pending: torn down at once, the late confirmation only logs),
// asks nothing of one that does not, and late completions only log.
TEST_P(CaptureStreamReleaseTest, AsksForAStopOnlyWhenTheStreamMayCapture) {
  const State state = GetParam().state;
  auto controller = makeStream();
  backend_->hold(SimulatedTestBackend::Step::streamStart, state == State::startPending);
  if (state == State::startFailed)
    backend_->failNextStreamStart(makeCaptureError(CaptureErrorCode::startFailed, "no"));
  if (state != State::neverStarted) controller->start();
  if (state == State::endedByItself)
    backend_->stopStreamsWithError(kDisplayID,
                                   makeCaptureError(CaptureErrorCode::stoppedUnexpectedly, "x"));
  backend_->hold(SimulatedTestBackend::Step::streamStop, true);
  controller.reset();
  EXPECT_EQ(backend_->runningStreamCount(), 0u);
  EXPECT_EQ(backend_->release(SimulatedTestBackend::Step::streamStop), GetParam().stopsAsked);
  backend_->release(SimulatedTestBackend::Step::streamStart);
  EXPECT_EQ(log_.lines(), GetParam().log);
}

const char* startFailed =
    "stream start failed Optional(Error Domain=com.harkwell.capture Code=5 \"no\")";
INSTANTIATE_TEST_SUITE_P(
    States, CaptureStreamReleaseTest,
    ::testing::Values(StateAtRelease{"NeverStarted", State::neverStarted, 0, {}},
                      StateAtRelease{
                          "StartPending", State::startPending, 1, {"stream stop", "stream start"}},
                      StateAtRelease{"Running", State::running, 1, {"stream start", "stream stop"}},
                      StateAtRelease{"StartFailed", State::startFailed, 0, {startFailed}},
                      StateAtRelease{"EndedByItself", State::endedByItself, 0, {"stream start"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace harkwell
