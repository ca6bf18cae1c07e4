#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/capture/DisplayStream.h"
#include "platform/capture/NSError.h"
#include "platform/coremedia/CMSampleBuffer.h"
#include "platform/dispatch/CallbackGate.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/Mutex.h"
#include "platform/screencapturekit/SCContentFilter.h"
#include "platform/screencapturekit/SCStreamConfiguration.h"

class SCStream;

enum class SCStreamOutputType : int { screen = 0, audio = 1 };

// Receives a stream's sample buffers. Thread affinity: called on the queue the
// output was added with, one buffer at a time per output type.
class SCStreamOutput {
 public:
  // One screen frame or one stretch of audio. Output queue.
  virtual void stream(SCStream& stream, CMSampleBufferRef sampleBuffer,
                      SCStreamOutputType type) = 0;

 protected:
  virtual ~SCStreamOutput() = default;
};

// Told when a running stream ends by itself. Thread affinity: called on a
// thread of the backend's choosing.
class SCStreamDelegate {
 public:
  // The capture stopped with `error` (display or device gone, server gone).
  // Backend thread.
  virtual void streamDidStopWithError(SCStream& stream, const NSError& error) = 0;

 protected:
  virtual ~SCStreamDelegate() = default;
};

// A capture of one display's screen and system audio.
//
// Outputs and the delegate are not owned. Once removeStreamOutput() or the
// destructor has returned, no call into that output (or, for the destructor,
// the delegate) is in progress on another thread and none starts; so a consumer
// that owns its SCStream and destroys it first thing in its own destructor (or
// declares it as its last member) is never called afterwards. Destruction also
// stops a capture that runs or is starting.
// Completion handlers are different: each runs exactly once, even after the
// stream is gone, on a thread of the backend's choosing, possibly inside the
// call. They must capture weak references, never a raw consumer pointer.
// Thread affinity: any thread.
class SCStream {
 public:
  using CompletionHandler = std::function<void(std::optional<NSError> error)>;

  // A stream on the filter's display (on the backend that listed it). `delegate`
  // may be null. An unknown display fails at startCapture. Any thread.
  SCStream(const SCContentFilter& filter, const SCStreamConfiguration& configuration,
           SCStreamDelegate* delegate);
  ~SCStream();

  SCStream(const SCStream&) = delete;
  SCStream& operator=(const SCStream&) = delete;

  // Adds `output` for buffers of `type`, delivered on `queue`. Throws NSError
  // when the stream cannot take it (null output or queue, or the backend
  // refuses). Any thread.
  void addStreamOutput(SCStreamOutput* output, SCStreamOutputType type,
                       std::shared_ptr<DispatchQueue> queue) EXCLUDES(mutex_);

  // Stops the buffers of `type` to `output`. Throws NSError when it was not
  // added. Any thread, the output queue too.
  void removeStreamOutput(SCStreamOutput* output, SCStreamOutputType type) EXCLUDES(mutex_);

  // Starts / stops capturing; the handler gets nullopt or the error. Any thread.
  void startCapture(CompletionHandler completionHandler);
  void stopCapture(CompletionHandler completionHandler);

 private:
  struct Registration {
    SCStreamOutput* output;
    SCStreamOutputType type;
    std::shared_ptr<harkwell::CallbackGate> gate;
  };

  static harkwell::CaptureCompletion guarded(CompletionHandler handler);

  Mutex mutex_;
  std::vector<Registration> outputs_ GUARDED_BY(mutex_);
  // Guards the delegate calls; closed by the destructor.
  std::shared_ptr<harkwell::CallbackGate> delegateGate_;
  std::unique_ptr<harkwell::DisplayStream> stream_;
};
