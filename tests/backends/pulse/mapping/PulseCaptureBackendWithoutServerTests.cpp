#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "backends/pulse/PulseCaptureBackend.h"

namespace harkwell {
namespace {

using namespace std::chrono_literals;

PulseCaptureBackend::Options nowhere() {
  PulseCaptureBackend::Options options;
  options.connection.server = "unix:/nonexistent/harkwell/pulse/native";
  options.connection.deadline = 1s;
  options.probeDeadline = 500ms;
  return options;
}

// At stake: with no sound server at all, the host neither hangs nor crashes;
// every operation answers at once with "nothing" or a clear error, and the app
// can tell that it should pick another backend.
class PulseCaptureBackendWithoutServerTest : public ::testing::Test {};

TEST_F(PulseCaptureBackendWithoutServerTest, EveryOperationAnswersWithNothingOrAnError) {
  std::string whyNot;
  EXPECT_EQ(PulseCaptureBackend::create(nowhere(), &whyNot), nullptr);
  EXPECT_FALSE(whyNot.empty());

  auto backend = std::make_shared<PulseCaptureBackend>(nowhere());
  EXPECT_TRUE(backend->microphones("AVCaptureDeviceTypeMicrophone").empty());
  EXPECT_EQ(backend->microphoneAuthorizationStatus(), CaptureAuthorizationStatus::restricted);
  std::optional<bool> granted;
  backend->requestMicrophoneAccess([&](bool g) { granted = g; });
  EXPECT_EQ(granted, false);
  ShareableContentAnswer answer;
  backend->getShareableContent([&](ShareableContentAnswer a) { answer = std::move(a); });
  EXPECT_TRUE(answer.error);
  EXPECT_THROW(backend->openMicrophone("test_mic"), NSError);

  // Two streams fail to start, the second destroyed before its start ran: each
  // completes once, with an error.
  auto calls = std::make_shared<std::atomic<int>>(0);
  auto done = std::make_shared<std::promise<void>>();
  const auto completion = [calls, done](std::optional<NSError> error) {
    EXPECT_TRUE(error);
    if (calls->fetch_add(1) == 1) done->set_value();
  };
  auto kept = backend->openDisplayStream(1, DisplayStreamSettings{true, 0}, [](NSError) {});
  kept->startCapture(completion);
  backend->openDisplayStream(1, DisplayStreamSettings{true, 0}, [](NSError) {})
      ->startCapture(completion);
  ASSERT_EQ(done->get_future().wait_for(5s), std::future_status::ready);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(calls->load(), 2);
}

}  // namespace
}  // namespace harkwell
