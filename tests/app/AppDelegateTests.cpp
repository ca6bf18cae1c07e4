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

// At stake: a reopen with a visible window changes nothing; without one it
// brings back every window of the application, brought forward in list order
// with one activation per window.
TEST_F(AppDelegateTest, ReopenBringsEveryWindowForwardOnlyWhenNoneIsVisible) {
  auto first = addWindow(true);
  auto second = addWindow(false);
  EXPECT_TRUE(delegate_->applicationShouldHandleReopen(app_, true));
  EXPECT_FALSE(second->isVisible());
  EXPECT_EQ(app_.activationCount(), 0);

  first->setIsVisible(false);
  auto third = addWindow(true);  // visible, yet the application said none was
  EXPECT_TRUE(delegate_->applicationShouldHandleReopen(app_, false));
  EXPECT_EQ(app_.activationCount(), 3);
  EXPECT_TRUE(third->isKeyWindow());
  EXPECT_EQ(app_.orderedVisibleWindows(),
            (std::vector<NSWindow*>{third.get(), second.get(), first.get()}));
}

// At stake: the process outlives its last window, and a reopen shows it again.
TEST_F(AppDelegateTest, ClosingTheOnlyWindowKeepsTheProcessAndAReopenShowsItAgain) {
  app_.setDelegate(delegate_);
  auto window = addWindow(true);
  window->close();
  EXPECT_FALSE(loopWasStopped());
  EXPECT_FALSE(app_.hasTerminated());
  app_.handleReopen();
  EXPECT_TRUE(window->isVisible());
}

}  // namespace
}  // namespace harkwell
