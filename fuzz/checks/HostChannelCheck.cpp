#include "fuzz/checks/HostChannelCheck.h"

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "audio/capture/HostLog.h"
#include "audio/service/BridgeApi.h"
#include "bridge/BridgeFlutterApi.h"
#include "bridge/BridgeFlutterApiCodec.h"
#include "bridge/BridgeHostApiCodec.h"
#include "bridge/BridgeHostApiSetup.h"
#include "bridge/NativeAudioEvent.h"
#include "fuzz/checks/HostChannelInput.h"
#include "fuzz/checks/LockedLog.h"
#include "fuzz/checks/QuiescentEngine.h"
#include "platform/appkit/NSWorkspace.h"
#include "platform/capture/CaptureBackend.h"
#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadSafety.h"
#include "tests/support/SimulatedTestBackend.h"

namespace harkwell::fuzz {

namespace {

using Bytes = std::vector<std::uint8_t>;
using Action = HostChannelInput::Action;

constexpr std::array<std::string_view, 5> operations = {"getDevices", "listen", "unlisten",
                                                        "checkPermission", "requestPermission"};

// Replies to the calls of one input (by call number) and the events seen
// meanwhile, recorded on the UI thread and read on the main thread.
struct ChannelTraffic {
  LockedLog<std::pair<std::size_t, std::optional<Bytes>>> replies;
  LockedLog<Bytes> events;

  std::size_t repliesTo(std::size_t call) const {
    std::size_t count = 0;
    for (const auto& reply : replies.items()) count += reply.first == call ? 1 : 0;
    return count;
  }
};

FuzzVerdict checkReplyShape(const std::optional<Bytes>& reply) {
  if (!reply) return "a call got a null reply";
  const CodecDecodeResult decoded = BridgeHostApiCodec::shared().decode(*reply);
  if (!decoded.ok()) return "a reply does not decode: " + decoded.error;
  const CodecList* list = decoded.value->getIf<CodecList>();
  if (list == nullptr) return "a reply is not a list";
  if (list->size() == 1) return std::nullopt;
  if (list->size() != 3) return "a reply has " + std::to_string(list->size()) + " elements";
  if (!(*list)[0].is<std::string>()) return "an error reply's code is not a string";
  if (!(*list)[1].is<std::string>() && !(*list)[1].isNull()) {
    return "an error reply's message is neither a string nor null";
  }
  return std::nullopt;
}

FuzzVerdict checkEventShape(const Bytes& bytes) {
  const CodecDecodeResult decoded = BridgeFlutterApiCodec::shared().decode(bytes);
  if (!decoded.ok()) return "an event does not decode: " + decoded.error;
  const CodecList* list = decoded.value->getIf<CodecList>();
  if (list == nullptr || list->size() != 1 || (*list)[0].custom<NativeAudioEvent>() == nullptr) {
    return "an event message is not [NativeAudioEvent]";
  }
  return std::nullopt;
}

std::shared_ptr<SimulatedTestBackend> makeBackend() {
  auto backend = SimulatedTestBackend::makeManual();
  backend->addMicrophone({"mic-1", "Mic One"});
  backend->addMicrophone({"mic-2", "Mic Two"});
  backend->addDisplay(1);
  backend->addDisplay(2);
  return backend;
}

void injectFaults(SimulatedTestBackend& backend, const HostChannelInput::Step& step) {
  using Input = HostChannelInput;
  const auto error = [](CaptureErrorCode code) { return makeCaptureError(code, "injected"); };
  if (step.has(Input::failMicrophoneOpen)) {
    backend.failNextMicrophoneOpen(error(CaptureErrorCode::deviceUnavailable));
  }
  if (step.has(Input::failAddOutput))
    backend.failNextAddOutput(error(CaptureErrorCode::outputRejected));
  if (step.has(Input::failStreamStart))
    backend.failNextStreamStart(error(CaptureErrorCode::startFailed));
  if (step.has(Input::failStreamStop))
    backend.failNextStreamStop(error(CaptureErrorCode::stopFailed));
  backend.setShareableContentError(step.has(Input::failShareableContent)
                                       ? std::optional(error(CaptureErrorCode::notPermitted))
                                       : std::nullopt);
}

// The fixed environment every input plays against: quiet log lines, links
// recorded instead of opened, and the UI's event handler.
class HostChannelBench {
 public:
  static HostChannelBench& shared() {
    static HostChannelBench* const bench = new HostChannelBench();
    return *bench;
  }

  QuiescentEngine& quiescent() { return quiescent_; }
  FlutterUiSide& ui() { return quiescent_.engine().uiSide(); }

  // Starts recording into `traffic`. Main thread.
  void record(std::shared_ptr<ChannelTraffic> traffic) {
    MutexLock lock(mutex_);
    traffic_ = std::move(traffic);
  }

 private:
  HostChannelBench() : quiescent_(QuiescentEngine::shared()), logSink_([](std::string_view) {}) {
    NSWorkspace::sharedWorkspace().setOpensLinks(false);
    ui().setHandler(std::string(BridgeFlutterApi::channelPrefix),
                    [this](Bytes message, FlutterBinaryReply reply) {
                      std::shared_ptr<ChannelTraffic> traffic;
                      {
                        MutexLock lock(mutex_);
                        traffic = traffic_;
                      }
                      if (traffic) traffic->events.add(std::move(message));
                      reply(Bytes{0x0c, 0x00});  // [] : delivered
                    });
  }

  QuiescentEngine& quiescent_;
  ScopedHostLogSink logSink_;
  Mutex mutex_;
  std::shared_ptr<ChannelTraffic> traffic_ GUARDED_BY(mutex_);
};

}  // namespace

FuzzVerdict checkHostChannelInput(std::span<const std::uint8_t> bytes) {
  const HostChannelInput input = HostChannelInput::parse(bytes);
  HostChannelBench& bench = HostChannelBench::shared();
  QuiescentEngine& quiescent = bench.quiescent();
  FlutterEngine& engine = quiescent.engine();
  NSWorkspace::sharedWorkspace().clearOpenedURLs();

  auto traffic = std::make_shared<ChannelTraffic>();
  bench.record(traffic);
  auto backend = makeBackend();
  CaptureBackend::setCurrent(backend);
  auto flutterApi = std::make_shared<BridgeFlutterApi>(engine.binaryMessenger());
  BridgeHostApiSetup::setUp(engine.binaryMessenger(), BridgeApi::create(flutterApi));

  std::size_t calls = 0;
  const auto call = [&](Action action, Bytes message) -> FuzzVerdict {
    const std::size_t id = calls++;
    engine.uiSide().sendToHost(
        BridgeHostApiSetup::channelName(operations[static_cast<std::size_t>(action)]),
        std::move(message), [traffic, id](std::optional<Bytes> reply) {
          traffic->replies.add({id, std::move(reply)});
        });
    return quiescent.pumpUntil([&] { return traffic->repliesTo(id) > 0; }, "a reply");
  };

  for (const HostChannelInput::Step& step : input.steps) {
    injectFaults(*backend, step);
    FuzzVerdict verdict;
    switch (step.action()) {
      case Action::removeMicrophone:
        backend->removeMicrophone("mic-1");
        break;
      case Action::stopDisplayStreams:
        backend->stopStreamsWithError(
            1, makeCaptureError(CaptureErrorCode::stoppedUnexpectedly, "injected"));
        break;
      case Action::removeDisplay:
        backend->removeDisplay(1);
        break;
      default:
        verdict = call(step.action(), step.message);
        break;
    }
    if (verdict) return verdict;
    if (auto settled = quiescent.settle()) return settled;
  }

  // However the calls went, the host still answers.
  backend->setShareableContentError(std::nullopt);
  if (auto verdict = call(Action::getDevices, BridgeHostApiCodec::shared().encode(
                                                  CodecList{CodecValue(std::int64_t{0})}))) {
    return verdict;
  }
  if (auto verdict = quiescent.settle()) return verdict;

  // Drop this input's host before judging, so that its teardown is covered too.
  BridgeHostApiSetup::setUp(engine.binaryMessenger(), nullptr);
  flutterApi.reset();
  if (auto verdict = quiescent.settle()) return verdict;
  bench.record(nullptr);

  for (std::size_t id = 0; id < calls; ++id) {
    const std::size_t count = traffic->repliesTo(id);
    if (count != 1) {
      return "call " + std::to_string(id) + " got " + std::to_string(count) + " replies";
    }
  }
  for (const auto& [id, reply] : traffic->replies.items()) {
    if (auto verdict = checkReplyShape(reply))
      return "call " + std::to_string(id) + ": " + *verdict;
  }
  for (const Bytes& event : traffic->events.items()) {
    if (auto verdict = checkEventShape(event)) return verdict;
  }
  return std::nullopt;
}

}  // namespace harkwell::fuzz
