#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "audio/capture/HostLog.h"
#include "audio/service/BridgeApi.h"
#include "backends/simulated/SimulatedCaptureBackend.h"
#include "bridge/BridgeFlutterApi.h"
#include "bridge/BridgeFlutterApiCodec.h"
#include "bridge/BridgeHostApiCodec.h"
#include "bridge/BridgeHostApiSetup.h"
#include "fuzz/checks/FuzzChecks.h"
#include "fuzz/checks/QuiescentEngine.h"
#include "platform/appkit/NSWorkspace.h"
#include "platform/capture/CaptureBackend.h"

namespace harkwell::fuzz {

namespace {

using Bytes = std::vector<std::uint8_t>;

// The input's byte form (the seeds in fuzz/corpus/host_channels): up to eight
// steps, each a selector byte, a 16-bit little-endian length and that many
// message bytes (fewer when the input ends first). The selector's low three
// bits pick the action: a call on operations[action], or for 5 to 7 the first
// microphone disappears, the first display's streams stop with an error, the
// first display disappears. Its high bits inject backend faults first:
// microphone open, add output, stream start, content query, stream stop.
constexpr std::array<std::string_view, 5> operations = {"getDevices", "listen", "unlisten",
                                                        "checkPermission", "requestPermission"};

struct Step {
  std::uint8_t selector = 0;
  Bytes message;
};

std::vector<Step> parse(FuzzInput bytes) {
  std::vector<Step> steps;
  std::size_t at = 0;
  while (at < bytes.size() && steps.size() < 8) {
    Step step{bytes[at++], {}};
    std::size_t length = 0;
    for (int shift = 0; shift < 16 && at < bytes.size(); shift += 8) {
      length |= static_cast<std::size_t>(bytes[at++]) << shift;
    }
    length = std::min(length, bytes.size() - at);
    step.message.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                        bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
    at += length;
    steps.push_back(std::move(step));
  }
  return steps;
}

void injectFaults(SimulatedCaptureBackend& backend, std::uint8_t selector) {
  const auto error = [](CaptureErrorCode code) { return makeCaptureError(code, "injected"); };
  if (selector & 1 << 3) backend.failNextMicrophoneOpen(error(CaptureErrorCode::deviceUnavailable));
  if (selector & 1 << 4) backend.failNextAddOutput(error(CaptureErrorCode::outputRejected));
  if (selector & 1 << 5) backend.failNextStreamStart(error(CaptureErrorCode::startFailed));
  backend.setShareableContentError(
      selector & 1 << 6 ? std::optional(error(CaptureErrorCode::notPermitted)) : std::nullopt);
  if (selector & 1 << 7) backend.failNextStreamStop(error(CaptureErrorCode::stopFailed));
}

FuzzVerdict checkReply(const std::optional<Bytes>& reply) {
  if (!reply) return "a null reply";
  const CodecDecodeResult decoded = BridgeHostApiCodec::shared().decode(*reply);
  const CodecList* list = decoded.ok() ? decoded.value->getIf<CodecList>() : nullptr;
  if (list == nullptr) return "a reply that is no list: " + decoded.error;
  if (list->size() == 1) return std::nullopt;
  if (list->size() != 3 || !(*list)[0].is<std::string>() ||
      !((*list)[1].is<std::string>() || (*list)[1].isNull())) {
    return "a reply neither [x] nor [code, message-or-null, details]";
  }
  return std::nullopt;
}

FuzzVerdict checkEvent(const Bytes& bytes) {
  const CodecDecodeResult decoded = BridgeFlutterApiCodec::shared().decode(bytes);
  const CodecList* list = decoded.ok() ? decoded.value->getIf<CodecList>() : nullptr;
  if (list == nullptr || list->size() != 1 || (*list)[0].custom<NativeAudioEvent>() == nullptr) {
    return "an event message is not [NativeAudioEvent]";
  }
  return std::nullopt;
}

// Replies by call number and events, recorded on the UI thread.
struct Traffic {
  LockedLog<std::pair<std::size_t, std::optional<Bytes>>> replies;
  LockedLog<Bytes> events;
  std::size_t repliesTo(std::size_t call) const {
    const auto all = replies.items();
    return std::count_if(all.begin(), all.end(), [&](const auto& r) { return r.first == call; });
  }
};

// The fixed environment of every input: quiet log lines, links recorded
// instead of opened, and the UI's event handler recording into the current
// input's traffic.
struct Bench {
  Bench() {
    NSWorkspace::sharedWorkspace().setOpensLinks(false);
    quiescent.engine().uiSide().setHandler(std::string(BridgeFlutterApi::channelPrefix),
                                           [this](Bytes message, FlutterBinaryReply reply) {
                                             if (auto traffic = current())
                                               traffic->events.add(std::move(message));
                                             reply(Bytes{0x0c, 0x00});  // [] : delivered
                                           });
  }
  std::shared_ptr<Traffic> current() {
    MutexLock lock(mutex);
    return traffic;
  }
  void record(std::shared_ptr<Traffic> next) {
    MutexLock lock(mutex);
    traffic = std::move(next);
  }

  QuiescentEngine& quiescent = QuiescentEngine::shared();
  ScopedHostLogSink logSink{[](std::string_view) {}};
  Mutex mutex;
  std::shared_ptr<Traffic> traffic GUARDED_BY(mutex);
};

}  // namespace

FuzzVerdict checkHostChannelInput(FuzzInput bytes) {
  static Bench* const bench = new Bench();
  QuiescentEngine& quiescent = bench->quiescent;
  FlutterEngine& engine = quiescent.engine();
  NSWorkspace::sharedWorkspace().clearOpenedURLs();
  auto traffic = std::make_shared<Traffic>();
  bench->record(traffic);
  auto backend = SimulatedCaptureBackend::makeManual();
  backend->addMicrophone({"mic-1", "Mic One"});
  backend->addMicrophone({"mic-2", "Mic Two"});
  backend->addDisplay(1);
  backend->addDisplay(2);
  CaptureBackend::setCurrent(backend);
  auto flutterApi = std::make_shared<BridgeFlutterApi>(engine.binaryMessenger());
  BridgeHostApiSetup::setUp(engine.binaryMessenger(), BridgeApi::create(flutterApi));

  std::size_t calls = 0;
  const auto call = [&](std::size_t operation, Bytes message) -> FuzzVerdict {
    const std::size_t id = calls++;
    engine.uiSide().sendToHost(BridgeHostApiSetup::channelName(operations[operation]),
                               std::move(message), [traffic, id](std::optional<Bytes> reply) {
                                 traffic->replies.add({id, std::move(reply)});
                               });
    if (auto verdict = quiescent.pumpUntil([&] { return traffic->repliesTo(id) > 0; }, "a reply")) {
      return verdict;
    }
    return quiescent.settle();
  };
  const NSError stopped = makeCaptureError(CaptureErrorCode::stoppedUnexpectedly, "injected");
  for (const Step& step : parse(bytes)) {
    injectFaults(*backend, step.selector);
    const std::size_t action = step.selector & 0x07;
    if (action == 5) backend->removeMicrophone("mic-1");
    if (action == 6) backend->stopStreamsWithError(1, stopped);
    if (action == 7) backend->removeDisplay(1);
    FuzzVerdict verdict = action < 5 ? call(action, step.message) : quiescent.settle();
    if (verdict) return verdict;
  }
  // However the calls went, the host still answers.
  backend->setShareableContentError(std::nullopt);
  if (auto verdict = call(0, BridgeHostApiCodec::shared().encode(CodecList{std::int64_t{0}}))) {
    return verdict;
  }
  // Drop this input's host before judging, so that its teardown is covered too.
  BridgeHostApiSetup::setUp(engine.binaryMessenger(), nullptr);
  flutterApi.reset();
  if (auto verdict = quiescent.settle()) return verdict;
  bench->record(nullptr);

  for (std::size_t id = 0; id < calls; ++id) {
    if (const std::size_t count = traffic->repliesTo(id); count != 1) {
      return "call " + std::to_string(id) + " got " + std::to_string(count) + " replies";
    }
  }
  for (const auto& [id, reply] : traffic->replies.items()) {
    if (auto verdict = checkReply(reply)) return "call " + std::to_string(id) + ": " + *verdict;
  }
  for (const Bytes& event : traffic->events.items()) {
    if (auto verdict = checkEvent(event)) return verdict;
  }
  return std::nullopt;
}

}  // namespace harkwell::fuzz
