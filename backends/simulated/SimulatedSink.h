#pragma once

#include <memory>

#include "platform/capture/CaptureTypes.h"
#include "platform/dispatch/CallbackGate.h"
#include "platform/dispatch/DispatchQueue.h"

namespace harkwell {

// Where one capture's buffers go during one run: the consumer's queue and
// handler, behind the gate of that run (closed when the run ends, so buffers
// still queued then are dropped).
// Thread affinity: a value; any thread.
struct SimulatedSink {
  std::shared_ptr<DispatchQueue> queue;
  SampleBufferHandler handler;
  std::shared_ptr<CallbackGate> gate;

  // Runs the handler on the queue and waits for it; false when there is no
  // queue or handler. Any thread (on the queue itself, runs inline).
  bool deliverSync(const CMSampleBufferRef& sampleBuffer) const {
    if (!queue || !handler || !gate) return false;
    queue->sync([&] { gate->run([&] { handler(sampleBuffer); }); });
    return true;
  }

  // Queues the handler call and returns at once. Any thread.
  bool deliverAsync(CMSampleBufferRef sampleBuffer) const {
    if (!queue || !handler || !gate) return false;
    queue->async([gate = gate, handler = handler, sampleBuffer = std::move(sampleBuffer)] {
      gate->run([&] { handler(sampleBuffer); });
    });
    return true;
  }
};

}  // namespace harkwell
