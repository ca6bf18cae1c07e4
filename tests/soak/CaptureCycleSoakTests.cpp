// Ten thousand listen/unlisten cycles through the whole host, microphones and
// displays in turn, on the manual simulated backend: no clock, no real-time
// waits, so the run stays short even under ASan. CI runs it with leak
// detection; the figures it prints show that nothing else piles up either.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/support/HostOnMainLoop.h"

// Heap bytes in use, not resident pages: the allocator's caches (and ASan's
// quarantine of freed memory) would read as growth.
#if defined(__SANITIZE_ADDRESS__)
// ASan's allocator interface, which g++ ships no header for.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
static std::size_t heapInUse() {
  return __sanitizer_get_current_allocated_bytes();
}
#else
#include <malloc.h>
static std::size_t heapInUse() {
  return mallinfo2().uordblks + mallinfo2().hblkhd;
}
#endif

namespace harkwell::test {
namespace {

// Threads, open files (less the one listing them) and heap bytes in use.
struct Figures {
  std::size_t threads, files, heap;
  static Figures now() {
    using Dir = std::filesystem::directory_iterator;
    return {static_cast<std::size_t>(std::distance(Dir("/proc/self/task"), Dir())),
            static_cast<std::size_t>(std::distance(Dir("/proc/self/fd"), Dir())) - 1, heapInUse()};
  }
};

const AudioDevice microphone{"Soak Microphone", AudioDeviceType::input, "soak-mic", true};
const AudioDevice display{"Display 1", AudioDeviceType::output, "1", true};

// At stake: a host that runs for days sees this many captures come and go;
// each must give back its queues, threads, buffers and events.
class CaptureCycleSoakTest : public ::testing::Test, protected harkwell::testing::HostOnMainLoop {
 protected:
  CaptureCycleSoakTest() : HostOnMainLoop(SimulatedTestBackend::makeManual()) {
    backend_->addMicrophone({microphone.id, microphone.name});
    backend_->addDisplay(1);
    ui_->setKeepsAudioData(false);
  }

  // listen, one buffer of audio, unlisten (stops), unlisten (removes).
  void cycle(const AudioDevice& device, std::size_t startsBefore) {
    ASSERT_TRUE(ui_->listen(device).reply().isSuccess());
    ASSERT_TRUE(ui_->waitForDeviceEvents(startsBefore + 1));  // a display starts in the background
    const auto buffer = CMSampleBufferCreateWithFloat32Channels(48000, {std::vector<float>(480)});
    ASSERT_EQ(device.type == AudioDeviceType::input
                  ? backend_->deliverToMicrophone(device.id, buffer)
                  : backend_->deliverToDisplay(1, DisplayOutputKind::audio, buffer),
              1u);
    ASSERT_TRUE(ui_->unlisten(device).reply().isSuccess());
    ASSERT_TRUE(ui_->unlisten(device).reply().isSuccess());
  }

  ScopedHostLogSink quiet_{[](std::string_view) {}};  // lines kept would read as growth
};

TEST_F(CaptureCycleSoakTest, TenThousandCyclesLeaveThreadsFilesAndMemoryWhereTheyWere) {
  constexpr int cycles = 10000, batch = 100;
  Figures warm{};
  for (int i = 0; i < cycles; ++i) {
    const std::size_t sent = 3 * (i % batch);
    ASSERT_NO_FATAL_FAILURE(cycle(i % 2 ? display : microphone, sent)) << "cycle " << i;
    if ((i + 1) % batch != 0) continue;
    // What the batch sent, then forgotten, so that the driver's record stays flat.
    ASSERT_TRUE(ui_->settle());
    ASSERT_EQ(ui_->deviceEvents().size(), 3u * batch);
    ASSERT_EQ(ui_->audioTally(microphone.id).events + ui_->audioTally(display.id).events, batch);
    ASSERT_EQ(backend_->openMicrophoneCount() + backend_->openStreamCount(), 0u);
    ui_->clearEvents();
    if (i + 1 == batch) warm = Figures::now();
  }
  const Figures end = Figures::now();
  std::printf("soak: threads %zu -> %zu, open files %zu -> %zu, heap %zu -> %zu KiB\n",
              warm.threads, end.threads, warm.files, end.files, warm.heap >> 10, end.heap >> 10);
  EXPECT_LE(end.threads, warm.threads + 4);  // idle background workers come and go
  EXPECT_LE(end.files, warm.files + 2);
  EXPECT_LE(end.heap, warm.heap + (64u << 10)) << "some bytes kept per cycle";
}

}  // namespace
}  // namespace harkwell::test
