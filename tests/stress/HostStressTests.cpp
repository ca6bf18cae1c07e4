// Several UI threads hammer the host with listen, unlisten, getDevices and
// checkPermission over the paced simulated backend (real pacer, capture queues
// and background tasks), while a chaos thread delays and fails the platform's
// answers at random. Bounded in time; run under TSan in CI.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <thread>
#include <vector>

#include "platform/appkit/NSWorkspace.h"
#include "tests/support/HostOnMainLoop.h"

namespace harkwell::test {
namespace {

using harkwell::testing::UiCall;
using namespace std::chrono_literals;
using Backend = SimulatedTestBackend;

// Real devices, one that does not exist, and an id given with the other type.
const std::vector<AudioDevice> devices = {
    {"Mic", AudioDeviceType::input, Backend::kMicrophoneID, true},
    {"Headset", AudioDeviceType::input, Backend::kHeadsetID, false},
    {"Missing", AudioDeviceType::input, "missing-microphone", false},
    {"Display 1", AudioDeviceType::output, "1", true},
    {"Display 2", AudioDeviceType::output, "2", false},
    {"Display 99", AudioDeviceType::output, "99", false},
    {"Wrong kind", AudioDeviceType::output, Backend::kMicrophoneID, false},
};

// At stake: under concurrent calls from several UI threads, captures starting
// and stopping on their own threads and a platform that is slow or fails at
// random, every call is answered once with success, nothing deadlocks, each
// id's events form whole captures, and the registry winds down to nothing.
class HostStressTest : public ::testing::Test, protected harkwell::testing::HostOnMainLoop {
 protected:
  HostStressTest() : HostOnMainLoop(Backend::makePaced()) {
    SimulatedSignal tone;
    tone.framesPerBuffer = 480;
    backend_->addDisplay(2, tone);
    NSWorkspace::sharedWorkspace().setOpensLinks(false);
  }

  std::vector<UiCall> hammer(unsigned seed, std::chrono::steady_clock::time_point until) {
    std::mt19937 random(seed);
    std::vector<UiCall> calls;
    while (std::chrono::steady_clock::now() < until) {
      const AudioDevice& device = devices[random() % devices.size()];
      const unsigned pick = random() % 10;
      UiCall call = pick < 4   ? ui_->listen(device)
                    : pick < 8 ? ui_->unlisten(device)
                    : pick < 9 ? ui_->getDevices(static_cast<AudioDeviceType>(random() % 2))
                               : ui_->checkPermission();
      if (random() % 4 != 0) call.wait(5s);  // mostly one call at a time, sometimes a burst
      calls.push_back(call);
    }
    return calls;
  }

  // One-shot faults are spent by the end: none is left for the final unlistens.
  void chaos(unsigned seed, std::chrono::steady_clock::time_point until) {
    std::mt19937 random(seed);
    const auto fault = [](CaptureErrorCode code) { return makeCaptureError(code, "chaos"); };
    while (std::chrono::steady_clock::now() < until) {
      const unsigned pick = random() % 8;
      if (pick == 0) backend_->hold(Backend::Step::streamStart, true);
      if (pick == 1) backend_->hold(Backend::Step::streamStop, true);
      if (pick == 2) backend_->setShareableContentPending(true);
      if (pick == 3) backend_->failNextStreamStart(fault(CaptureErrorCode::startFailed));
      if (pick == 4) backend_->failNextStreamStop(fault(CaptureErrorCode::stopFailed));
      if (pick == 5) backend_->failNextMicrophoneOpen(fault(CaptureErrorCode::deviceUnavailable));
      if (pick == 6)
        backend_->stopStreamsWithError(random() % 2 + 1,
                                       fault(CaptureErrorCode::stoppedUnexpectedly));
      if (pick == 7) backend_->stopMicrophoneCaptures(Backend::kHeadsetID);
      std::this_thread::sleep_for(std::chrono::milliseconds(random() % 20));
      backend_->releaseAll();
    }
  }

  void unlistenEverything() {
    std::vector<UiCall> calls;
    for (const AudioDevice& device : devices) calls.push_back(ui_->unlisten(device));
    for (const UiCall& call : calls) ASSERT_TRUE(call.wait().has_value());
    ASSERT_TRUE(ui_->settle());
  }
};

TEST_F(HostStressTest, ConcurrentCallsAreAllAnsweredAndTheRegistryWindsDownToNothing) {
  // A deadlock would otherwise hang CI instead of failing it.
  std::thread([] {
    std::this_thread::sleep_for(20s);
    std::fprintf(stderr, "watchdog: the stress test did not finish within 20 s\n");
    std::abort();
  }).detach();
  const auto until = std::chrono::steady_clock::now() + 8s;
  std::vector<std::vector<UiCall>> calls(4);
  std::vector<std::thread> threads;
  for (unsigned i = 0; i < calls.size(); ++i) {
    threads.emplace_back([&, i] { calls[i] = hammer(1000 + i, until); });
  }
  threads.emplace_back([&] { chaos(7, until); });
  for (auto& thread : threads) thread.join();
  backend_->releaseAll();
  ASSERT_TRUE(ui_->settle());

  std::size_t total = 0;
  for (const auto& perThread : calls) {
    for (const UiCall& call : perThread) {
      ++total;
      ASSERT_TRUE(call.wait(1s).has_value()) << "a call was never answered";
      EXPECT_EQ(call.replyCount(), 1u);
      EXPECT_TRUE(call.reply().isSuccess()) << call.reply().describe();
    }
  }
  EXPECT_GT(total, 100u);
  EXPECT_EQ(ui_->undecodableEventCount(), 0u);

  // Per id, in arrival order: deviceStart, its audio, deviceStop (repeated by a
  // second unlisten). No audio outside a capture, no second start inside one,
  // nothing after every capture was stopped.
  unlistenEverything();
  EXPECT_EQ(backend_->runningMicrophoneCount() + backend_->runningStreamCount(), 0u);
  std::this_thread::sleep_for(300ms);
  ASSERT_TRUE(ui_->settle());
  std::map<std::string, bool> capturing;
  for (const NativeAudioEvent& event : ui_->events()) {
    bool& on = capturing[event.id];
    if (event.eventType == NativeAudioEventType::deviceStart) {
      EXPECT_FALSE(on) << "a deviceStart inside a capture of " << event.id;
      on = true;
    } else if (event.eventType == NativeAudioEventType::deviceStop) {
      on = false;
    } else {
      EXPECT_TRUE(on) << "audio of " << event.id << " outside deviceStart ... deviceStop";
    }
  }
  for (const auto& [id, on] : capturing) EXPECT_FALSE(on) << id << " is left capturing";

  unlistenEverything();  // a second unlisten removes the stopped entries
  std::size_t entries = 1;
  DispatchQueue::main().sync([&] { entries = api_->controllers().size(); });
  EXPECT_EQ(entries, 0u);
  EXPECT_EQ(backend_->openMicrophoneCount() + backend_->openStreamCount(), 0u);
}

}  // namespace
}  // namespace harkwell::test
