#include "app/AppDelegate.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "tests/platform/appkit/FreshApplication.h"

namespace harkwell {
namespace {

class AppDelegateTest : public FreshApplicationTest {
 protected:
  std::shared_ptr<NSWindow> addWindow(bool visible) {
    auto window = std::make_shared<NSWindow>(NSMakeRect(0, 0, 400, 300), NSWindowStyleMask::titled,
                                             NSBackingStoreType::buffered, false);
    window->setIsVisible(visible);
    app_.addWindow(window);
    return window;
  }

  std::shared_ptr<AppDelegate> delegate_ = std::make_shared<AppDelegate>();
};

// At stake: the process outlives its last window; a reopen with a visible
// window changes nothing, and without one brings back every window of the
// application, brought forward in list order with one activation per window.
TEST_F(AppDelegateTest, TheProcessOutlivesItsWindowsWhichAReopenBringsBack) {
  app_.setDelegate(delegate_);
  auto first = addWindow(true);
  auto second = addWindow(false);
  EXPECT_TRUE(delegate_->applicationShouldHandleReopen(app_, true));
  EXPECT_EQ(app_.activationCount(), 0) << "a visible window: nothing to do";

  first->close();
  EXPECT_FALSE(loopWasStopped() || app_.hasTerminated());
  app_.handleReopen();
  EXPECT_EQ(app_.activationCount(), 2);
  EXPECT_TRUE(second->isKeyWindow());
  EXPECT_EQ(app_.orderedVisibleWindows(), (std::vector<NSWindow*>{second.get(), first.get()}));
}

}  // namespace
}  // namespace harkwell
