// Runs one piece of the audio path a given number of times and exits, for
// counting instructions under callgrind: scripts/bench runs it with N and 2N
// and divides the difference by N, which cancels start-up and tear-down.
//   harkwell_bench_probe path <buffers>    1024-frame 48 kHz stereo float32 buffers,
//                                          through the engine (UI side drops)
//   harkwell_bench_probe encode <events>   342-sample events through the event codec
//   harkwell_bench_probe convert <buffers> AudioConverter::convert alone

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "audio/capture/AudioConverter.h"
#include "bench/AudioPathHarness.h"
#include "bench/AudioPathInputs.h"
#include "bridge/BridgeFlutterApiCodec.h"

namespace {

int usage() {
  std::fprintf(stderr, "usage: harkwell_bench_probe path|encode|convert <count>\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace harkwell;
  using namespace harkwell::bench;
  if (argc != 3) return usage();
  const std::string_view mode = argv[1];
  const long count = std::strtol(argv[2], nullptr, 10);
  if (count < 0) return usage();

  volatile std::size_t sink = 0;
  if (mode == "path") {
    const std::unique_ptr<AudioPathInput> input = makeAudioPathInput(InputShape::float48kStereo);
    AudioPathHarness harness(true);
    for (long i = 0; i < count; ++i) {
      sink = sink + harness.deliver(input->buffer);
      if ((i + 1) % 64 == 0) harness.drain();
    }
    harness.drain();
  } else if (mode == "encode") {
    const CodecValue message(
        CodecList{CodecValue(CodecCustomValue::make(makeBenchAudioEvent(342)))});
    for (long i = 0; i < count; ++i) {
      sink = sink + BridgeFlutterApiCodec::shared().encode(message).size();
    }
  } else if (mode == "convert") {
    const std::unique_ptr<AudioPathInput> input = makeAudioPathInput(InputShape::float48kStereo);
    AudioConverter converter;
    for (long i = 0; i < count; ++i) sink = sink + converter.convert(input->buffer).size();
  } else {
    return usage();
  }
  return sink == 0 && count > 0 ? 1 : 0;
}
