#include "platform/appkit/NSNib.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/appkit/NSApplication.h"
#include "platform/appkit/NSApplicationMain.h"
#include "platform/dispatch/MainRunLoop.h"
#include "tests/platform/appkit/FreshApplication.h"

namespace {

// What each test's objects saw, in the order they saw it.
std::vector<std::string>& journal() {
  static std::vector<std::string> entries;
  return entries;
}

class JournalDelegate : public NSApplicationDelegate {
 public:
  JournalDelegate() { journal().push_back("delegate created"); }
  void applicationDidFinishLaunching(NSApplication&) override {
    journal().push_back("did finish launching");
  }
};

class JournalWindow : public NSWindow {
 public:
  JournalWindow(NSRect contentRect, NSWindowStyleMask styleMask, NSBackingStoreType backing,
                bool defer)
      : NSWindow(contentRect, styleMask, backing, defer) {
    journal().push_back("window created");
  }
  void awakeFromNib() override {
    const bool delegateSet = dynamic_cast<JournalDelegate*>(NSApplication::shared().delegate());
    const bool inWindowList = !NSApplication::shared().windows().empty();
    journal().push_back(std::string("awake, delegate ") + (delegateSet ? "set" : "missing") +
                        ", window " + (inWindowList ? "listed" : "unlisted") + ", main thread " +
                        (MainRunLoop::shared().isMainThread() ? "yes" : "no"));
    // The application's own start-up ends here in these tests.
    NSApplication::shared().terminate(statusOnWake);
  }
  static inline int statusOnWake = 0;
};

// The main interface names its classes; NSApplicationMain must create them by
// name, wire them up in nib order and then run until terminated.
class NSApplicationMainTest : public FreshApplicationTest {
 protected:
  void SetUp() override {
    FreshApplicationTest::SetUp();
    journal().clear();
    NSClassRegistry::registerClass<JournalDelegate>("AppDelegate");
    NSClassRegistry::registerClass<JournalWindow>("MainFlutterWindow");
  }
  void TearDown() override {
    NSClassRegistry::unregisterClass("AppDelegate");
    NSClassRegistry::unregisterClass("MainFlutterWindow");
    FreshApplicationTest::TearDown();
  }

  int runMain() {
    const char* argv[] = {"harkwell", nullptr};
    return NSApplicationMain(1, argv);
  }
};

TEST_F(NSApplicationMainTest, CreatesTheNamedClassesWakesTheWindowAndRunsUntilTerminated) {
  JournalWindow::statusOnWake = 5;
  EXPECT_EQ(runMain(), 5);
  EXPECT_EQ(journal(), (std::vector<std::string>{
                           "delegate created",
                           "window created",
                           "awake, delegate set, window listed, main thread yes",
                           "did finish launching",
                       }));
  ASSERT_EQ(app_.windows().size(), 1u);
  const NSWindow& window = *app_.windows().front();
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(window.isKeyWindow());
  EXPECT_EQ(window.title(), "Harkwell");
  EXPECT_EQ(window.frame(), NSNib::mainInterface().windows.front().parameters.contentRect);
}

TEST_F(NSApplicationMainTest, AMainInterfaceNamingAnUnknownClassFailsWithoutRunning) {
  NSClassRegistry::unregisterClass("MainFlutterWindow");
  EXPECT_EQ(runMain(), 1);
  EXPECT_TRUE(app_.windows().empty());
  EXPECT_EQ(app_.delegate(), nullptr);
}

}  // namespace
