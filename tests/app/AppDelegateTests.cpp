#include "app/AppDelegate.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/platform/appkit/FreshApplication.h"

namespace harkwell {
namespace {

// A window that logs what the delegate does to it, with the number of
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
    if (!bringingForward_)
      log_.push_back(name_ + ".setIsVisible(" + (visible ? "true" : "false") + ")");
    NSWindow::setIsVisible(visible);
  }
  void makeKeyAndOrderFront(NSObject* sender) override {
    log_.push_back(name_ + ".makeKeyAndOrderFront(" + senderName(sender) + ") after " +
                   std::to_string(NSApplication::shared().activationCount()) + " activations");
    bringingForward_ = true;
    NSWindow::makeKeyAndOrderFront(sender);
    bringingForward_ = false;
  }

  NSObject* delegate = nullptr;

 private:
  std::string senderName(NSObject* sender) const {
    if (sender == nullptr) return "null";
    return sender == delegate ? "delegate" : "other";
  }

  std::string name_;
  std::vector<std::string>& log_;
  bool bringingForward_ = false;
};

// At stake: a reopen with no visible window must bring back every window of
// the application, each shown and brought forward in list order with one
// activation per window; with a visible window nothing may change.
class AppDelegateReopenTest : public FreshApplicationTest {
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

TEST_F(AppDelegateReopenTest, WithVisibleWindowsChangesNothingAndReturnsTrue) {
  auto shown = addWindow("a", true);
  auto hidden = addWindow("b", false);

  EXPECT_TRUE(delegate_->applicationShouldHandleReopen(app_, true));

  EXPECT_TRUE(log_.empty());
  EXPECT_FALSE(hidden->isVisible());
  EXPECT_EQ(app_.activationCount(), 0);
}

TEST_F(AppDelegateReopenTest, WithNoWindowsAtAllReturnsTrueAndActivatesNothing) {
  EXPECT_TRUE(delegate_->applicationShouldHandleReopen(app_, false));
  EXPECT_EQ(app_.activationCount(), 0);
}

TEST_F(AppDelegateReopenTest, ShowsTwoHiddenWindowsInListOrderActivatingOncePerWindow) {
  auto first = addWindow("a", false);
  auto second = addWindow("b", false);

  EXPECT_TRUE(delegate_->applicationShouldHandleReopen(app_, false));

  EXPECT_EQ(log_,
            (std::vector<std::string>{
                "a.setIsVisible(true)", "a.makeKeyAndOrderFront(delegate) after 0 activations",
                "b.setIsVisible(true)", "b.makeKeyAndOrderFront(delegate) after 1 activations"}));
  EXPECT_EQ(app_.activationCount(), 2);
  EXPECT_TRUE(first->isVisible());
  EXPECT_TRUE(second->isKeyWindow());
  EXPECT_EQ(app_.orderedVisibleWindows(), (std::vector<NSWindow*>{second.get(), first.get()}));
}

TEST_F(AppDelegateReopenTest, BringsForwardAWindowThatIsAlreadyVisibleWithoutShowingItAgain) {
  addWindow("a", true);
  addWindow("b", false);

  EXPECT_TRUE(delegate_->applicationShouldHandleReopen(app_, false));

  EXPECT_EQ(log_,
            (std::vector<std::string>{"a.makeKeyAndOrderFront(delegate) after 0 activations",
                                      "b.setIsVisible(true)",
                                      "b.makeKeyAndOrderFront(delegate) after 1 activations"}));
  EXPECT_EQ(app_.activationCount(), 2);
}

TEST_F(AppDelegateReopenTest, TheApplicationsReopenAfterClosingTheOnlyWindowShowsItAgain) {
  app_.setDelegate(delegate_);
  auto window = addWindow("main", true);
  window->close();
  log_.clear();

  app_.handleReopen();

  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(app_.activationCount(), 1);
}

// At stake: the process must outlive its last window; only an explicit
// terminate ends the run loop.
class AppDelegateLastWindowTest : public FreshApplicationTest {};

TEST_F(AppDelegateLastWindowTest, ClosingTheMainWindowLeavesTheRunLoopRunning) {
  app_.setDelegate(std::make_shared<AppDelegate>());
  auto window = std::make_shared<NSWindow>(NSMakeRect(0, 0, 800, 600), NSWindowStyleMask::titled,
                                           NSBackingStoreType::buffered, false);
  app_.addWindow(window);
  window->makeKeyAndOrderFront(nullptr);

  window->close();

  EXPECT_FALSE(loopWasStopped());
  EXPECT_FALSE(app_.hasTerminated());
}

}  // namespace
}  // namespace harkwell
