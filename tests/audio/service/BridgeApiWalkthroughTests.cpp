// Two captures followed end to end, for a reader new to the host: the bytes
// the UI sends on a host channel, the reply bytes it gets back, and the events
// that the registry and the capture controllers push on the event channel.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "tests/audio/service/BridgeApiTestHarness.h"
#include "tests/support/CodecByteHelpers.h"

namespace harkwell::test {
namespace {

using harkwell::testing::bytesFromHex;
using harkwell::testing::hexFromBytes;
using harkwell::testing::normalizedHex;
using ::testing::ElementsAre;

// At stake: the whole road of a capture, from the UI's bytes to its events.
class BridgeApiWalkthroughTest : public BridgeApiTest {};

TEST_F(BridgeApiWalkthroughTest, AMicrophoneCaptureFromTheUisBytesToItsEvents) {
  backend().addMicrophone({"mic-1", "Desk Microphone"});

  // 1. The UI calls listen([AudioDevice]) as the Dart side encodes it: a
  //    one-element list (0c 01) holding record 128 (80), whose fields are the
  //    list [name, type, id, isDefault]; input is 0, true is 01.
  const UiCall listen = ui().callRaw("listen", bytesFromHex("0c 01 | 80 0c 04"
                                                            "| 07 0f 44 65 73 6b 20 4d 69 63 72 6f"
                                                            "        70 68 6f 6e 65"
                                                            "| 03 00 00 00 00"
                                                            "| 07 05 6d 69 63 2d 31"
                                                            "| 01"));

  // 2. On the main thread the registry finds the microphone, creates its
  //    controller, stores it, starts it and sends deviceStart; 3. then the
  //    handler replies [null].
  const UiReply reply = listen.reply();
  EXPECT_EQ(hexFromBytes(*reply.bytes), normalizedHex("0c 01 00"));
  EXPECT_THAT(ui().deviceEventTexts(), ElementsAre("deviceStart input mic-1"));

  // 4. Each buffer the microphone delivers is converted on the controller's
  //    queue to 16 kHz mono and sent from there as deviceAudioData.
  const std::vector<float> samples = rampSamples(160);  // 10 ms at 16 kHz: passed through
  ASSERT_EQ(backend().deliverToMicrophone("mic-1", buffer16k(samples)), 1u);
  ASSERT_TRUE(ui().waitForAudio("mic-1", 1));
  const NativeAudioEvent audio = ui().events().back();
  EXPECT_EQ(audio.eventType, NativeAudioEventType::deviceAudioData);
  EXPECT_EQ(audio.type, AudioDeviceType::input);
  EXPECT_EQ(audio.audioData, widened(samples));

  // 5. unlisten stops the capture and sends deviceStop; a second one removes
  //    the stopped entry (and says deviceStop again).
  expectNullSuccess(ui().unlisten(microphone("mic-1")));
  EXPECT_EQ(backend().deliverToMicrophone("mic-1", buffer16k(samples)), 0u);
  expectNullSuccess(ui().unlisten(microphone("mic-1")));
  EXPECT_THAT(
      ui().deviceEventTexts(),
      ElementsAre("deviceStart input mic-1", "deviceStop input mic-1", "deviceStop input mic-1"));
  EXPECT_TRUE(ui().allEventsOnUiThread());
  EXPECT_EQ(ui().undecodableEventCount(), 0u);
}

TEST_F(BridgeApiWalkthroughTest, ADisplayCaptureFromTheUisBytesToItsEvents) {
  backend().addDisplay(1);

  // 1. listen with an output device (type 01): the display's decimal id "1".
  const UiCall listen = ui().callRaw("listen", bytesFromHex("0c 01 | 80 0c 04"
                                                            "| 07 09 44 69 73 70 6c 61 79 20 31"
                                                            "| 03 01 00 00 00"
                                                            "| 07 01 31"
                                                            "| 01"));

  // 2. The reply comes at once: a background task does the rest.
  EXPECT_EQ(hexFromBytes(*listen.reply().bytes), normalizedHex("0c 01 00"));

  // 3. The task gets the display list; the main thread creates and stores the
  //    stream controller, asks the stream to start and sends deviceStart. The
  //    platform's confirmation is logged by the controller.
  ASSERT_TRUE(ui().waitForDeviceEvents(1));
  EXPECT_THAT(ui().deviceEventTexts(), ElementsAre("deviceStart output 1"));
  EXPECT_THAT(logLines(), ElementsAre("stream start"));

  // 4. System audio arrives on the stream's audio queue and goes out as
  //    deviceAudioData; screen frames are dropped.
  const std::vector<float> samples = rampSamples(160);  // 10 ms at 16 kHz: passed through
  ASSERT_EQ(
      backend().deliverToDisplay(1, DisplayOutputKind::screen, CMSampleBufferCreateVideoFrame()),
      1u);
  ASSERT_EQ(backend().deliverToDisplay(1, DisplayOutputKind::audio, buffer16k(samples)), 1u);
  ASSERT_TRUE(ui().waitForAudio("1", 1));
  ASSERT_TRUE(ui().settle());
  EXPECT_EQ(ui().audioTally("1").events, 1u);
  EXPECT_EQ(ui().events().back().type, AudioDeviceType::output);
  EXPECT_EQ(ui().events().back().audioData, widened(samples));

  // 5. unlisten asks the stream to stop and sends deviceStop; the controller
  //    logs the platform's confirmation.
  expectNullSuccess(ui().unlisten(display("1", "Display 1")));
  EXPECT_THAT(ui().deviceEventTexts(), ElementsAre("deviceStart output 1", "deviceStop output 1"));
  EXPECT_THAT(logLines(), ElementsAre("stream start", "stream stop"));
}

}  // namespace
}  // namespace harkwell::test
