#include "audio/service/AwaitCompletion.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <thread>

namespace harkwell::test {
namespace {

// At stake: a background task that waits for a platform answer gets that
// answer, from any thread, and is never left waiting when the platform breaks
// its promise (drops the completion, throws, or answers twice).
TEST(AwaitCompletionTest, GetsTheAnswerOrTheFallbackWhenThePromiseBreaks) {
  std::thread platform;
  EXPECT_EQ(
      awaitCompletion(
          [&](auto done) { platform = std::thread([done = std::move(done)] { done(42); }); }, 0),
      42);
  platform.join();
  std::function<void(int)> held;
  auto drop = [&](auto done) {
    held = std::move(done);
    platform = std::thread([&held] { held = nullptr; });
  };
  EXPECT_EQ(awaitCompletion(drop, -1), -1);
  platform.join();
  EXPECT_EQ(awaitCompletion([](auto) { throw std::runtime_error("no service"); }, -1), -1);
  EXPECT_EQ(awaitCompletion([](auto done) { done(1), done(2); }, 0), 1);
}

}  // namespace
}  // namespace harkwell::test
