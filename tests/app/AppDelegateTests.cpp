#include "app/AppDelegate.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/platform/appkit/FreshApplication.h"

namespace harkwell {
namespace {

// A window that logs being shown and brought forward, with the number of
// activations so far, so that the order of showing and activating shows.
class RecordingWindow final : public NSWindow {
 public:
  RecordingWindow(std::string name, std::vector<std::string>& log)
      : NSWindow(NSMakeRect(0, 0, 400, 300), NSWindowStyleMask::titled,
                 NSBackingStoreType::buffered, false),
        name_(std::move(name)),
        log_(log) {}

  void setIsVisible(bool visible) override {
    // Showing the window is part of bringing it forward; log only direct calls.
    if (!bringingForward_) log_.push_back(name_ + ".show(" + (visible ? "true" : "false") + ")");
    NSWindow::setIsVisible(visible);
  }
  void makeKeyAndOrderFront(NSObject* sender) override {
    log_.push_back(name_ + ".front(" + (sender == delegate ? "delegate" : "other") + ") after " +
                   std::to_string(NSApplication::shared().activationCount()));
    bringingForward_ = true;
    NSWindow::makeKeyAndOrderFront(sender);
    bringingForward_ = false;
  }

  NSObject* delegate = nullptr;

 private:
  std::string name_;
  std::vector<std::string>& log_;
  bool bringingForward_ = false;
};

// At stake: a reopen with no visible window must bring back every window of
// the application, each shown (unless it already is) and brought forward in
// list order with one activation per window; with a visible window nothing may
// change; and the process outlives its last window.
class AppDelegateTest : public FreshApplicationTest {
 protected:
  std::shared_ptr<RecordingWindow> addWindow(const std::string& name, bool visible) {
    auto window = std::make_shared<RecordingWindow>(name, log_);
    window->delegate = delegate_.get();
    window->NSWindow::setIsVisible(visible);
    app_.addWindow(window);
    return window;
  }

  std::shared_ptr<AppDelegate> delegate_ = std::make_shared<AppDelegate>();
  std::vector<std::string> log_;
};

TEST_F(AppDelegateTest, ReopenWithAVisibleWindowChangesNothing) {
  addWindow("a", true);
  auto hidden = addWindow("b", false);
  EXPECT_TRUE(delegate_->applicationShouldHandleReopen(app_, true));
  EXPECT_TRUE(log_.empty());
  EXPECT_FALSE(hidden->isVisible());
  EXPECT_EQ(app_.activationCount(), 0);
}

TEST_F(AppDelegateTest, ReopenWithoutVisibleWindowsBringsEachForwardInListOrder) {
  auto first = addWindow("a", false);
  auto second = addWindow("b", false);
  auto third = addWindow("c", true);  // visible, yet the application said none was
  EXPECT_TRUE(delegate_->applicationShouldHandleReopen(app_, false));
  EXPECT_EQ(log_,
            (std::vector<std::string>{"a.show(true)", "a.front(delegate) after 0", "b.show(true)",
                                      "b.front(delegate) after 1", "c.front(delegate) after 2"}));
  EXPECT_EQ(app_.activationCount(), 3);
  EXPECT_TRUE(third->isKeyWindow());
  EXPECT_EQ(app_.orderedVisibleWindows(),
            (std::vector<NSWindow*>{third.get(), second.get(), first.get()}));
}

TEST_F(AppDelegateTest, ClosingTheOnlyWindowKeepsTheProcessAndAReopenShowsItAgain) {
  app_.setDelegate(delegate_);
  auto window = addWindow("main", true);
  window->makeKeyAndOrderFront(nullptr);
  window->close();
  EXPECT_FALSE(loopWasStopped());
  EXPECT_FALSE(app_.hasTerminated());

  app_.handleReopen();
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(app_.activationCount(), 1);
}

}  // namespace
}  // namespace harkwell
