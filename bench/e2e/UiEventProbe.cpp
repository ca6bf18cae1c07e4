#include "bench/e2e/UiEventProbe.h"

#include <mutex>
#include <optional>
#include <utility>

#include "bridge/BridgeFlutterApi.h"
#include "bridge/BridgeFlutterApiCodec.h"
#include "bridge/NativeAudioEvent.h"

namespace harkwell::e2e {

struct UiEventProbe::State {
  State(std::string id, ClickDetector::Settings settings)
      : deviceId(std::move(id)), detector(settings) {}

  // UI thread. The arrival stamp comes first: decoding is part of what the
  // UI does after the bytes arrived, not of the host's latency.
  void receive(const std::vector<std::uint8_t>& message) {
    const Clock::time_point arrivedAt = Clock::now();
    CodecDecodeResult decoded = BridgeFlutterApiCodec::shared().decode(message);
    const NativeAudioEvent* event = nullptr;
    if (decoded.ok()) {
      const auto* list = decoded.value->getIf<CodecList>();
      if (list != nullptr && list->size() == 1) event = (*list)[0].custom<NativeAudioEvent>();
    }
    std::lock_guard lock(mutex);
    if (event == nullptr) {
      ++undecodable;
      return;
    }
    if (event->eventType != NativeAudioEventType::deviceAudioData) {
      deviceEvents.push_back(event->eventType);
      return;
    }
    if (event->id != deviceId || !event->audioData) return;
    ++audioEvents;
    // Under the lock because the main thread reads the detector's position
    // and the onsets while the run waits.
    for (const std::optional<double>& sample : *event->audioData) {
      if (auto position = detector.push(sample.value_or(0.0))) {
        onsets.push_back(Onset{arrivedAt, *position});
      }
    }
  }

  const std::string deviceId;
  const std::vector<std::uint8_t> emptyReply =
      BridgeFlutterApiCodec::shared().encode(CodecValue(CodecList{}));

  mutable std::mutex mutex;
  ClickDetector detector;                          // guarded by mutex
  std::size_t audioEvents = 0;                     // guarded by mutex
  std::size_t undecodable = 0;                     // guarded by mutex
  std::vector<Onset> onsets;                       // guarded by mutex
  std::vector<NativeAudioEventType> deviceEvents;  // guarded by mutex
};

UiEventProbe::UiEventProbe(FlutterUiSide& ui, std::string deviceId,
                           ClickDetector::Settings settings)
    : state_(std::make_shared<State>(std::move(deviceId), settings)) {
  ui.setHandler(std::string(BridgeFlutterApi::channelPrefix),
                [state = state_](std::vector<std::uint8_t> message, FlutterBinaryReply reply) {
                  state->receive(message);
                  reply(state->emptyReply);
                });
}

std::size_t UiEventProbe::audioEvents() const {
  std::lock_guard lock(state_->mutex);
  return state_->audioEvents;
}

std::uint64_t UiEventProbe::audioSamples() const {
  std::lock_guard lock(state_->mutex);
  return state_->detector.position();
}

std::vector<UiEventProbe::Onset> UiEventProbe::onsets() const {
  std::lock_guard lock(state_->mutex);
  return state_->onsets;
}

std::vector<NativeAudioEventType> UiEventProbe::deviceEvents() const {
  std::lock_guard lock(state_->mutex);
  return state_->deviceEvents;
}

std::size_t UiEventProbe::undecodable() const {
  std::lock_guard lock(state_->mutex);
  return state_->undecodable;
}

}  // namespace harkwell::e2e
