#include <algorithm>
#include <array>

#include "audio/capture/HostLog.h"
#include "audio/service/BridgeApi.h"
#include "bridge/BridgeFlutterApi.h"
#include "bridge/BridgeFlutterApiCodec.h"
#include "bridge/BridgeHostApiCodec.h"
#include "bridge/BridgeHostApiSetup.h"
#include "fuzz/checks/FuzzChecks.h"
#include "fuzz/checks/FuzzEngine.h"
#include "platform/appkit/NSWorkspace.h"
#include "platform/capture/CaptureBackend.h"
#include "tests/support/SimulatedTestBackend.h"

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

void injectFaults(SimulatedTestBackend& backend, std::uint8_t selector) {
  const auto error = [](CaptureErrorCode code) { return makeCaptureError(code, "injected"); };
  if (selector & 1 << 3) backend.failNextMicrophoneOpen(error(CaptureErrorCode::deviceUnavailable));
  if (selector & 1 << 4) backend.failNextAddOutput(error(CaptureErrorCode::outputRejected));
  if (selector & 1 << 5) backend.failNextStreamStart(error(CaptureErrorCode::startFailed));
  backend.setShareableContentError(
      selector & 1 << 6 ? std::optional(error(CaptureErrorCode::notPermitted)) : std::nullopt);
  if (selector & 1 << 7) backend.failNextStreamStop(error(CaptureErrorCode::stopFailed));
}

// What is wrong with a reply: not [x] nor [code, message-or-null, details].
bool isReply(const std::optional<Bytes>& reply) {
  const CodecDecodeResult decoded = BridgeHostApiCodec::shared().decode(reply.value_or(Bytes{}));
  const CodecList* list = decoded.ok() ? decoded.value->getIf<CodecList>() : nullptr;
  return list != nullptr &&
         (list->size() == 1 || (list->size() == 3 && (*list)[0].is<std::string>() &&
                                ((*list)[1].is<std::string>() || (*list)[1].isNull())));
}

bool isEventMessage(const Bytes& bytes) {
  const CodecDecodeResult decoded = BridgeFlutterApiCodec::shared().decode(bytes);
  const CodecList* list = decoded.ok() ? decoded.value->getIf<CodecList>() : nullptr;
  return list != nullptr && list->size() == 1 && (*list)[0].custom<NativeAudioEvent>() != nullptr;
}

// Events that are not [NativeAudioEvent], as the UI's event handler saw them;
// never cleared, since the first one ends the run. Also quiets the log and
// records links instead of opening them.
LockedLog<Bytes>& badEvents() {
  static auto* const log = [] {
    NSWorkspace::sharedWorkspace().setOpensLinks(false);
    static ScopedHostLogSink quiet([](std::string_view) {});
    auto* events = new LockedLog<Bytes>();
    fuzzEngine().uiSide().setHandler(std::string(BridgeFlutterApi::channelPrefix),
                                     [events](Bytes message, FlutterBinaryReply reply) {
                                       if (!isEventMessage(message)) events->add(message);
                                       reply(Bytes{0x0c, 0x00});  // [] : delivered
                                     });
    return events;
  }();
  return *log;
}

}  // namespace

FuzzVerdict checkHostChannelInput(FuzzInput bytes) {
  const std::size_t badEventsBefore = badEvents().items().size();
  FlutterEngine& engine = fuzzEngine();
  NSWorkspace::sharedWorkspace().clearOpenedURLs();
  auto backend = SimulatedTestBackend::makeManual();
  for (const char* id : {"mic-1", "mic-2"}) backend->addMicrophone({id, id});
  for (const std::uint32_t display : {1u, 2u}) backend->addDisplay(display);
  CaptureBackend::setCurrent(backend);
  auto flutterApi = std::make_shared<BridgeFlutterApi>(engine.binaryMessenger());
  BridgeHostApiSetup::setUp(engine.binaryMessenger(), BridgeApi::create(flutterApi));

  // Calls go one at a time, so a second reply to any of them shows in the count.
  auto replies = std::make_shared<LockedLog<std::optional<Bytes>>>();
  std::size_t calls = 0;
  const auto call = [&](std::size_t operation, Bytes message) -> FuzzVerdict {
    ++calls;
    engine.uiSide().sendToHost(BridgeHostApiSetup::channelName(operations[operation]),
                               std::move(message),
                               [replies](std::optional<Bytes> reply) { replies->add(reply); });
    FuzzVerdict verdict = pumpUntil([&] { return replies->items().size() >= calls; }, "reply");
    if (!verdict) verdict = settle();
    if (!verdict && replies->items().size() > calls) verdict = "a call got two replies";
    return verdict;
  };
  const NSError stopped = makeCaptureError(CaptureErrorCode::stoppedUnexpectedly, "injected");
  for (std::size_t at = 0, steps = 0; at < bytes.size() && steps < 8; ++steps) {
    const std::uint8_t selector = bytes[at++];
    std::size_t length = 0;
    for (int shift = 0; shift < 16 && at < bytes.size(); shift += 8) {
      length |= static_cast<std::size_t>(bytes[at++]) << shift;
    }
    length = std::min(length, bytes.size() - at);
    const FuzzInput message = bytes.subspan(at, length);
    at += length;
    injectFaults(*backend, selector);
    const std::size_t action = selector & 0x07;
    if (action == 5) backend->removeMicrophone("mic-1");
    if (action == 6) backend->stopStreamsWithError(1, stopped);
    if (action == 7) backend->removeDisplay(1);
    if (auto verdict = action < 5 ? call(action, {message.begin(), message.end()}) : settle())
      return verdict;
  }
  // However the calls went, the host still answers.
  backend->setShareableContentError(std::nullopt);
  if (auto verdict = call(0, BridgeHostApiCodec::shared().encode(CodecList{std::int64_t{0}}))) {
    return verdict;
  }
  // Drop this input's host before judging, so that its teardown is covered too.
  BridgeHostApiSetup::setUp(engine.binaryMessenger(), nullptr);
  flutterApi.reset();
  if (auto verdict = settle()) return verdict;

  const auto all = replies->items();
  if (all.size() != calls) {
    return std::to_string(calls) + " calls got " + std::to_string(all.size()) + " replies";
  }
  if (!std::all_of(all.begin(), all.end(), isReply)) {
    return "a reply neither [x] nor [code, message-or-null, details]";
  }
  if (badEvents().items().size() > badEventsBefore) return "an event is not [NativeAudioEvent]";
  return std::nullopt;
}

}  // namespace harkwell::fuzz
