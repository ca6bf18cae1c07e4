#include "ui/SourceChoice.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace harkwell {
namespace {

// At stake: the --source text is read exactly (the kind before the first
// colon, the whole rest as the id, nothing else accepted); without an id the
// host's default is taken, or the first listed when none is marked.
TEST(SourceChoiceTest, ReadsTheKindAndTheIdAndFallsBackToTheFirstListed) {
  // "output" and "input:" are the e2e runs'.
  const std::pair<const char*, const char*> texts[] = {
      {"input:bluez:00:11", "input:bluez:00:11"}, {"Input", ""}, {":mic", ""}};
  for (const auto& [text, read] : texts) {
    const auto choice = parseSourceChoice(text);
    EXPECT_EQ(choice ? choice->text() : "", read) << text;
  }
  const std::vector<AudioDevice> microphones = {{"Desk", AudioDeviceType::input, "desk", false},
                                                {"Headset", AudioDeviceType::input, "hs", false}};
  std::string whyNot;
  EXPECT_EQ(selectSource({AudioDeviceType::input, std::nullopt}, microphones, whyNot)->id, "desk");
  EXPECT_FALSE(selectSource({AudioDeviceType::output, std::nullopt}, {}, whyNot));
  EXPECT_NE(whyNot.find("there is no display"), std::string::npos) << whyNot;
}

}  // namespace
}  // namespace harkwell
