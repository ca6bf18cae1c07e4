// Several UI-side threads hammer the host with listen, unlisten, getDevices
// and checkPermission over the paced simulated backend (real pacer, capture
// queues and background tasks), while a chaos thread delays and fails starts,
// stops and content queries at random. Bounded in time; run under TSan in CI.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "audio/capture/HostLog.h"
#include "audio/service/BridgeApi.h"
#include "bridge/BridgeFlutterApi.h"
#include "bridge/BridgeHostApiSetup.h"
#include "platform/appkit/NSWorkspace.h"
#include "platform/capture/CaptureBackend.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/flutter/FlutterEngine.h"
#include "tests/support/HostOnMainLoop.h"
#include "tests/support/SimulatedTestBackend.h"
#include "tests/support/UiDriver.h"

namespace harkwell::test {
namespace {

using harkwell::testing::HostOnMainLoop;
using harkwell::testing::UiCall;
using harkwell::testing::UiDriver;
using harkwell::testing::UiReply;
using namespace std::chrono_literals;

constexpr int uiThreads = 4;
constexpr auto hammerTime = 8s;
// Far beyond any honest run, inside CI's bound: past it the test is hung.
constexpr auto watchdogLimit = 20s;
constexpr auto quietPeriod = 300ms;
constexpr std::uint32_t secondDisplay = 2;

// Ends the process if the test has not finished in time: a deadlock in the
// host would otherwise hang CI instead of failing it.
// Thread affinity: create and destroy on the test thread.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit)
      : thread_([this, limit] {
          std::unique_lock lock(mutex_);
          if (!done_.wait_for(lock, limit, [this] { return finished_; })) {
            std::fprintf(stderr, "watchdog: the stress test did not finish within %lld s\n",
                         static_cast<long long>(limit.count()));
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
    }
    done_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  std::thread thread_;
};

// The devices the UI threads pick from: real ones, one that does not exist,
// and ids given with the other kind's type.
std::vector<AudioDevice> candidateDevices() {
  using Backend = SimulatedTestBackend;
  return {
      {"Simulated Microphone", AudioDeviceType::input, Backend::kMicrophoneID, true},
      {"Simulated Headset", AudioDeviceType::input, Backend::kHeadsetID, false},
      {"Missing", AudioDeviceType::input, "missing-microphone", false},
      {"Display 1", AudioDeviceType::output, "1", true},
      {"Display 2", AudioDeviceType::output, "2", false},
      {"Display 99", AudioDeviceType::output, "99", false},
      {"Wrong kind", AudioDeviceType::output, Backend::kMicrophoneID, false},
  };
}

// One-shot faults the chaos thread injected that no call spent would hit the
// final unlisten; throwaway captures on the seam spend them.
void spendLeftoverFaults(SimulatedTestBackend& backend) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      auto microphone = backend.openMicrophone(SimulatedTestBackend::kMicrophoneID);
      microphone->setOutput({}, nullptr, nullptr);
      microphone->startRunning();
      microphone->stopRunning();
      break;
    } catch (const NSError&) {
    }
  }
  auto stream = backend.openDisplayStream(SimulatedTestBackend::kDisplayID, {true, 0}, {});
  try {
    stream->addOutput(DisplayOutputKind::audio, nullptr, {});
  } catch (const NSError&) {
  }
  stream->startCapture([](std::optional<NSError>) {});
  stream->stopCapture([](std::optional<NSError>) {});
}

// What the UI saw of each id, in arrival order, is a run of whole captures:
// deviceStart, its audio, deviceStop (repeated by a second unlisten). No audio
// outside a capture, no second deviceStart inside one.
void expectWholeCapturesPerId(const std::vector<NativeAudioEvent>& events) {
  std::map<std::string, bool> capturing;
  std::size_t outside = 0;
  std::size_t doubleStarts = 0;
  for (const NativeAudioEvent& event : events) {
    bool& on = capturing[event.id];
    if (event.eventType == NativeAudioEventType::deviceStart) {
      doubleStarts += on ? 1 : 0;
      on = true;
    } else if (event.eventType == NativeAudioEventType::deviceStop) {
      on = false;
    } else if (!on) {
      ++outside;
    }
  }
  EXPECT_EQ(outside, 0u) << "audio reached the UI outside deviceStart ... deviceStop";
  EXPECT_EQ(doubleStarts, 0u) << "a deviceStart inside a capture of the same id";
}

// At stake: under concurrent calls from several UI threads, captures starting
// and stopping on their own threads and a platform that is slow or fails at
// random, every call is answered exactly once, nothing deadlocks, every id's
// events form whole captures, and the registry winds down to nothing: no
// capture, no audio, no entry.
class HostStressTest : public ::testing::Test, protected HostOnMainLoop {
 protected:
  HostStressTest() : HostOnMainLoop(SimulatedTestBackend::makePaced()) {
    SimulatedSignal tone;
    tone.framesPerBuffer = 480;
    backend_->addDisplay(secondDisplay, tone);
    NSWorkspace::sharedWorkspace().setOpensLinks(false);
    // Audio kept in order with the device events, for the per-id check.
    ui_->setKeepsAudioData(true);
  }

  // Sends random calls until `until`; returns every call made.
  std::vector<UiCall> hammer(unsigned seed, std::chrono::steady_clock::time_point until) {
    std::mt19937 random(seed);
    const std::vector<AudioDevice> devices = candidateDevices();
    std::vector<UiCall> calls;
    while (std::chrono::steady_clock::now() < until) {
      const AudioDevice& device = devices[random() % devices.size()];
      const unsigned pick = random() % 10;
      UiCall call = pick < 4   ? ui_->listen(device)
                    : pick < 8 ? ui_->unlisten(device)
                    : pick < 9 ? ui_->getDevices(static_cast<AudioDeviceType>(random() % 2))
                               : ui_->checkPermission();
      // Mostly one call at a time per thread, sometimes a burst.
      if (random() % 4 != 0) call.wait(5s);
      calls.push_back(call);
    }
    return calls;
  }

  // Delays and fails the platform's answers at random until `until`.
  void chaos(unsigned seed, std::chrono::steady_clock::time_point until) {
    std::mt19937 random(seed);
    const auto fault = [](CaptureErrorCode code) { return makeCaptureError(code, "chaos"); };
    while (std::chrono::steady_clock::now() < until) {
      switch (random() % 8) {
        case 0:
          backend_->holdStreamStartCompletions(true);
          break;
        case 1:
          backend_->holdStreamStopCompletions(true);
          break;
        case 2:
          backend_->setShareableContentPending(true);
          break;
        case 3:
          backend_->failNextStreamStart(fault(CaptureErrorCode::startFailed));
          break;
        case 4:
          backend_->failNextStreamStop(fault(CaptureErrorCode::stopFailed));
          break;
        case 5:
          backend_->failNextMicrophoneOpen(fault(CaptureErrorCode::deviceUnavailable));
          break;
        case 6:
          backend_->stopStreamsWithError(random() % 2 + 1,
                                         fault(CaptureErrorCode::stoppedUnexpectedly));
          break;
        default:
          backend_->stopMicrophoneCaptures(SimulatedTestBackend::kHeadsetID);
          break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(random() % 20));
      releaseHeld();
    }
    releaseHeld();
  }

  void releaseHeld() {
    backend_->holdStreamStartCompletions(false);
    backend_->holdStreamStopCompletions(false);
    backend_->releaseStreamStartCompletions();
    backend_->releaseStreamStopCompletions();
    backend_->setShareableContentPending(false);
    backend_->answerShareableContent();
  }

  void unlistenEverything() {
    std::vector<UiCall> calls;
    for (const AudioDevice& device : candidateDevices()) calls.push_back(ui_->unlisten(device));
    for (const UiCall& call : calls) ASSERT_TRUE(call.wait().has_value());
    ASSERT_TRUE(ui_->settle());
  }

  std::size_t registrySize() {
    std::size_t size = 0;
    DispatchQueue::main().sync([&] { size = api_->controllers().size(); });
    return size;
  }
};

TEST_F(HostStressTest, ConcurrentCallsAreAllAnsweredAndTheRegistryWindsDownToNothing) {
  Watchdog watchdog(watchdogLimit);
  const auto until = std::chrono::steady_clock::now() + hammerTime;

  std::vector<std::vector<UiCall>> callsPerThread(uiThreads);
  {
    std::vector<std::thread> threads;
    for (int i = 0; i < uiThreads; ++i) {
      threads.emplace_back([&, i] { callsPerThread[i] = hammer(1000 + i, until); });
    }
    std::thread chaosThread([&] { chaos(7, until); });
    for (auto& thread : threads) thread.join();
    chaosThread.join();
  }
  releaseHeld();
  spendLeftoverFaults(*backend_);
  ASSERT_TRUE(ui_->settle());

  // Every call answered exactly once, and as the bridge promises: success.
  std::size_t total = 0;
  for (const auto& calls : callsPerThread) {
    for (const UiCall& call : calls) {
      ++total;
      ASSERT_TRUE(call.wait(1s).has_value()) << "a call was never answered";
      EXPECT_EQ(call.replyCount(), 1u);
      EXPECT_TRUE(call.reply().isSuccess()) << call.reply().describe();
    }
  }
  EXPECT_GT(total, 100u);
  EXPECT_EQ(ui_->undecodableEventCount(), 0u);

  // After a final unlisten of every id and a quiet period: nothing runs and no
  // audio arrives.
  unlistenEverything();
  expectWholeCapturesPerId(ui_->events());
  EXPECT_EQ(backend_->runningMicrophoneCount(), 0u);
  EXPECT_EQ(backend_->runningStreamCount(), 0u);
  ui_->clearEvents();
  std::this_thread::sleep_for(quietPeriod);
  ASSERT_TRUE(ui_->settle());
  EXPECT_EQ(ui_->eventCount(), 0u) << "events arrived after every capture was stopped";

  // One more unlisten each removes the stopped entries.
  unlistenEverything();
  EXPECT_EQ(registrySize(), 0u);
  EXPECT_EQ(backend_->openMicrophoneCount(), 0u);
  EXPECT_EQ(backend_->openStreamCount(), 0u);
  std::printf("stress: %zu calls from %d UI threads\n", total, uiThreads);
}

}  // namespace
}  // namespace harkwell::test
