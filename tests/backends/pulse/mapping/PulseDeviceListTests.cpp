#include "backends/pulse/PulseDeviceList.h"

#include <gtest/gtest.h>

namespace harkwell {
namespace {

PulseSourceInfo source(std::string name, std::string description,
                       uint32_t monitorOf = PA_INVALID_INDEX) {
  PulseSourceInfo info;
  info.name = std::move(name);
  info.description = std::move(description);
  info.monitorOfSink = monitorOf;
  return info;
}

PulseSinkInfo sink(std::string name, std::string description, uint32_t index,
                   bool withMonitor = true) {
  PulseSinkInfo info;
  info.name = std::move(name);
  info.description = std::move(description);
  info.index = index;
  if (withMonitor) {
    info.monitorSource = index + 100;
    info.monitorSourceName = info.name + ".monitor";
  }
  return info;
}

// At stake: the microphone list never offers a monitor (recording "a microphone"
// that is really the speakers), and the default microphone comes first.
class PulseMicrophoneListTest : public ::testing::Test {};

TEST_F(PulseMicrophoneListTest, LeavesOutMonitorsByIndexAndByDeviceClass) {
  PulseSourceInfo classOnly = source("odd.monitor", "Odd monitor");
  classOnly.deviceClass = "monitor";
  const auto microphones = microphonesFrom(
      {source("speakers.monitor", "Monitor of Speakers", 0), classOnly, source("mic", "Mic")}, "");
  ASSERT_EQ(microphones.size(), 1u);
  EXPECT_EQ(microphones[0], (PulseMicrophone{"mic", "Mic"}));
}

TEST_F(PulseMicrophoneListTest, PutsTheDefaultSourceFirstAndKeepsServerOrderOtherwise) {
  const auto microphones =
      microphonesFrom({source("a", "A"), source("b", "B"), source("c", "C")}, "c");
  ASSERT_EQ(microphones.size(), 3u);
  EXPECT_EQ(microphones[0].uniqueID, "c");
  EXPECT_EQ(microphones[1].uniqueID, "a");
  EXPECT_EQ(microphones[2].uniqueID, "b");
}

TEST_F(PulseMicrophoneListTest, KeepsServerOrderWhenTheDefaultSourceIsAMonitor) {
  const auto microphones = microphonesFrom(
      {source("a", "A"), source("sink.monitor", "M", 3), source("b", "B")}, "sink.monitor");
  ASSERT_EQ(microphones.size(), 2u);
  EXPECT_EQ(microphones[0].uniqueID, "a");
}

TEST_F(PulseMicrophoneListTest, SkipsSourcesWhosePortsAreAllUnplugged) {
  PulseSourceInfo jack = source("jack", "Headset jack");
  jack.allPortsUnavailable = true;
  const auto microphones = microphonesFrom({jack, source("usb", "USB mic")}, "jack");
  ASSERT_EQ(microphones.size(), 1u);
  EXPECT_EQ(microphones[0].uniqueID, "usb");
}

// At stake: display ids are stable across server restarts (hash of the sink
// name, not the per-lifetime index), unique within a list, and never 0.
class PulseDisplayListTest : public ::testing::Test {};

TEST_F(PulseDisplayListTest, HashesTheSinkNameWithFnv1a32) {
  // Reference values of 32-bit FNV-1a.
  EXPECT_EQ(fnv1a32(""), 0x811c9dc5u);
  EXPECT_EQ(fnv1a32("a"), 0xe40c292cu);
  EXPECT_EQ(fnv1a32("foobar"), 0xbf9cf968u);
  EXPECT_EQ(displayIdForSinkName("test_speakers"), fnv1a32("test_speakers"));
}

TEST_F(PulseDisplayListTest, NeverHandsOutIdZero) {
  // Found by search: the 32-bit FNV-1a of these bytes is 0.
  const std::string zeroHash("\xcc\x24\x31\xc4", 4);
  ASSERT_EQ(fnv1a32(zeroHash), 0u);
  EXPECT_EQ(displayIdForSinkName(zeroHash), 1u);
}

TEST_F(PulseDisplayListTest, IdsDoNotDependOnSinkIndexes) {
  const auto before = displaysFrom({sink("hdmi", "HDMI", 3), sink("speakers", "Speakers", 7)}, "");
  const auto after = displaysFrom({sink("speakers", "Speakers", 0), sink("hdmi", "HDMI", 12)}, "");
  ASSERT_EQ(before.size(), 2u);
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(before[0].displayID, after[0].displayID);
  EXPECT_EQ(before[1].displayID, after[1].displayID);
}

TEST_F(PulseDisplayListTest, ListsSinksWithAMonitorDefaultFirstThenByDescription) {
  const auto displays = displaysFrom({sink("z", "Zebra", 1), sink("nomon", "No monitor", 2, false),
                                      sink("a", "Alpha", 3), sink("d", "Default out", 4)},
                                     "d");
  ASSERT_EQ(displays.size(), 3u);
  EXPECT_EQ(displays[0].sinkName, "d");
  EXPECT_EQ(displays[1].sinkName, "a");
  EXPECT_EQ(displays[2].sinkName, "z");
  EXPECT_EQ(displays[1].monitorSourceName, "a.monitor");
}

TEST_F(PulseDisplayListTest, ACollidingNameFallsBackToAFreeIdFromItsIndex) {
  // Same name twice stands in for two names with the same hash.
  const auto displays = displaysFrom({sink("same", "A", 5), sink("same", "B", 9)}, "");
  ASSERT_EQ(displays.size(), 2u);
  EXPECT_EQ(displays[0].displayID, displayIdForSinkName("same"));
  EXPECT_EQ(displays[1].displayID, 9u);
}

}  // namespace
}  // namespace harkwell
