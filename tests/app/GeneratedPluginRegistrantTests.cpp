#include "app/GeneratedPluginRegistrant.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/plugins/PluginRegistrationLog.h"
#include "tests/app/AppTestSupport.h"

namespace harkwell {
namespace {

// A registry that hands out a fresh registrar per key and logs the keys asked.
// Thread affinity: the test's thread.
class RecordingRegistry final : public FlutterPluginRegistry {
 public:
  class Registrar final : public FlutterPluginRegistrar {
   public:
    FlutterBinaryMessenger& messenger() override { throw std::logic_error("never called"); }
  };

  FlutterPluginRegistrar& registrarForPlugin(const std::string& pluginKey) override {
    keys.push_back(pluginKey);
    auto& registrar = registrars[pluginKey];
    if (!registrar) registrar = std::make_unique<Registrar>();
    return *registrar;
  }

  std::vector<std::string> keys;
  std::map<std::string, std::unique_ptr<Registrar>> registrars;
};

// At stake: each of the sixteen plug-ins is registered once, in table order,
// with the registrar asked for under its own key.
class GeneratedPluginRegistrantTest : public ::testing::Test {
 protected:
  void SetUp() override { PluginRegistrationLog::shared().clear(); }
  void TearDown() override { PluginRegistrationLog::shared().clear(); }
};

TEST_F(GeneratedPluginRegistrantTest, AsksForSixteenRegistrarsInTableOrderUnderTheClassNames) {
  RecordingRegistry registry;
  RegisterGeneratedPlugins(registry);
  EXPECT_EQ(registry.keys, test::expectedPluginKeys());
}

TEST_F(GeneratedPluginRegistrantTest, HandsEachPluginTheRegistrarOfItsOwnKey) {
  RecordingRegistry registry;
  RegisterGeneratedPlugins(registry);

  const std::vector<PluginRegistrationLog::Entry> entries =
      PluginRegistrationLog::shared().entries();
  ASSERT_EQ(entries.size(), 16u);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string& key = test::expectedPluginKeys()[i];
    EXPECT_EQ(entries[i].pluginClass, key);
    EXPECT_EQ(entries[i].registrar, registry.registrars.at(key).get()) << key;
  }
}

}  // namespace
}  // namespace harkwell
