#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bench/e2e/ClickDetector.h"
#include "bridge/NativeAudioEventType.h"
#include "platform/flutter/FlutterUiSide.h"

namespace harkwell::e2e {

// The UI's end of the event channel, as the Dart UI has it: each message
// arrives as bytes on the UI thread, is stamped on arrival, decoded with the
// event codec and answered with []. The audio of one device runs through a
// ClickDetector; each onset is kept with the arrival time of the event that
// carried its first sample.
// Thread affinity: construct and read from any thread; the handler runs on
// the engine's UI thread, and what it records is guarded by a mutex.
class UiEventProbe {
 public:
  using Clock = std::chrono::steady_clock;

  // arrivedAt: when the UI thread entered the handler; position: the sample
  // index in the device's 16 kHz stream.
  using Onset = TimedOnset;

  // Installs the handler on `ui`'s event channel (no suffix). `ui` must
  // outlive the probe's use; the handler itself holds only shared state.
  UiEventProbe(FlutterUiSide& ui, std::string deviceId, ClickDetector::Settings settings);

  std::size_t audioEvents() const;
  std::uint64_t audioSamples() const;
  std::vector<Onset> onsets() const;
  // deviceStart / deviceStop (and any service event) of every id, in order.
  std::vector<NativeAudioEventType> deviceEvents() const;
  // Messages that were not [NativeAudioEvent]: a broken host.
  std::size_t undecodable() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace harkwell::e2e
