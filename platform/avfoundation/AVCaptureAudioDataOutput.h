#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/avfoundation/NSNumber.h"
#include "platform/coremedia/CMSampleBuffer.h"
#include "platform/dispatch/CallbackGate.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/Mutex.h"

class AVCaptureAudioDataOutput;

using AVAudioSettings = std::map<std::string, NSNumber>;

// The link between a session's input and its output. Thread affinity: any thread.
class AVCaptureConnection {
 public:
  bool isEnabled() const { return true; }
};

// Receives the sample buffers of an audio data output.
// Thread affinity: called on the queue given with the delegate, one buffer at a
// time.
class AVCaptureAudioDataOutputSampleBufferDelegate {
 public:
  // One captured buffer. Delegate queue.
  virtual void captureOutput(AVCaptureAudioDataOutput& output, CMSampleBufferRef sampleBuffer,
                             AVCaptureConnection& connection) = 0;

 protected:
  virtual ~AVCaptureAudioDataOutputSampleBufferDelegate() = default;
};

// The output side of a capture session: hands each audio buffer to its delegate
// on the delegate's queue, in capture order.
//
// The delegate is not owned. Replacing or clearing it (or stopping or
// destroying the session) returns only once no call into the previous delegate
// is in progress on another thread, and none starts afterwards; so a delegate
// that owns the session and stops it (or clears itself) in its destructor is
// never called after that.
// Thread affinity: any thread; held through shared_ptr (the session keeps it).
class AVCaptureAudioDataOutput : public std::enable_shared_from_this<AVCaptureAudioDataOutput> {
 public:
  AVCaptureAudioDataOutput();
  ~AVCaptureAudioDataOutput();

  AVCaptureAudioDataOutput(const AVCaptureAudioDataOutput&) = delete;
  AVCaptureAudioDataOutput& operator=(const AVCaptureAudioDataOutput&) = delete;

  // Sets (or, with null, clears) the delegate and its queue. A session that
  // already runs keeps delivering on the queue it started with; a new queue
  // takes effect at the next startRunning. Any thread, the delegate queue too.
  void setSampleBufferDelegate(AVCaptureAudioDataOutputSampleBufferDelegate* delegate,
                               std::shared_ptr<DispatchQueue> queue) EXCLUDES(mutex_);
  AVCaptureAudioDataOutputSampleBufferDelegate* sampleBufferDelegate() const EXCLUDES(mutex_);
  std::shared_ptr<DispatchQueue> sampleBufferCallbackQueue() const EXCLUDES(mutex_);

  // The format asked of the device (AVFormatIDKey, AVNumberOfChannelsKey,
  // AVSampleRateKey); applied at the next startRunning. Any thread.
  void setAudioSettings(AVAudioSettings settings) EXCLUDES(mutex_);
  AVAudioSettings audioSettings() const EXCLUDES(mutex_);

  // Hands one buffer to the delegate, if there is one. Delegate queue.
  void deliver(const CMSampleBufferRef& sampleBuffer, AVCaptureConnection& connection)
      EXCLUDES(mutex_);

 private:
  mutable Mutex mutex_;
  AVCaptureAudioDataOutputSampleBufferDelegate* delegate_ GUARDED_BY(mutex_) = nullptr;
  std::shared_ptr<DispatchQueue> queue_ GUARDED_BY(mutex_);
  AVAudioSettings settings_ GUARDED_BY(mutex_);
  // Closed while the delegate changes, so the old one is left alone.
  std::shared_ptr<harkwell::CallbackGate> gate_;
};
