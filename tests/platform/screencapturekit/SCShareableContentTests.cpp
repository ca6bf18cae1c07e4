#include "platform/screencapturekit/SCShareableContent.h"

#include <gtest/gtest.h>

#include <optional>

#include "tests/support/SimulatedTestBackend.h"

namespace harkwell {
namespace {

// At stake: the display query answers exactly once, possibly later; a backend
// that goes away with it pending must still answer, with an error, or the
// caller waits forever. (Delivery, system stops and destruction of streams are
// proven through the stream controller and the fault-injection tests.)
TEST(SCShareableContentTest, APendingQueryIsAnsweredWithAnErrorWhenTheBackendGoesAway) {
  auto backend = SimulatedTestBackend::makeManual();
  CaptureBackend::setCurrent(backend);
  backend->setShareableContentPending(true);
  int answers = 0;
  std::optional<NSError> error;
  SCShareableContent::getShareableContentExcludingDesktopWindows(
      false, true, [&](std::optional<SCShareableContent> content, std::optional<NSError> e) {
        ++answers;
        EXPECT_FALSE(content);
        error = std::move(e);
      });
  EXPECT_EQ(answers, 0);
  CaptureBackend::setCurrent(nullptr);
  backend.reset();
  EXPECT_EQ(answers, 1);
  EXPECT_TRUE(error);
}

}  // namespace
}  // namespace harkwell
