#include "tests/backends/contract/CaptureBackendContract.h"

namespace harkwell::contract {
namespace {

// What every capture backend owes the AVFoundation and ScreenCaptureKit
// stand-ins, run against each backend by its own test binary, which names the
// suite (CONTRACT_SUITE) so that each backend's results stay apart.
using CONTRACT_SUITE = ContractTest;

// At stake: the lists the UI offers and a remembered choice; an unknown id
// must never record something else.
TEST_F(CONTRACT_SUITE, ListsItsDevicesWithStableIdsAndRefusesUnknownOnes) {
  auto& backend = *target_->backend;
  const auto microphones = backend.microphones("AVCaptureDeviceTypeMicrophone");
  EXPECT_TRUE(std::any_of(microphones.begin(), microphones.end(), [&](const MicrophoneInfo& m) {
    return m.uniqueID == target_->microphoneID && !m.localizedName.empty();
  }));
  EXPECT_EQ(backend.microphoneAuthorizationStatus(), CaptureAuthorizationStatus::authorized);
  std::vector<bool> granted;
  backend.requestMicrophoneAccess([&](bool g) { granted.push_back(g); });
  EXPECT_EQ(granted, std::vector<bool>{true});
  std::vector<ShareableContentAnswer> answers;
  for (int i = 0; i < 2; ++i)
    backend.getShareableContent([&](ShareableContentAnswer a) { answers.push_back(a); });
  ASSERT_TRUE(answers.size() == 2 && !answers[0].error);
  const auto& displays = answers[0].displays;
  EXPECT_EQ(std::count(displays.begin(), displays.end(), DisplayInfo{target_->displayID}), 1);
  EXPECT_EQ(displays, answers[1].displays);

  EXPECT_THROW(backend.openMicrophone("no-such-microphone"), NSError);
  Collector collector;
  StopReports stops;
  auto [stream, error] = startDisplay(collector, stops, target_->displayID + 1);
  EXPECT_TRUE(error);
  drain();
  EXPECT_EQ(collector.buffers() + stops.count, 0u);
}

// At stake: the format the microphone controller asks for arrives in real
// time; a stop waits for the buffer being handled (the consumer may be freed
// right after) and lets no later one through; a stopped capture starts again.
TEST_F(CONTRACT_SUITE, AMicrophoneDeliversWhatWasAskedUntilItsStopReturns) {
  StopReports stops;
  auto capture = target_->backend->openMicrophone(target_->microphoneID);
  capture->setStoppedHandler(stops.handler());
  for (const AudioOutputSettings& asked :
       {AudioOutputSettings{kAudioFormatLinearPCM, 1, 16000}, AudioOutputSettings{}}) {
    Collector collector;
    std::promise<void> entered, permit;
    std::atomic<bool> block{false}, stopped{false}, late{false};
    capture->setOutput(asked, queue_, [&](CMSampleBufferRef b) {
      late = late || stopped;
      collector.add(b);
      if (block.exchange(false)) {
        entered.set_value();
        permit.get_future().wait();
      }
    });
    const auto startedAt = std::chrono::steady_clock::now();
    ASSERT_FALSE(capture->startRunning());
    EXPECT_TRUE(capture->isRunning());
    ASSERT_TRUE(collector.waitForFrames(4800));
    const auto seen = collector.seen();
    if (asked.sampleRate > 0) {
      EXPECT_GE(std::chrono::steady_clock::now() - startedAt, 200ms) << "faster than real time";
      EXPECT_GE(seen.shortest, 16000 * target_->shortestBufferSeconds);
      const auto floatPlanar = kAudioFormatFlagIsFloat | kAudioFormatFlagIsNonInterleaved;
      EXPECT_EQ(std::tuple(seen.asbd->mSampleRate, seen.asbd->mChannelsPerFrame,
                           seen.asbd->mBitsPerChannel, seen.asbd->mFormatFlags & floatPlanar),
                std::tuple(16000.0, 1u, 32u, floatPlanar));
    }

    block = true;
    entered.get_future().wait();
    std::thread stopper([&] {
      capture->stopRunning();
      stopped = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(stopped) << "the stop did not wait for the buffer being handled";
    permit.set_value();
    stopper.join();
    EXPECT_FALSE(capture->isRunning());
    drain();
    EXPECT_FALSE(late) << "a buffer arrived after the stop returned";
  }
  EXPECT_EQ(stops.count, 0);
}

// At stake: after a stop has reported success, or the capture is gone, not one
// more buffer reaches the consumer (which may be gone too); a stop is not an
// end by itself.
TEST_F(CONTRACT_SUITE, CapturesDeliverUntilTheirStopOrTheirDestruction) {
  Collector collector, microphoneBuffers;
  StopReports stops;
  // Not a structured binding: clang 14's lambdas cannot capture one.
  auto started = startDisplay(collector, stops, target_->displayID);
  ASSERT_FALSE(started.second) << started.second->debugDescription();
  std::unique_ptr<DisplayStream>& stream = started.first;
  ASSERT_TRUE(collector.waitForFrames(4800));
  ASSERT_FALSE(await([&](CaptureCompletion done) { stream->stopCapture(std::move(done)); }));
  const size_t atStop = collector.buffers();
  drain();
  EXPECT_EQ(collector.buffers(), atStop);

  ASSERT_FALSE(await([&](CaptureCompletion done) { stream->startCapture(std::move(done)); }));
  auto microphone = startMicrophone(microphoneBuffers, stops);
  ASSERT_TRUE(collector.waitForFrames(collector.seen().channels[0].size() + 4800) &&
              microphoneBuffers.waitForFrames(4800));
  stream.reset();
  microphone.reset();
  const size_t atDestruction = collector.buffers() + microphoneBuffers.buffers();
  drain();
  EXPECT_EQ(collector.buffers() + microphoneBuffers.buffers(), atDestruction);
  EXPECT_EQ(stops.count, 0);
}

// At stake: a device that goes away, or a sound server that dies, ends each
// running capture with exactly one report that says so.
TEST_F(CONTRACT_SUITE, LostDevicesStopTheirCapturesWithOneErrorEach) {
  for (const bool serverLost : {false, true}) {
    if (serverLost) {
      target_.reset();
      if (!(target_ = makeTarget())) return;  // the devices back
    }
    Collector microphoneBuffers, displayBuffers;
    StopReports microphoneStops, displayStops;
    auto microphone = startMicrophone(microphoneBuffers, microphoneStops);
    auto [stream, error] = startDisplay(displayBuffers, displayStops, target_->displayID);
    ASSERT_TRUE(!error && microphoneBuffers.waitForFrames(960) &&
                displayBuffers.waitForFrames(960));
    if (serverLost && !target_->killServer()) return;  // a backend without a server
    if (!serverLost) target_->removeDevices();
    ASSERT_TRUE(displayStops.awaitFirst() && microphoneStops.awaitFirst());
    EXPECT_FALSE(microphone->isRunning());
    std::this_thread::sleep_for(300ms);  // room for a second report, which must not come
    EXPECT_EQ(displayStops.count + microphoneStops.count, 2);
  }
}

}  // namespace
}  // namespace harkwell::contract
