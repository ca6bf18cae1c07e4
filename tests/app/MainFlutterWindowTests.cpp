#include "app/MainFlutterWindow.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/plugins/PluginRegistrationLog.h"
#include "backends/simulated/SimulatedCaptureBackend.h"
#include "platform/flutter/FlutterViewController.h"
#include "tests/platform/appkit/FreshApplication.h"

namespace harkwell {
namespace {

// At stake: waking the window registers each of the sixteen plug-ins once, in
// the UI's order, with the registrar the controller hands out for its own key.
class MainFlutterWindowTest : public FreshApplicationTest {
 protected:
  void SetUp() override {
    FreshApplicationTest::SetUp();
    PluginRegistrationLog::shared().clear();
    CaptureBackend::setCurrent(SimulatedCaptureBackend::makeManual());
  }
  void TearDown() override {
    FreshApplicationTest::TearDown();  // destroys the window and with it the engine
    CaptureBackend::setCurrent(nullptr);
    PluginRegistrationLog::shared().clear();
  }
};

TEST_F(MainFlutterWindowTest, RegistersTheSixteenPluginsInOrderWithTheirOwnRegistrars) {
  auto window = std::make_shared<MainFlutterWindow>(
      NSMakeRect(10, 20, 640, 480), NSWindowStyleMask::titled, NSBackingStoreType::buffered, false);
  app_.addWindow(window);
  window->awakeFromNib();
  auto* controller = dynamic_cast<FlutterViewController*>(window->contentViewController());
  ASSERT_NE(controller, nullptr);

  const std::vector<std::string> keys = {
      "AppkitUiElementColorsPlugin", "ClipboardWatcherPlugin",
      "DeviceInfoPlusMacosPlugin",   "FlutterScreenCapturePlugin",
      "FlutterWindowClosePlugin",    "HotkeyManagerMacosPlugin",
      "LocalNotifierPlugin",         "MacOSUiPlugin",
      "MacOSWindowUtilsPlugin",      "NetworkInfoPlusPlugin",
      "FPPPackageInfoPlusPlugin",    "PathProviderPlugin",
      "ScreenRetrieverPlugin",       "TrayManagerPlugin",
      "UrlLauncherPlugin",           "WindowManagerPlugin"};
  EXPECT_EQ(controller->requestedPluginKeys(), keys);
  const auto entries = PluginRegistrationLog::shared().entries();
  ASSERT_EQ(entries.size(), keys.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].pluginClass, keys[i]);
    // Asking again hands out the same registrar; only after the key check above.
    EXPECT_EQ(entries[i].registrar, &controller->registrarForPlugin(keys[i])) << keys[i];
  }
}

}  // namespace
}  // namespace harkwell
