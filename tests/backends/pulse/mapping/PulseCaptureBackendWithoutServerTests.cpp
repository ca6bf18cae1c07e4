#include <gtest/gtest.h>

#include <future>

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

TEST_F(PulseCaptureBackendWithoutServerTest, CreateSaysWhyThereIsNoBackend) {
  std::string whyNot;
  EXPECT_EQ(PulseCaptureBackend::create(nowhere(), &whyNot), nullptr);
  EXPECT_FALSE(whyNot.empty());
}

TEST_F(PulseCaptureBackendWithoutServerTest, EveryOperationAnswersWithNothingOrAnError) {
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

  auto stream = backend->openDisplayStream(1, DisplayStreamSettings{true, 0}, [](NSError) {});
  std::promise<std::optional<NSError>> started;
  stream->startCapture([&](std::optional<NSError> error) { started.set_value(std::move(error)); });
  auto result = started.get_future();
  ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(result.get());
}

TEST_F(PulseCaptureBackendWithoutServerTest, AStreamDestroyedBeforeItsStartRanStillCompletesOnce) {
  auto backend = std::make_shared<PulseCaptureBackend>(nowhere());
  auto calls = std::make_shared<std::atomic<int>>(0);
  auto done = std::make_shared<std::promise<void>>();
  {
    auto stream = backend->openDisplayStream(1, DisplayStreamSettings{true, 0}, [](NSError) {});
    stream->startCapture([calls, done](std::optional<NSError> error) {
      EXPECT_TRUE(error);
      if (calls->fetch_add(1) == 0) done->set_value();
    });
  }
  ASSERT_EQ(done->get_future().wait_for(5s), std::future_status::ready);
  EXPECT_EQ(calls->load(), 1);
}

}  // namespace
}  // namespace harkwell
