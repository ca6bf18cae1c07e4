// Writes the seed corpus of every fuzz target from the golden messages of the
// codec and channel tests, so that fuzzing starts from well-formed traffic and
// mutates outward. Run after changing a message layout:
//   build/fuzz/fuzz/harkwell_fuzz_seeds fuzz/corpus
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "bridge/AudioDevice.h"
#include "bridge/AudioPermission.h"
#include "bridge/BridgeFlutterApiCodec.h"
#include "bridge/BridgeHostApiCodec.h"
#include "bridge/NativeAudioEvent.h"
#include "fuzz/checks/AudioConverterInput.h"
#include "fuzz/checks/HostChannelInput.h"
#include "platform/flutter/FlutterStandardMessageCodec.h"

namespace {

using harkwell::AudioDevice;
using harkwell::AudioDeviceType;
using harkwell::AudioPermission;
using harkwell::NativeAudioEvent;
using harkwell::NativeAudioEventType;
using harkwell::fuzz::AudioConverterInput;
using harkwell::fuzz::HostChannelInput;
using Bytes = std::vector<std::uint8_t>;

// Writes one seed file, <root>/<target>/<name>, and counts it.
class SeedWriter {
 public:
  explicit SeedWriter(std::filesystem::path root) : root_(std::move(root)) {}
  void write(const std::string& target, const std::string& name, const Bytes& bytes) {
    std::filesystem::create_directories(root_ / target);
    std::ofstream(root_ / target / name, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    ++written_;
  }
  int written() const { return written_; }

 private:
  std::filesystem::path root_;
  int written_ = 0;
};

CodecValue device(std::string name, AudioDeviceType type, std::string id, bool isDefault) {
  return CodecCustomValue::make(AudioDevice{std::move(name), type, std::move(id), isDefault});
}

CodecValue event(std::string id, AudioDeviceType type, NativeAudioEventType eventType,
                 std::optional<std::vector<std::optional<double>>> audio = std::nullopt,
                 std::optional<std::string> error = std::nullopt) {
  return CodecCustomValue::make(
      NativeAudioEvent{std::move(id), type, eventType, std::move(audio), std::move(error)});
}

// Values every codec carries alike: each standard type, the size-form and
// alignment boundaries, and the reply shapes of the host channels.
std::vector<std::pair<std::string, CodecValue>> standardValues() {
  return {
      {"null", CodecValue()},
      {"true", CodecValue(true)},
      {"false", CodecValue(false)},
      {"int32-min", CodecValue(std::numeric_limits<std::int32_t>::min())},
      {"int64-big", CodecValue(std::int64_t{1} << 31)},
      {"float64", CodecValue(3.14)},
      {"float64-nan", CodecValue(std::numeric_limits<double>::quiet_NaN())},
      {"string", CodecValue("hello")},
      {"string-utf8", CodecValue("h\xc3\xa9llo \xe2\x82\xac")},
      {"string-253", CodecValue(std::string(253, 'a'))},
      {"string-254", CodecValue(std::string(254, 'b'))},
      {"string-65536", CodecValue(std::string(65536, 'c'))},
      {"uint8-list", CodecValue(std::vector<std::uint8_t>{1, 2, 3})},
      {"int32-list", CodecValue(std::vector<std::int32_t>{-1, 0, 1})},
      {"int64-list", CodecValue(std::vector<std::int64_t>{-1, 1LL << 40})},
      {"float32-list", CodecValue(std::vector<float>{0.5f, -1.0f})},
      {"float64-list", CodecValue(std::vector<double>{0.25, -0.5})},
      {"empty-typed-lists",
       CodecValue(CodecList{CodecValue(std::vector<std::int32_t>{}),
                            CodecValue(std::vector<std::int64_t>{}),
                            CodecValue(std::vector<float>{}), CodecValue(std::vector<double>{})})},
      {"aligned-double-in-list",
       CodecValue(CodecList{CodecValue(), CodecValue("hello"), CodecValue(3.14)})},
      {"map", CodecValue(CodecMap{{CodecValue("k"), CodecValue(std::int32_t{1})},
                                  {CodecValue(std::int32_t{2}), CodecValue(CodecList{})}})},
      {"nested", CodecValue(CodecList{CodecValue(CodecList{CodecValue(
                     CodecList{CodecValue(CodecMap{{CodecValue("deep"), CodecValue(1.5)}})})})})},
      {"reply-void", CodecValue(CodecList{CodecValue()})},
      {"reply-int", CodecValue(CodecList{CodecValue(std::int64_t{1})})},
      {"reply-error",
       CodecValue(CodecList{CodecValue("code"), CodecValue("message"), CodecValue()})},
      {"reply-error-nulls", CodecValue(CodecList{CodecValue("C"), CodecValue(), CodecValue()})},
  };
}

void writeStandardCodec(SeedWriter& seeds) {
  const auto& codec = FlutterStandardMessageCodec::sharedInstance();
  for (const auto& [name, value] : standardValues())
    seeds.write("standard_codec", name, codec.encode(value));
  seeds.write("standard_codec", "empty", {});
  // The legacy large-int type, read like a string.
  seeds.write("standard_codec", "large-int", {0x05, 0x02, 0x31, 0x66});
  // A size in its non-minimal three-byte form.
  seeds.write("standard_codec", "size-non-minimal", {0x07, 0xfe, 0x01, 0x00, 0x61});
}

void writeHostCodec(SeedWriter& seeds) {
  const auto& codec = harkwell::BridgeHostApiCodec::shared();
  for (const auto& [name, value] : standardValues())
    seeds.write("host_codec", name, codec.encode(value));
  const CodecValue mic = device("Mic", AudioDeviceType::input, "mic-1", true);
  const CodecValue display = device("Display 1", AudioDeviceType::output, "1", true);
  seeds.write("host_codec", "listen-message", codec.encode(CodecList{mic}));
  seeds.write("host_codec", "device-output", codec.encode(display));
  seeds.write("host_codec", "permission",
              codec.encode(CodecValue(CodecCustomValue::make(AudioPermission{true, false}))));
  seeds.write("host_codec", "get-devices-reply",
              codec.encode(CodecList{CodecValue(CodecList{mic, display, mic})}));
  seeds.write(
      "host_codec", "check-permission-reply",
      codec.encode(CodecList{CodecValue(CodecCustomValue::make(AudioPermission{false, true}))}));
  // The same device behind code 129, which only the reader knows; and its
  // enumeration as an int32.
  Bytes alias = codec.encode(mic);
  alias[0] = 0x81;
  seeds.write("host_codec", "device-code-129", alias);
  seeds.write("host_codec", "device-int32-type",
              {0x80, 0x0c, 0x04, 0x07, 0x03, 0x4d, 0x69, 0x63, 0x03, 0x01, 0x00, 0x00, 0x00, 0x07,
               0x03, 0x69, 0x64, 0x31, 0x01});
  seeds.write("host_codec", "permission-extra-field",
              {0x82, 0x0c, 0x03, 0x01, 0x01, 0x07, 0x01, 0x78});
}

std::vector<std::pair<std::string, CodecValue>> eventValues() {
  return {
      {"event-start", event("mic-1", AudioDeviceType::input, NativeAudioEventType::deviceStart)},
      {"event-stop", event("1", AudioDeviceType::output, NativeAudioEventType::deviceStop)},
      {"event-audio", event("mic-1", AudioDeviceType::input, NativeAudioEventType::deviceAudioData,
                            std::vector<std::optional<double>>{0.5, -0.25, std::nullopt})},
      {"event-error", event("x", AudioDeviceType::output, NativeAudioEventType::serviceError,
                            std::nullopt, "boom")},
  };
}

void writeEventCodec(SeedWriter& seeds) {
  const auto& codec = harkwell::BridgeFlutterApiCodec::shared();
  for (const auto& [name, value] : standardValues())
    seeds.write("event_codec", name, codec.encode(value));
  for (const auto& [name, value] : eventValues()) {
    seeds.write("event_codec", name, codec.encode(CodecList{value}));
  }
  // A sixth element is ignored by the reader.
  seeds.write("event_codec", "event-extra-field",
              {0x80, 0x0c, 0x06, 0x07, 0x01, 0x6d, 0x03, 0x01, 0x00, 0x00, 0x00,
               0x03, 0x04, 0x00, 0x00, 0x00, 0x00, 0x07, 0x01, 0x65, 0x01});
}

void writeEventReply(SeedWriter& seeds) {
  const auto& codec = harkwell::BridgeFlutterApiCodec::shared();
  const std::vector<std::pair<std::string, CodecValue>> replies = {
      {"empty-list", CodecValue(CodecList{})},
      {"void", CodecValue(CodecList{CodecValue()})},
      {"error", CodecValue(CodecList{CodecValue("C"), CodecValue("M"), CodecValue()})},
      {"error-nulls", CodecValue(CodecList{CodecValue("C"), CodecValue(), CodecValue()})},
      {"error-details", CodecValue(CodecList{CodecValue("C"), CodecValue("M"), CodecValue("D"),
                                             CodecValue(std::int32_t{4})})},
      {"two-elements", CodecValue(CodecList{CodecValue("C"), CodecValue("M")})},
      {"code-not-string",
       CodecValue(CodecList{CodecValue(std::int32_t{1}), CodecValue(), CodecValue()})},
      {"string", CodecValue("not a list")},
      {"map", CodecValue(CodecMap{{CodecValue("k"), CodecValue()}})},
      {"null", CodecValue()},
  };
  for (const auto& [name, value] : replies) seeds.write("event_reply", name, codec.encode(value));
  seeds.write("event_reply", "no-reply", {0xff});
  seeds.write("event_reply", "empty", {});
}

template <class T>
void append(Bytes& out, T value) {
  const auto* raw = reinterpret_cast<const std::uint8_t*>(&value);
  out.insert(out.end(), raw, raw + sizeof value);
}

// A tone in the layout the description asks for, as the backends deliver it.
AudioConverterInput toneInput(double rate, std::uint32_t channels, int bits, bool isFloat,
                              bool nonInterleaved, std::uint32_t frames) {
  AudioConverterInput input;
  FillOutASBDForLPCM(input.asbd, rate, channels, static_cast<UInt32>(bits),
                     static_cast<UInt32>(bits), isFloat, false, nonInterleaved);
  input.numSamples = frames;
  const std::uint32_t bufferCount = nonInterleaved ? channels : 1;
  const std::uint32_t samplesPerBuffer = nonInterleaved ? frames : frames * channels;
  for (std::uint32_t b = 0; b < bufferCount; ++b) {
    Bytes bytes;
    for (std::uint32_t i = 0; i < samplesPerBuffer; ++i) {
      const float sample =
          0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 440 * i / rate + b));
      if (isFloat) {
        append(bytes, sample);
      } else if (bits == 16) {
        append(bytes, static_cast<std::int16_t>(std::lround(sample * 32767)));
      } else {
        append(bytes, static_cast<std::int32_t>(std::llround(sample * 2147483647.0)));
      }
    }
    while (input.block.size() % 16 != 0) input.block.push_back(0);
    input.slices.push_back({static_cast<std::uint32_t>(input.block.size()),
                            static_cast<std::uint32_t>(bytes.size()),
                            nonInterleaved ? 1 : channels});
    input.block.insert(input.block.end(), bytes.begin(), bytes.end());
  }
  return input;
}

void writeAudioConverter(SeedWriter& seeds) {
  const auto write = [&](const std::string& name, const AudioConverterInput& input) {
    seeds.write("audio_converter", name, input.encode());
  };
  write("float-48k-stereo", toneInput(48000, 2, 32, true, true, 1024));
  write("float-16k-mono", toneInput(16000, 1, 32, true, true, 160));
  write("float-44k1-mono", toneInput(44100, 1, 32, true, true, 1024));
  write("int16-48k-stereo-interleaved", toneInput(48000, 2, 16, false, false, 480));
  write("int32-8k-mono", toneInput(8000, 1, 32, false, true, 80));
  write("float-48k-interleaved-repeat", [] {
    auto input = toneInput(48000, 2, 32, true, false, 100);
    input.repeats = 4;
    return input;
  }());
  for (const auto& [name, rate] :
       std::vector<std::pair<std::string, double>>{{"rate-0", 0.0},
                                                   {"rate-negative", -48000.0},
                                                   {"rate-nan", std::nan("")},
                                                   {"rate-1e12", 1e12}}) {
    write(name, toneInput(rate, 1, 32, true, true, 64));
  }
  write("channels-0", toneInput(48000, 0, 32, true, true, 64));
  write("channels-1000", toneInput(48000, 1000, 32, true, true, 4));
  write("frames-mismatch", [] {
    auto input = toneInput(48000, 2, 32, true, true, 256);
    input.numSamples = 512;
    return input;
  }());
  write("empty", toneInput(48000, 2, 32, true, true, 0));
  for (const auto& [name, shape] : std::vector<std::pair<std::string, AudioConverterInput::Shape>>{
           {"without-format-description", AudioConverterInput::Shape::withoutFormatDescription},
           {"invalidated", AudioConverterInput::Shape::invalidated},
           {"video-frame", AudioConverterInput::Shape::videoFrame},
           {"null-buffer", AudioConverterInput::Shape::nullBuffer},
           {"without-stream-description", AudioConverterInput::Shape::withoutStreamDescription}}) {
    auto input = toneInput(48000, 1, 32, true, true, 64);
    input.shape = shape;
    write(name, input);
  }
}

void writeHostChannels(SeedWriter& seeds) {
  using Action = HostChannelInput::Action;
  using Step = HostChannelInput::Step;
  const auto& codec = harkwell::BridgeHostApiCodec::shared();
  const auto message = [&](std::vector<CodecValue> arguments) {
    return codec.encode(CodecValue(CodecList(std::move(arguments))));
  };
  // A step sending [argument] (or no message at all), after the given faults.
  const auto step = [&](Action action, std::optional<CodecValue> argument = std::nullopt,
                        std::uint8_t faults = 0) {
    return Step{static_cast<std::uint8_t>(static_cast<std::uint8_t>(action) | faults),
                argument ? message({*argument}) : Bytes{}};
  };
  const auto raw = [](Action action, Bytes bytes) {
    return Step{static_cast<std::uint8_t>(action), std::move(bytes)};
  };
  const CodecValue mic = device("Mic One", AudioDeviceType::input, "mic-1", true);
  const CodecValue display = device("Display 1", AudioDeviceType::output, "1", true);
  const CodecValue unknown = device("Nobody", AudioDeviceType::input, "nobody", false);
  const CodecValue input0 = CodecValue(std::int64_t{0});
  const CodecValue output1 = CodecValue(std::int64_t{1});
  const Action get = Action::getDevices, listen = Action::listen, unlisten = Action::unlisten;

  const auto write = [&](const std::string& name, std::vector<Step> steps) {
    seeds.write("host_channels", name, HostChannelInput{std::move(steps)}.encode());
  };
  write("get-inputs", {step(get, input0)});
  write("get-outputs", {step(get, output1)});
  write("get-int32", {step(get, CodecValue(std::int32_t{0}))});
  write("get-out-of-range", {step(get, CodecValue(std::int64_t{2}))});
  write("listen-mic", {step(listen, mic), step(unlisten, mic), step(unlisten, mic)});
  write("listen-display", {step(listen, display), step(unlisten, display)});
  write("listen-unknown", {step(listen, unknown)});
  write("listen-mic-open-fails", {step(listen, mic, HostChannelInput::failMicrophoneOpen)});
  write("listen-display-output-fails", {step(listen, display, HostChannelInput::failAddOutput)});
  write("listen-display-start-fails",
        {step(listen, display, HostChannelInput::failStreamStart), step(listen, display)});
  write("listen-display-stop-fails",
        {step(listen, display), step(unlisten, display, HostChannelInput::failStreamStop)});
  write("display-stops-with-error",
        {step(listen, display), step(Action::stopDisplayStreams), step(unlisten, display)});
  write("mic-disappears", {step(listen, mic), step(Action::removeMicrophone), step(listen, mic)});
  write("display-disappears",
        {step(listen, display), step(Action::removeDisplay), step(get, output1)});
  write("content-query-fails",
        {step(Action::checkPermission, std::nullopt, HostChannelInput::failShareableContent),
         step(get, output1, HostChannelInput::failShareableContent)});
  write("check-permission-null", {step(Action::checkPermission)});
  write("check-permission-junk", {raw(Action::checkPermission, {0x0c, 0x01, 0x00})});
  write("request-input", {step(Action::requestPermission, input0)});
  write("request-output", {step(Action::requestPermission, output1)});
  write("listen-not-a-list", {raw(listen, codec.encode(mic))});
  write("listen-empty-list", {raw(listen, message({}))});
  write("listen-null", {step(listen, CodecValue())});
  Bytes truncated = message({mic});
  truncated.resize(truncated.size() / 2);
  write("listen-truncated", {raw(listen, truncated)});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus-directory>\n", argv[0]);
    return 2;
  }
  try {
    SeedWriter seeds(argv[1]);
    writeStandardCodec(seeds);
    writeHostCodec(seeds);
    writeEventCodec(seeds);
    writeEventReply(seeds);
    writeAudioConverter(seeds);
    writeHostChannels(seeds);
    std::printf("wrote %d seeds under %s\n", seeds.written(), argv[1]);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "harkwell_fuzz_seeds: %s\n", error.what());
    return 1;
  }
  return 0;
}
