// Ten thousand listen/unlisten cycles through the whole host, microphones and
// displays in turn, on the manual simulated backend: no clock, no real-time
// waits, so the run stays short even under ASan. CI runs it with leak
// detection; the figures it prints show that nothing else piles up either.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/capture/HostLog.h"
#include "audio/service/BridgeApi.h"
#include "bridge/BridgeFlutterApi.h"
#include "bridge/BridgeHostApiSetup.h"
#include "platform/capture/CaptureBackend.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/flutter/FlutterEngine.h"
#include "tests/soak/ProcessFigures.h"
#include "tests/support/HostOnMainLoop.h"
#include "tests/support/SimulatedTestBackend.h"
#include "tests/support/UiDriver.h"

#if defined(__SANITIZE_ADDRESS__)
// ASan holds freed memory back for a while (256 MiB by default) to catch use
// after free; that would read as growth here. A small quarantine still catches
// the reuse within a cycle. ASAN_OPTIONS given at run time still apply on top.
extern "C" const char* __asan_default_options() {
  return "quarantine_size_mb=16";
}
#endif

namespace harkwell::test {
namespace {

using harkwell::testing::HostOnMainLoop;
using harkwell::testing::UiDriver;
using harkwell::testing::UiReply;

constexpr int cycles = 10000;
constexpr int warmUpCycles = 100;
// Bounds on growth from the end of the warm-up to the end of the run.
constexpr std::size_t threadSlack = 4;  // idle background workers come and go
constexpr std::size_t openFileSlack = 2;
constexpr std::size_t residentSlack = 24u << 20;

const AudioDevice microphone{"Soak Microphone", AudioDeviceType::input, "soak-mic", true};
const AudioDevice display{"Display 1", AudioDeviceType::output, "1", true};

// At stake: a host that runs for days sees this many captures come and go;
// each must give back its queues, threads, buffers and events.
class CaptureCycleSoakTest : public ::testing::Test, protected HostOnMainLoop {
 protected:
  CaptureCycleSoakTest() : HostOnMainLoop(SimulatedTestBackend::makeManual()) {
    backend_->addMicrophone({microphone.id, microphone.name});
    backend_->addDisplay(1);
  }

  void expectSuccess(const harkwell::testing::UiCall& call) {
    const UiReply reply = call.reply();
    ASSERT_TRUE(reply.isSuccess()) << reply.describe();
  }

  // listen, one buffer of audio, unlisten (stops), unlisten (removes).
  void cycle(const AudioDevice& device) {
    const std::size_t before = ui_->deviceEvents().size();
    expectSuccess(ui_->listen(device));
    // A display starts from a background task; wait for its deviceStart.
    ASSERT_TRUE(ui_->waitForDeviceEvents(before + 1));
    const CMSampleBufferRef buffer =
        CMSampleBufferCreateWithFloat32Channels(48000, {std::vector<float>(480, 0.25f)});
    const std::size_t delivered =
        device.type == AudioDeviceType::input
            ? backend_->deliverToMicrophone(device.id, buffer)
            : backend_->deliverToDisplay(1, DisplayOutputKind::audio, buffer);
    ASSERT_EQ(delivered, 1u);
    expectSuccess(ui_->unlisten(device));
    expectSuccess(ui_->unlisten(device));
  }

  // Checks what the last cycles sent and forgets it, so that the driver's own
  // record does not grow with the run.
  void checkAndForgetEvents(int cyclesRun) {
    ASSERT_TRUE(ui_->settle());
    EXPECT_EQ(ui_->deviceEvents().size(), static_cast<std::size_t>(3 * cyclesRun));
    EXPECT_EQ(ui_->audioTally(microphone.id).events + ui_->audioTally(display.id).events,
              static_cast<std::size_t>(cyclesRun));
    EXPECT_EQ(backend_->openMicrophoneCount(), 0u);
    EXPECT_EQ(backend_->openStreamCount(), 0u);
    ui_->clearEvents();
  }
};

TEST_F(CaptureCycleSoakTest, TenThousandCyclesLeaveThreadsFilesAndMemoryWhereTheyWere) {
  ProcessFigures warm;
  for (int i = 0; i < cycles; ++i) {
    ASSERT_NO_FATAL_FAILURE(cycle(i % 2 == 0 ? microphone : display)) << "cycle " << i;
    if ((i + 1) % warmUpCycles == 0) {
      ASSERT_NO_FATAL_FAILURE(checkAndForgetEvents(warmUpCycles)) << "after cycle " << i;
      if (i + 1 == warmUpCycles) warm = ProcessFigures::now();
    }
  }
  const ProcessFigures end = ProcessFigures::now();

  std::printf("soak: after %d cycles: threads %zu, open files %zu, resident %zu KiB\n",
              warmUpCycles, warm.threads, warm.openFiles, warm.residentBytes >> 10);
  std::printf("soak: after %d cycles: threads %zu, open files %zu, resident %zu KiB\n", cycles,
              end.threads, end.openFiles, end.residentBytes >> 10);
  EXPECT_LE(end.threads, warm.threads + threadSlack);
  EXPECT_LE(end.openFiles, warm.openFiles + openFileSlack);
  EXPECT_LE(end.residentBytes, warm.residentBytes + residentSlack);
}

}  // namespace
}  // namespace harkwell::test
