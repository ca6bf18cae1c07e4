#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/flutter/FlutterViewController.h"
#include "tests/platform/flutter/FlutterMessagingTestSupport.h"

namespace harkwell::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Puts the process-wide default UI program back when the test ends.
// Thread affinity: the test's thread.
class ScopedDefaultUiProgram {
 public:
  explicit ScopedDefaultUiProgram(FlutterUiProgram program)
      : previous_(FlutterEngine::defaultUiProgram()) {
    FlutterEngine::setDefaultUiProgram(std::move(program));
  }
  ~ScopedDefaultUiProgram() { FlutterEngine::setDefaultUiProgram(std::move(previous_)); }
  ScopedDefaultUiProgram(const ScopedDefaultUiProgram&) = delete;
  ScopedDefaultUiProgram& operator=(const ScopedDefaultUiProgram&) = delete;

 private:
  FlutterUiProgram previous_;
};

// At stake: the application's view controller runs the UI program the app
// chose, and its plug-in registry records registrations in the order made,
// handing out registrars that reach the engine.
class FlutterViewControllerTest : public testing::Test {};

TEST_F(FlutterViewControllerTest, EngineRunsTheDefaultUiProgramAndIsReachableAtOnce) {
  TestRecorder<std::string> hostReceived;
  ScopedDefaultUiProgram program(
      [](FlutterUiSide& ui) { ui.sendToHost("hello", bytesOf("from the UI"), {}); });
  FlutterViewController controller;

  controller.engine().binaryMessenger().setMessageHandlerOnChannel(
      "hello", [&](Bytes message, FlutterBinaryReply) { hostReceived.add(textOf(message)); });

  ASSERT_TRUE(pumpMainUntil([&] { return hostReceived.size() == 1; }));
  EXPECT_EQ(hostReceived.values()[0], "from the UI");
}

TEST_F(FlutterViewControllerTest, RegistryRecordsKeysInRequestOrderAndRegistrarsReachTheEngine) {
  FlutterViewController controller;
  FlutterPluginRegistry& registry = controller;

  FlutterPluginRegistrar& first = registry.registrarForPlugin("WindowManagerPlugin");
  registry.registrarForPlugin("AppkitUiElementColorsPlugin");
  FlutterPluginRegistrar& again = registry.registrarForPlugin("WindowManagerPlugin");

  EXPECT_EQ(controller.requestedPluginKeys(),
            (std::vector<std::string>{"WindowManagerPlugin", "AppkitUiElementColorsPlugin",
                                      "WindowManagerPlugin"}));
  EXPECT_EQ(&first, &again);

  TestRecorder<std::string> answers;
  first.messenger().setMessageHandlerOnChannel(
      "plugin", [](Bytes, FlutterBinaryReply reply) { reply(bytesOf("plugin here")); });
  controller.engine().uiSide().sendToHost("plugin", {}, [&](std::optional<Bytes> reply) {
    answers.add(reply ? textOf(*reply) : "<null>");
  });
  ASSERT_TRUE(pumpMainUntil([&] { return answers.size() == 1; }));
  EXPECT_EQ(answers.values()[0], "plugin here");
}

}  // namespace
}  // namespace harkwell::test
