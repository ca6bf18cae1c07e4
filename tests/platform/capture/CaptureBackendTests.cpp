#include "platform/capture/CaptureBackend.h"

#include "tests/backends/contract/CaptureBackendContract.h"

namespace harkwell {
namespace {

// At stake: before app/ picks a backend (or after a test resets it) the
// stand-ins must still get a backend whose every operation fails cleanly,
// never a null pointer or a completion that never comes.
TEST(CaptureBackendWithoutBackendTest, RefusesEveryOperationWithAnError) {
  CaptureBackend::setCurrent(nullptr);
  const auto backend = CaptureBackend::current();
  ASSERT_NE(backend, nullptr);
  contract::expectRefusesEverything(*backend);
}

}  // namespace
}  // namespace harkwell
