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
PulseSinkInfo sink(std::string name, std::string description, uint32_t index, bool monitor = true) {
  return {name, std::move(description), index, monitor ? index + 100 : PA_INVALID_INDEX,
          monitor ? name + ".monitor" : ""};
}

// At stake: the microphone list never offers a monitor (recording "a microphone"
// that is really the speakers) nor an unplugged jack, and the default
// microphone comes first.
TEST(PulseDeviceListTest, OffersRealMicrophonesDefaultFirst) {
  const struct {
    std::vector<PulseSourceInfo> sources;
    std::string defaultSource;
    std::vector<std::string> expected;
  } cases[] = {
      {{source("speakers.monitor", 0), source("odd", PA_INVALID_INDEX, "monitor"), source("mic")},
       "",
       {"mic"}},
      {{source("a"), source("b"), source("c")}, "c", {"c", "a", "b"}},
      {{source("a"), source("sink.monitor", 3), source("b")}, "sink.monitor", {"a", "b"}},
      {{source("jack", PA_INVALID_INDEX, "", true), source("usb")}, "jack", {"usb"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> ids;
    for (const auto& microphone : microphonesFrom(c.sources, c.defaultSource)) {
      ids.push_back(microphone.uniqueID);
      EXPECT_EQ(microphone.localizedName, "About " + microphone.uniqueID);
    }
    EXPECT_EQ(ids, c.expected);
  }
}

// At stake: display ids are stable across server restarts (a hash of the sink
// name, not the per-lifetime index), unique within a list, and never 0; only
// sinks with a monitor are offered, the default first, then by description.
TEST(PulseDeviceListTest, ListsSinksWithAMonitorUnderIdsFromTheirNames) {
  // Found by search: hashes to 0 (a slip in the hash breaks this, too).
  const std::string zeroHash("\xcc\x24\x31\xc4", 4);
  ASSERT_EQ(fnv1a32(zeroHash), 0u);
  EXPECT_EQ(displayIdForSinkName(zeroHash), 1u);
  EXPECT_EQ(displaysFrom({sink("hdmi", "HDMI", 3), sink("speakers", "Speakers", 7)}, ""),
            displaysFrom({sink("speakers", "Speakers", 0), sink("hdmi", "HDMI", 12)}, ""));

  const auto displays = displaysFrom({sink("z", "Zebra", 1), sink("nomon", "No monitor", 2, false),
                                      sink("a", "Alpha", 3), sink("d", "Default out", 4)},
                                     "d");
  ASSERT_EQ(displays.size(), 3u);
  EXPECT_EQ(displays[0].sinkName + displays[1].sinkName + displays[2].sinkName, "daz");
  EXPECT_EQ(displays[1].monitorSourceName, "a.monitor");
  // The same name twice stands in for two names with the same hash.
  const auto colliding =
      displaysFrom({sink("same", "A", 5), sink("same", "B", 9), sink("same", "C", 0)}, "");
  ASSERT_EQ(colliding.size(), 3u);
  EXPECT_EQ(colliding[0].displayID, displayIdForSinkName("same"));
  EXPECT_EQ(colliding[1].displayID, 9u);
  EXPECT_EQ(colliding[2].displayID, 1u) << "index 0 is no display id";
}

}  // namespace
}  // namespace harkwell
