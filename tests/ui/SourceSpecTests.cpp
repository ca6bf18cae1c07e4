#include "ui/SourceSpec.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace harkwell {
namespace {

struct SpecCase {
  const char* text;
  bool valid;
  AudioDeviceType type;
  std::optional<std::string> id;
};

// At stake: the --source text is read exactly: the kind before the first
// colon, the whole rest as the id, and nothing else accepted.
class SourceSpecParseTest : public ::testing::TestWithParam<SpecCase> {};

TEST_P(SourceSpecParseTest, ReadsTheKindAndTheIdOrRejects) {
  const SpecCase& c = GetParam();
  const std::optional<SourceSpec> spec = parseSourceSpec(c.text);
  ASSERT_EQ(spec.has_value(), c.valid) << c.text;
  if (!spec) return;
  EXPECT_EQ(spec->type, c.type);
  EXPECT_EQ(spec->id, c.id);
  EXPECT_EQ(spec->text(), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SourceSpecParseTest,
    ::testing::Values(SpecCase{"input", true, AudioDeviceType::input, std::nullopt},
                      SpecCase{"output", true, AudioDeviceType::output, std::nullopt},
                      SpecCase{"input:mic-1", true, AudioDeviceType::input, "mic-1"},
                      SpecCase{"output:2", true, AudioDeviceType::output, "2"},
                      SpecCase{"input:bluez:00:11", true, AudioDeviceType::input, "bluez:00:11"},
                      SpecCase{"input:", false, {}, {}}, SpecCase{"", false, {}, {}},
                      SpecCase{"Input", false, {}, {}}, SpecCase{"speakers", false, {}, {}},
                      SpecCase{":mic", false, {}, {}}));

// At stake: the device captured is the one the user named, or the host's
// default; a name that matches nothing is refused with a reason.
class SourceSelectionTest : public ::testing::Test {
 protected:
  std::vector<AudioDevice> microphones_ = {
      {"Desk", AudioDeviceType::input, "desk", false},
      {"Headset", AudioDeviceType::input, "headset", true},
  };
  std::string whyNot_;
};

TEST_F(SourceSelectionTest, TheKindAlonePicksTheDeviceMarkedDefault) {
  const auto device = selectSource({AudioDeviceType::input, std::nullopt}, microphones_, whyNot_);
  ASSERT_TRUE(device.has_value());
  EXPECT_EQ(device->id, "headset");
}

TEST_F(SourceSelectionTest, WithNoDeviceMarkedDefaultTheFirstListedIsTaken) {
  microphones_[1].isDefault = false;
  const auto device = selectSource({AudioDeviceType::input, std::nullopt}, microphones_, whyNot_);
  ASSERT_TRUE(device.has_value());
  EXPECT_EQ(device->id, "desk");
}

TEST_F(SourceSelectionTest, AnIdPicksExactlyThatDevice) {
  const auto device = selectSource({AudioDeviceType::input, "desk"}, microphones_, whyNot_);
  ASSERT_TRUE(device.has_value());
  EXPECT_EQ(device->name, "Desk");
}

TEST_F(SourceSelectionTest, AnIdThatMatchesNothingIsRefusedNamingTheSource) {
  EXPECT_FALSE(selectSource({AudioDeviceType::input, "Desk"}, microphones_, whyNot_));
  EXPECT_EQ(whyNot_, "unknown source 'input:Desk': no microphone has that id (see --list)");
}

TEST_F(SourceSelectionTest, AnEmptyListHasNoDefault) {
  EXPECT_FALSE(selectSource({AudioDeviceType::output, std::nullopt}, {}, whyNot_));
  EXPECT_NE(whyNot_.find("there is no display"), std::string::npos) << whyNot_;
}

}  // namespace
}  // namespace harkwell
