#include "platform/capture/CaptureBackend.h"

#include <gtest/gtest.h>

#include <optional>

namespace harkwell {
namespace {

// At stake: before app/ picks a backend (or after a test resets it) the
// stand-ins must still get a backend whose every operation fails cleanly,
// never a null pointer or a completion that never comes.
class CaptureBackendWithoutBackendTest : public ::testing::Test {
 protected:
  void SetUp() override { CaptureBackend::setCurrent(nullptr); }
};

TEST_F(CaptureBackendWithoutBackendTest, RefusesEveryOperationWithAnError) {
  auto backend = CaptureBackend::current();
  ASSERT_NE(backend, nullptr);
  std::optional<bool> granted;
  backend->requestMicrophoneAccess([&](bool answer) { granted = answer; });
  EXPECT_EQ(granted, false);
  EXPECT_THROW(backend->openMicrophone("any"), NSError);

  std::optional<ShareableContentAnswer> answer;
  backend->getShareableContent([&](ShareableContentAnswer a) { answer = std::move(a); });
  ASSERT_TRUE(answer);
  EXPECT_TRUE(answer->error);

  auto stream = backend->openDisplayStream(1, {}, nullptr);
  std::optional<std::optional<NSError>> started;
  stream->startCapture([&](std::optional<NSError> error) { started = std::move(error); });
  ASSERT_TRUE(started);
  EXPECT_TRUE(*started);
}

}  // namespace
}  // namespace harkwell
