#pragma once

#include <memory>

#include "platform/capture/CaptureTypes.h"
#include "platform/dispatch/DispatchQueue.h"

namespace harkwell {

// One display stream: the backend side of an SCStream (system audio plus
// screen frames of one display).
//
// Lifetime: destroying it stops the capture if it runs and returns only once no
// output or stopped-handler call is in progress (except the call running the
// destructor itself); none starts afterwards. Completions are different: each is
// called exactly once, even after the stream was destroyed, so they must not
// hold raw pointers to objects that may be gone.
// Thread affinity: any thread.
class DisplayStream {
 public:
  virtual ~DisplayStream() = default;

  // Registers an output: `handler` receives every buffer of that kind, on
  // `queue`. Throws NSError when the output cannot be added. Any thread.
  virtual void addOutput(DisplayOutputKind kind, std::shared_ptr<DispatchQueue> queue,
                         SampleBufferHandler handler) = 0;

  // Starts capturing; `completion` gets nullopt once running or the error. It
  // runs exactly once, on a thread of the backend's choosing, possibly inside
  // this call. Any thread.
  virtual void startCapture(CaptureCompletion completion) = 0;

  // Stops capturing; `completion` as for startCapture. After it reports success
  // no output handler call starts. Any thread.
  virtual void stopCapture(CaptureCompletion completion) = 0;
};

}  // namespace harkwell
