#include "backends/pulse/PulseDeviceList.h"

#include <gtest/gtest.h>

namespace harkwell {
namespace {

// A source described as "About <name>"; `monitorOf` a sink index for a monitor.
PulseSourceInfo source(std::string name, uint32_t monitorOf = PA_INVALID_INDEX,
                       std::string deviceClass = "", bool unplugged = false) {
  return {.name = name,
          .description = "About " + name,
          .monitorOfSink = monitorOf,
          .deviceClass = std::move(deviceClass),
          .allPortsUnavailable = unplugged};
}

PulseSinkInfo sink(std::string name, std::string description, uint32_t index,
                   bool withMonitor = true) {
  return {.name = name,
          .description = std::move(description),
          .index = index,
          .monitorSource = withMonitor ? index + 100 : PA_INVALID_INDEX,
          .monitorSourceName = withMonitor ? name + ".monitor" : ""};
}

struct MicrophoneCase {
  const char* name;
  std::vector<PulseSourceInfo> sources;
  std::string defaultSource;
  std::vector<std::string> expected;
};

// At stake: the microphone list never offers a monitor (recording "a microphone"
// that is really the speakers) nor an unplugged jack, and the default
// microphone comes first.
class PulseMicrophoneListTest : public ::testing::TestWithParam<MicrophoneCase> {};

TEST_P(PulseMicrophoneListTest, OffersRealMicrophonesDefaultFirst) {
  const auto microphones = microphonesFrom(GetParam().sources, GetParam().defaultSource);
  std::vector<std::string> ids;
  for (const auto& microphone : microphones) {
    ids.push_back(microphone.uniqueID);
    EXPECT_EQ(microphone.localizedName, "About " + microphone.uniqueID);
  }
  EXPECT_EQ(ids, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PulseMicrophoneListTest,
    ::testing::Values(MicrophoneCase{"MonitorsByIndexOrClass",
                                     {source("speakers.monitor", 0),
                                      source("odd", PA_INVALID_INDEX, "monitor"), source("mic")},
                                     "",
                                     {"mic"}},
                      MicrophoneCase{"DefaultFirstThenServerOrder",
                                     {source("a"), source("b"), source("c")},
                                     "c",
                                     {"c", "a", "b"}},
                      MicrophoneCase{"DefaultIsAMonitor",
                                     {source("a"), source("sink.monitor", 3), source("b")},
                                     "sink.monitor",
                                     {"a", "b"}},
                      MicrophoneCase{"UnpluggedJack",
                                     {source("jack", PA_INVALID_INDEX, "", true), source("usb")},
                                     "jack",
                                     {"usb"}}),
    [](const auto& info) { return std::string(info.param.name); });

// At stake: display ids are stable across server restarts (hash of the sink
// name, not the per-lifetime index), unique within a list, and never 0.
class PulseDisplayListTest : public ::testing::Test {};

TEST_F(PulseDisplayListTest, IdsAreTheFnv1aOfTheSinkNameAndNeverZero) {
  // Reference values of 32-bit FNV-1a.
  EXPECT_EQ(fnv1a32(""), 0x811c9dc5u);
  EXPECT_EQ(fnv1a32("a"), 0xe40c292cu);
  EXPECT_EQ(fnv1a32("foobar"), 0xbf9cf968u);
  EXPECT_EQ(displayIdForSinkName("test_speakers"), fnv1a32("test_speakers"));
  // Found by search: the 32-bit FNV-1a of these bytes is 0.
  const std::string zeroHash("\xcc\x24\x31\xc4", 4);
  ASSERT_EQ(fnv1a32(zeroHash), 0u);
  EXPECT_EQ(displayIdForSinkName(zeroHash), 1u);

  const auto before = displaysFrom({sink("hdmi", "HDMI", 3), sink("speakers", "Speakers", 7)}, "");
  const auto after = displaysFrom({sink("speakers", "Speakers", 0), sink("hdmi", "HDMI", 12)}, "");
  EXPECT_EQ(before, after);
}

TEST_F(PulseDisplayListTest, ListsSinksWithAMonitorDefaultFirstThenByDescriptionWithUniqueIds) {
  const auto displays = displaysFrom({sink("z", "Zebra", 1), sink("nomon", "No monitor", 2, false),
                                      sink("a", "Alpha", 3), sink("d", "Default out", 4)},
                                     "d");
  ASSERT_EQ(displays.size(), 3u);
  EXPECT_EQ(displays[0].sinkName, "d");
  EXPECT_EQ(displays[1].sinkName, "a");
  EXPECT_EQ(displays[2].sinkName, "z");
  EXPECT_EQ(displays[1].monitorSourceName, "a.monitor");

  // Same name twice stands in for two names with the same hash.
  const auto colliding = displaysFrom({sink("same", "A", 5), sink("same", "B", 9)}, "");
  ASSERT_EQ(colliding.size(), 2u);
  EXPECT_EQ(colliding[0].displayID, displayIdForSinkName("same"));
  EXPECT_EQ(colliding[1].displayID, 9u);
}

}  // namespace
}  // namespace harkwell
