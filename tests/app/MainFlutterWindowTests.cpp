#include "app/MainFlutterWindow.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/plugins/PluginRegistrationLog.h"
#include "backends/simulated/SimulatedCaptureBackend.h"
#include "bridge/BridgeFlutterApiCodec.h"
#include "bridge/NativeAudioEvent.h"
#include "platform/appkit/NSWorkspace.h"
#include "platform/flutter/FlutterViewController.h"
#include "tests/app/AppTestSupport.h"
#include "tests/bridge/BridgeChannelTestSupport.h"
#include "tests/platform/appkit/FreshApplication.h"

namespace harkwell {
namespace {

using test::Bytes;

constexpr const char* kMicrophone = "mic-1";

// Wakes a MainFlutterWindow as the main interface does, over a manual
// simulated backend with one microphone and with link opening switched off.
class MainFlutterWindowFixture : public FreshApplicationTest {
 protected:
  void SetUp() override {
    FreshApplicationTest::SetUp();
    PluginRegistrationLog::shared().clear();
    NSWorkspace::sharedWorkspace().setOpensLinks(false);
    backend_->addMicrophone({kMicrophone, "Desk Microphone"});
    CaptureBackend::setCurrent(backend_);
    window_ = std::make_shared<MainFlutterWindow>(
        NSMakeRect(10, 20, 640, 480), NSWindowStyleMask::titled | NSWindowStyleMask::closable,
        NSBackingStoreType::buffered, false);
    app_.addWindow(window_);
    window_->awakeFromNib();
    controller_ = dynamic_cast<FlutterViewController*>(window_->contentViewController());
    ASSERT_NE(controller_, nullptr);
  }

  void TearDown() override {
    controller_ = nullptr;
    window_.reset();
    FreshApplicationTest::TearDown();  // destroys the window and with it the engine
    CaptureBackend::setCurrent(nullptr);
    NSWorkspace::sharedWorkspace().clearOpenedURLs();
    PluginRegistrationLog::shared().clear();
  }

  FlutterEngine& engine() { return controller_->engine(); }

  test::ScopedUiProgram idleUi_{FlutterUiProgram{}};
  std::shared_ptr<SimulatedCaptureBackend> backend_ = SimulatedCaptureBackend::makeManual();
  std::shared_ptr<MainFlutterWindow> window_;
  FlutterViewController* controller_ = nullptr;
};

// At stake: waking the window installs the engine's view controller without
// moving the window, and registers the plug-ins before the bridge exists.
class MainFlutterWindowAwakeTest : public MainFlutterWindowFixture {};

TEST_F(MainFlutterWindowAwakeTest, InstallsTheViewControllerAndKeepsTheFrame) {
  EXPECT_EQ(window_->frame(), NSMakeRect(10, 20, 640, 480));
}

TEST_F(MainFlutterWindowAwakeTest, RegistersTheSixteenPluginsInTableOrderWithTheirRegistrars) {
  EXPECT_EQ(controller_->requestedPluginKeys(), test::expectedPluginKeys());
  const auto entries = PluginRegistrationLog::shared().entries();
  ASSERT_EQ(entries.size(), 16u);
  for (const auto& entry : entries) {
    // Asking again hands out the same registrar; do it only after the check above.
    EXPECT_EQ(entry.registrar, &controller_->registrarForPlugin(entry.pluginClass))
        << entry.pluginClass;
  }
}

// The call each operation's channel gets in these tests, and whether its reply
// carries a value.
struct ChannelCase {
  const char* operation;
  CodecValue message;
};

std::vector<ChannelCase> channelCases() {
  const CodecValue unknownDevice = CodecList{
      CodecCustomValue::make(AudioDevice{"Nobody", AudioDeviceType::input, "none", false})};
  return {
      {"getDevices", CodecList{CodecValue(std::int32_t{0})}},
      {"listen", unknownDevice},
      {"unlisten", unknownDevice},
      {"checkPermission", CodecNull{}},
      {"requestPermission", CodecList{CodecValue(std::int32_t{0})}},
  };
}

// At stake: the UI reaches the host only under the exact channel names, with
// no suffix; a name with a suffix is nobody's and gets a null reply.
class MainFlutterWindowChannelTest : public MainFlutterWindowFixture,
                                     public ::testing::WithParamInterface<std::size_t> {
 protected:
  const ChannelCase& channel() {
    static const std::vector<ChannelCase> cases = channelCases();
    return cases.at(GetParam());
  }
};

TEST_P(MainFlutterWindowChannelTest, AnswersUnderTheExactName) {
  const std::string name =
      std::string("dev.flutter.pigeon.harkwell_bridge.BridgeHostApi.") + channel().operation;
  const auto replies = test::callFromUi(engine(), name, test::hostBytes(channel().message));
  ASSERT_EQ(replies.size(), 1u);
  ASSERT_TRUE(replies[0].bytes.has_value());
  const CodecValue reply = test::decodeHostReply(*replies[0].bytes);
  ASSERT_TRUE(reply.is<CodecList>());
  EXPECT_EQ(reply.getIf<CodecList>()->size(), 1u) << "a success reply";
}

TEST_P(MainFlutterWindowChannelTest, GivesNoReplyUnderASuffixedName) {
  const std::string name = std::string("dev.flutter.pigeon.harkwell_bridge.BridgeHostApi.") +
                           channel().operation + ".suffix";
  const auto replies = test::callFromUi(engine(), name, test::hostBytes(channel().message));
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_FALSE(replies[0].bytes.has_value());
}

INSTANTIATE_TEST_SUITE_P(FiveOperations, MainFlutterWindowChannelTest,
                         ::testing::Range<std::size_t>(0, 5),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                           return std::string(channelCases()[info.param].operation);
                         });

// At stake: the bridge is wired end to end: the microphones listed are the
// backend's, and a listen reaches the UI as deviceStart on the event channel
// without a suffix.
class MainFlutterWindowBridgeTest : public MainFlutterWindowFixture {};

TEST_F(MainFlutterWindowBridgeTest, ListsTheBackendsMicrophones) {
  const auto replies =
      test::callFromUi(engine(), "dev.flutter.pigeon.harkwell_bridge.BridgeHostApi.getDevices",
                       test::hostBytes(CodecList{CodecValue(std::int32_t{0})}));
  ASSERT_EQ(replies.size(), 1u);
  ASSERT_TRUE(replies[0].bytes.has_value());
  const CodecValue reply = test::decodeHostReply(*replies[0].bytes);
  const CodecValue expected = CodecList{CodecList{CodecCustomValue::make(
      AudioDevice{"Desk Microphone", AudioDeviceType::input, kMicrophone, true})}};
  EXPECT_EQ(reply, expected);
}

TEST_F(MainFlutterWindowBridgeTest, AListenReachesTheUiAsDeviceStartOnTheEventChannel) {
  auto events = std::make_shared<test::TestRecorder<NativeAudioEvent>>();
  engine().uiSide().setHandler(
      "dev.flutter.pigeon.harkwell_bridge.BridgeFlutterApi.onEvent",
      [events](Bytes message, FlutterBinaryReply reply) {
        CodecDecodeResult decoded = BridgeFlutterApiCodec::shared().decode(message);
        if (decoded.ok()) {
          if (const auto* list = decoded.value->getIf<CodecList>(); list && !list->empty()) {
            if (const auto* event = (*list)[0].custom<NativeAudioEvent>()) events->add(*event);
          }
        }
        reply(BridgeFlutterApiCodec::shared().encode(CodecList{CodecNull{}}));
      });
  const CodecValue device = CodecList{CodecCustomValue::make(
      AudioDevice{"Desk Microphone", AudioDeviceType::input, kMicrophone, true})};

  test::callFromUi(engine(), "dev.flutter.pigeon.harkwell_bridge.BridgeHostApi.listen",
                   test::hostBytes(device));
  ASSERT_TRUE(test::pumpMainUntil([&] { return events->size() >= 1; }));

  const NativeAudioEvent first = events->values()[0];
  EXPECT_EQ(first.id, kMicrophone);
  EXPECT_EQ(first.eventType, NativeAudioEventType::deviceStart);
  test::callFromUi(engine(), "dev.flutter.pigeon.harkwell_bridge.BridgeHostApi.unlisten",
                   test::hostBytes(device));
}

}  // namespace
}  // namespace harkwell
