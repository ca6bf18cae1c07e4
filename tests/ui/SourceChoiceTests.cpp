#include "ui/SourceChoice.h"

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
class SourceChoiceParseTest : public ::testing::TestWithParam<SpecCase> {};

TEST_P(SourceChoiceParseTest, ReadsTheKindAndTheIdOrRejects) {
  const SpecCase& c = GetParam();
  const std::optional<SourceChoice> choice = parseSourceChoice(c.text);
  ASSERT_EQ(choice.has_value(), c.valid) << c.text;
  if (!choice) return;
  EXPECT_EQ(choice->type, c.type);
  EXPECT_EQ(choice->id, c.id);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SourceChoiceParseTest,
    ::testing::Values(SpecCase{"output", true, AudioDeviceType::output, std::nullopt},
                      SpecCase{"input:bluez:00:11", true, AudioDeviceType::input, "bluez:00:11"},
                      SpecCase{"input:", false, {}, {}}, SpecCase{"Input", false, {}, {}},
                      SpecCase{":mic", false, {}, {}}));

// At stake: without an id the host's default is taken, or the first listed
// when none is marked; a name that matches nothing is refused with a reason.
TEST(SourceSelectionTest, FallsBackToTheFirstListedAndRefusesWhatMatchesNothing) {
  const std::vector<AudioDevice> microphones = {
      {"Desk", AudioDeviceType::input, "desk", false},
      {"Headset", AudioDeviceType::input, "headset", false}};
  std::string whyNot;
  EXPECT_EQ(selectSource({AudioDeviceType::input, std::nullopt}, microphones, whyNot)->id, "desk");
  EXPECT_FALSE(selectSource({AudioDeviceType::input, "Desk"}, microphones, whyNot));
  EXPECT_EQ(whyNot, "unknown source 'input:Desk': no microphone has that id (see --list)");
  EXPECT_FALSE(selectSource({AudioDeviceType::output, std::nullopt}, {}, whyNot));
  EXPECT_NE(whyNot.find("there is no display"), std::string::npos) << whyNot;
}

}  // namespace
}  // namespace harkwell
