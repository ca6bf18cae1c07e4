#pragma once

#include <cstdint>
#include <memory>

#include "backends/pulse/PulseConnection.h"
#include "platform/capture/DisplayStream.h"

namespace harkwell {

// The system audio of a "display": the monitor of the sink whose hashed name is
// the display id, looked up afresh at each start. Starts and stops run in order
// on the background pool and answer through their completions, so callers never
// wait on the server. A running capture that fails (sink or server gone, no data)
// is reported once through the stopped handler, off the PulseAudio thread.
// No screen frames are produced: there is no screen behind a sink.
// Audio arrives as the platform delivers it: float32, one buffer per channel,
// at the sink's rate (at most two channels), in blocks of exactly 1024 frames
// with presentation times that count the frames before them. A stop drops the
// frames of a block not yet complete (under 1024, 21 ms at 48 kHz).
// Thread affinity: any thread; outputs on their queues; completions and the
// stopped handler on background workers.
class PulseDisplayStream final : public DisplayStream {
 public:
  // `connection` is shared with the backend that opened it.
  PulseDisplayStream(std::shared_ptr<PulseConnection> connection, uint32_t displayID,
                     DisplayStreamSettings settings, StreamStoppedHandler stopped);
  // Stops the capture; returns once no output or stopped-handler call runs
  // elsewhere. A start still pending completes with an error. Any thread.
  ~PulseDisplayStream() override;
  PulseDisplayStream(const PulseDisplayStream&) = delete;
  PulseDisplayStream& operator=(const PulseDisplayStream&) = delete;

  void addOutput(DisplayOutputKind kind, std::shared_ptr<DispatchQueue> queue,
                 SampleBufferHandler handler) override;
  void startCapture(CaptureCompletion completion) override;
  void stopCapture(CaptureCompletion completion) override;

  // Shared with the tasks in flight, which may outlive this object.
  class State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace harkwell
