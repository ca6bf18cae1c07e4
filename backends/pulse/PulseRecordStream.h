#pragma once

#include <pulse/mainloop-api.h>
#include <pulse/stream.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "backends/pulse/PulseBlockAssembler.h"
#include "backends/pulse/PulseConnection.h"
#include "backends/pulse/PulseStreamRequest.h"
#include "platform/capture/CaptureTypes.h"
#include "platform/dispatch/Mutex.h"

namespace harkwell {

// What to record and in which blocks to hand it on.
struct PulseRecordShape {
  uint32_t sampleRate = 0;  // Hz; 0: the source's own
  uint8_t channels = 0;     // 1 or 2; 0: the source's own, at most two
  size_t blockFrames = 0;   // 0: one fragment (pulseFragment) at the recorded rate
  // Every block exactly blockFrames long; otherwise at least that long (what
  // arrived once that many frames are in).
  bool exactBlocks = false;
};

// One PulseAudio record stream on a named source, pinned to it. Delivers
// float32 sample buffers with one buffer per channel, at the source's own rate
// and channel count or at those its caller asks for (the server converts), in
// blocks assembled from whatever chunks the server sends, with presentation
// times that count the frames before them. Reports at most once that it
// failed: the stream failing (device gone, server gone), the context failing,
// or no data arriving for too long (a frozen server sends no error at all).
//
// Both handlers run on the mainloop thread with the mainloop lock held: they
// must copy what they need, hand it to another thread and return.
// Thread affinity: start/stop/isRunning from any thread but the mainloop thread,
// one caller at a time; handlers on the mainloop thread.
class PulseRecordStream {
 public:
  using BufferHandler = std::function<void(CMSampleBufferRef)>;
  using FailureHandler = std::function<void(NSError)>;

  using Shape = PulseRecordShape;

  // `connection` must outlive the stream (hold it). `sourceName`: the source to record.
  PulseRecordStream(std::shared_ptr<PulseConnection> connection, std::string sourceName,
                    std::string streamName);
  // Stops. Not on the mainloop thread.
  ~PulseRecordStream();
  PulseRecordStream(const PulseRecordStream&) = delete;
  PulseRecordStream& operator=(const PulseRecordStream&) = delete;

  // Connects and blocks until the stream is ready and confirmed on the
  // requested source, or has failed, or the connection's deadline passed.
  // Returns the error, or nullopt when running. Does not wait for data.
  // Not on the mainloop thread.
  // Frames of a block not yet complete at a stop are dropped.
  std::optional<NSError> start(BufferHandler onBuffer, FailureHandler onFailure, Shape shape = {})
      EXCLUDES(opMutex_);

  // Stops delivery without a server round trip; idempotent. Once it returns no
  // handler runs. Not on the mainloop thread.
  void stop() EXCLUDES(opMutex_);

  // Ready, not failed, not stopped. Any thread.
  bool isRunning() const { return running_.load(); }

  // The sample rate and channel count of the stream once started (0 before). Any thread.
  uint32_t sampleRate() const { return sampleRate_.load(); }

 private:
  static void onState(pa_stream* stream, void* self);
  static void onRead(pa_stream* stream, size_t bytes, void* self);
  static void onWatchdog(pa_mainloop_api* api, pa_time_event* event, const struct timeval* tv,
                         void* self);

  // The rest run with the mainloop lock held.
  std::optional<NSError> connectLocked(PulseConnection::Lock& lock,
                                       PulseConnection::Deadline deadline);
  void readAvailable();
  void deliver(const PulseBlockAssembler::Channels& channels, uint64_t firstFrame);
  void checkWatchdog();
  void fail(NSError error);
  void teardown();
  void stopLocked() REQUIRES(opMutex_);

  const std::shared_ptr<PulseConnection> connection_;
  // Serialises start and stop: a stop during a start waits for it (3 s at most)
  // instead of pulling the stream from under its wait. Taken before the mainloop
  // lock, never by a callback.
  Mutex opMutex_;
  const std::string sourceName_;
  const std::string streamName_;

  // Guarded by the mainloop lock (not expressible to the analysis: it is
  // libpulse's own).
  pa_stream* stream_ = nullptr;
  pa_time_event* watchdog_ = nullptr;
  BufferHandler onBuffer_;
  FailureHandler onFailure_;
  Shape shape_{};
  std::optional<PulseBlockAssembler> assembler_;
  bool failed_ = false;
  bool readySeen_ = false;
  bool dataSeen_ = false;
  uint64_t readyAtUsec_ = 0;
  uint64_t lastDataUsec_ = 0;
  uint64_t lastCheckUsec_ = 0;  // when the watchdog last ran
  uint64_t holesDropped_ = 0;
  PulseStreamRequest request_{};

  std::atomic<bool> running_{false};
  std::atomic<uint32_t> sampleRate_{0};
};

}  // namespace harkwell
