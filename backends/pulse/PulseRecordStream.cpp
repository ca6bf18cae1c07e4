#include "backends/pulse/PulseRecordStream.h"

#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/proplist.h>
#include <pulse/rtclock.h>
#include <pulse/timeval.h>

#include <algorithm>
#include <string_view>
#include <utility>

namespace harkwell {

namespace {

// How often the no-data watchdog looks; the limits below are far longer.
constexpr pa_usec_t watchdogPeriodUsec = 250 * PA_USEC_PER_MSEC;
// Before the first buffer: time the server gets to send anything at all.
constexpr pa_usec_t firstDataGraceUsec = 3 * PA_USEC_PER_SEC;
constexpr pa_usec_t minimumSilenceUsec = 2 * PA_USEC_PER_SEC;

struct SourceQuery {
  PulseConnection* connection = nullptr;
  std::optional<PulseSourceInfo> info;
};

void onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* userdata) {
  auto* query = static_cast<SourceQuery*>(userdata);
  if (eol == 0 && info) {
    try {
      query->info = copySourceInfo(*info);
    } catch (...) {
      // Left empty: start reports the source as unusable.
    }
    return;
  }
  query->connection->notify();
}

std::string pulseError(pa_context* context) {
  return context ? pa_strerror(pa_context_errno(context)) : "no connection";
}

}  // namespace

PulseRecordStream::PulseRecordStream(std::shared_ptr<PulseConnection> connection,
                                     std::string sourceName, std::string streamName)
    : connection_(std::move(connection)),
      sourceName_(std::move(sourceName)),
      streamName_(std::move(streamName)) {}

PulseRecordStream::~PulseRecordStream() {
  stop();
}

std::optional<NSError> PulseRecordStream::start(BufferHandler onBuffer, FailureHandler onFailure,
                                                Shape shape) {
  MutexLock serial(opMutex_);
  stopLocked();
  shape_ = shape;
  const PulseConnection::Deadline deadline = connection_->deadlineFromNow();
  PulseConnection::Lock lock(*connection_);
  onBuffer_ = std::move(onBuffer);
  onFailure_ = std::move(onFailure);
  std::optional<NSError> error = connectLocked(lock, deadline);
  if (error) {
    teardown();
    onBuffer_ = nullptr;
    onFailure_ = nullptr;
  }
  return error;
}

std::optional<NSError> PulseRecordStream::connectLocked(PulseConnection::Lock& lock,
                                                        PulseConnection::Deadline deadline) {
  switch (connection_->connect(lock, deadline)) {
    case PulseReachability::reachable:
      break;
    case PulseReachability::denied:
      return makeCaptureError(CaptureErrorCode::notPermitted,
                              "The sound server refused the connection");
    case PulseReachability::unreachable:
      return makeCaptureError(CaptureErrorCode::startFailed, "The sound server cannot be reached");
  }
  pa_context* context = connection_->context();

  // The native spec decides what the caller leaves open; asking for it avoids a
  // conversion in the server and keeps the result independent of its resampler.
  SourceQuery query;
  query.connection = connection_.get();
  const bool answered = connection_->await(
      lock, pa_context_get_source_info_by_name(context, sourceName_.c_str(), &onSourceInfo, &query),
      deadline);
  if (!query.info) {
    if (answered) {
      return makeCaptureError(CaptureErrorCode::deviceNotFound,
                              "No audio source named " + sourceName_);
    }
    return makeCaptureError(CaptureErrorCode::startFailed,
                            "The sound server did not describe " + sourceName_ + " in time");
  }

  request_ = streamRequestFor(shape_.sampleRate != 0 ? shape_.sampleRate : query.info->sampleRate,
                              shape_.channels != 0 ? shape_.channels : query.info->channels);
  pa_proplist* properties = pa_proplist_new();
  pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME,
                   connection_->options().applicationName.c_str());
  pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, connection_->options().mediaRole.c_str());
  stream_ = pa_stream_new_with_proplist(context, streamName_.c_str(), &request_.sampleSpec,
                                        &request_.channelMap, properties);
  pa_proplist_free(properties);
  if (!stream_) {
    return makeCaptureError(CaptureErrorCode::startFailed,
                            "Cannot create a stream: " + pulseError(context));
  }
  assembler_.reset();
  failed_ = false;
  readySeen_ = false;
  dataSeen_ = false;
  holesDropped_ = 0;
  // Callbacks go in before connecting so that no state change is missed.
  pa_stream_set_state_callback(stream_, &PulseRecordStream::onState, this);
  pa_stream_set_read_callback(stream_, &PulseRecordStream::onRead, this);
  if (pa_stream_connect_record(stream_, sourceName_.c_str(), &request_.bufferAttr, request_.flags) <
      0) {
    return makeCaptureError(CaptureErrorCode::startFailed,
                            "Cannot record from " + sourceName_ + ": " + pulseError(context));
  }

  pa_stream* stream = stream_;
  connection_->waitUntil(
      lock,
      [&] {
        const pa_stream_state_t state = pa_stream_get_state(stream);
        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
      },
      deadline);
  const pa_stream_state_t state = pa_stream_get_state(stream_);
  if (state != PA_STREAM_READY) {
    if (PA_STREAM_IS_GOOD(state)) {
      return makeCaptureError(CaptureErrorCode::startFailed,
                              "The sound server did not open " + sourceName_ + " in time");
    }
    const int code = pa_context_errno(context);
    return makeCaptureError(
        code == PA_ERR_NOENTITY ? CaptureErrorCode::deviceNotFound : CaptureErrorCode::startFailed,
        "Cannot record from " + sourceName_ + ": " + pa_strerror(code));
  }

  // Some servers fall back to another source instead of failing; recording the
  // wrong device silently is worse than not recording.
  const char* device = pa_stream_get_device_name(stream_);
  if (!device || std::string_view(device) != sourceName_) {
    return makeCaptureError(CaptureErrorCode::deviceUnavailable,
                            "The sound server opened " +
                                std::string(device ? device : "no source") + " instead of " +
                                sourceName_);
  }

  // The server may have changed the sample format it honours; the buffers must say what
  // they really hold.
  if (const pa_sample_spec* actual = pa_stream_get_sample_spec(stream_)) {
    request_.sampleSpec = *actual;
  }
  const size_t fragmentFrames =
      pa_usec_to_bytes(std::chrono::microseconds(pulseFragment).count(), &request_.sampleSpec) /
      pa_frame_size(&request_.sampleSpec);
  assembler_.emplace(request_.sampleSpec.channels,
                     shape_.blockFrames != 0 ? shape_.blockFrames : fragmentFrames,
                     shape_.exactBlocks);
  readySeen_ = true;
  readyAtUsec_ = pa_rtclock_now();
  lastDataUsec_ = readyAtUsec_;
  lastCheckUsec_ = readyAtUsec_;
  watchdog_ = pa_context_rttime_new(context, readyAtUsec_ + watchdogPeriodUsec,
                                    &PulseRecordStream::onWatchdog, this);
  sampleRate_ = request_.sampleSpec.rate;
  running_ = true;
  // Data that arrived between READY and now is waiting; take it.
  readAvailable();
  return std::nullopt;
}

void PulseRecordStream::stop() {
  MutexLock serial(opMutex_);
  stopLocked();
}

void PulseRecordStream::stopLocked() {
  BufferHandler onBuffer;
  FailureHandler onFailure;
  {
    PulseConnection::Lock lock(*connection_);
    running_ = false;
    readySeen_ = false;
    teardown();
    onBuffer = std::move(onBuffer_);
    onFailure = std::move(onFailure_);
    onBuffer_ = nullptr;
    onFailure_ = nullptr;
  }
  // The handlers may own the last reference to a queue whose destruction joins
  // its thread: let them go outside the mainloop lock.
}

void PulseRecordStream::teardown() {
  if (watchdog_) {
    pa_threaded_mainloop_get_api(connection_->mainloop())->time_free(watchdog_);
    watchdog_ = nullptr;
  }
  if (!stream_) return;
  // Callbacks are cleared first: they run under the lock we hold, so once they
  // are gone nothing is delivered any more.
  pa_stream_set_state_callback(stream_, nullptr, nullptr);
  pa_stream_set_read_callback(stream_, nullptr, nullptr);
  if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) pa_stream_disconnect(stream_);
  pa_stream_unref(stream_);
  stream_ = nullptr;
  if (assembler_) assembler_->reset();
}

void PulseRecordStream::fail(NSError error) {
  if (failed_) return;
  failed_ = true;
  running_ = false;
  readySeen_ = false;
  if (watchdog_) {
    pa_threaded_mainloop_get_api(connection_->mainloop())->time_free(watchdog_);
    watchdog_ = nullptr;
  }
  // The stream stays referenced until stop(): unreferencing it inside one of
  // its own callbacks is not safe. Detaching the callbacks is.
  pa_stream_set_state_callback(stream_, nullptr, nullptr);
  pa_stream_set_read_callback(stream_, nullptr, nullptr);
  if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) pa_stream_disconnect(stream_);
  // onBuffer_ stays until stop(): it may hold the last reference to a queue,
  // whose destruction would join a thread on this one.
  FailureHandler onFailure = std::move(onFailure_);
  onFailure_ = nullptr;
  if (onFailure) {
    try {
      onFailure(std::move(error));
    } catch (...) {
      // Nothing may escape into libpulse.
    }
  }
}

void PulseRecordStream::onState(pa_stream* stream, void* self) {
  auto* recorder = static_cast<PulseRecordStream*>(self);
  recorder->connection_->notify();
  const pa_stream_state_t state = pa_stream_get_state(stream);
  // While start() waits it reads the state itself; afterwards a bad state is a
  // failure of the running capture (device or server gone; a failing context
  // fails its streams too).
  if (recorder->readySeen_ && !PA_STREAM_IS_GOOD(state)) {
    const int code = pa_context_errno(pa_stream_get_context(stream));
    recorder->fail(makeCaptureError(
        CaptureErrorCode::stoppedUnexpectedly,
        "Recording from " + recorder->sourceName_ + " stopped: " + pa_strerror(code)));
  }
}

void PulseRecordStream::onRead(pa_stream*, size_t, void* self) {
  auto* recorder = static_cast<PulseRecordStream*>(self);
  if (recorder->readySeen_) recorder->readAvailable();
}

void PulseRecordStream::readAvailable() {
  // No pa_stream_readable_size first: peek says as much (nothing: no data,
  // no size), and every libpulse call costs a getpid for its fork check.
  while (stream_ && !failed_) {
    const void* data = nullptr;
    size_t bytes = 0;
    if (pa_stream_peek(stream_, &data, &bytes) < 0) {
      fail(makeCaptureError(CaptureErrorCode::stoppedUnexpectedly,
                            "Reading from " + sourceName_ +
                                " failed: " + pulseError(pa_stream_get_context(stream_))));
      return;
    }
    // Empty: nothing to drop. A hole (no data, but a size) must be dropped and
    // carries no samples.
    if (!data && bytes == 0) return;
    if (data) {
      lastDataUsec_ = pa_rtclock_now();
      dataSeen_ = true;
      try {
        assembler_->push(data, bytes,
                         [this](const PulseBlockAssembler::Channels& channels,
                                uint64_t firstFrame) { deliver(channels, firstFrame); });
      } catch (...) {
        // Out of memory growing a block: this chunk is lost, the stream goes on.
      }
    } else {
      ++holesDropped_;
    }
    pa_stream_drop(stream_);
  }
}

void PulseRecordStream::deliver(const PulseBlockAssembler::Channels& channels,
                                uint64_t firstFrame) {
  if (!onBuffer_) return;
  try {
    const auto rate = request_.sampleSpec.rate;
    CMSampleBufferRef buffer = CMSampleBufferCreateWithFloat32Channels(
        rate, channels,
        CMTimeMake(static_cast<CMTimeValue>(firstFrame), static_cast<CMTimeScale>(rate)));
    if (buffer) onBuffer_(std::move(buffer));
  } catch (...) {
    // Out of memory, or a handler that threw: this block is lost, the next one
    // keeps its place in time.
  }
}

void PulseRecordStream::onWatchdog(pa_mainloop_api*, pa_time_event*, const struct timeval*,
                                   void* self) {
  static_cast<PulseRecordStream*>(self)->checkWatchdog();
}

void PulseRecordStream::checkWatchdog() {
  if (!watchdog_ || !stream_ || failed_) return;
  const pa_usec_t now = pa_rtclock_now();
  // A suspended source sends nothing by design; silence is not a fault then.
  // Nor is silence while this process itself did not run (SIGSTOP, a starved
  // machine): the watchdog firing far later than asked shows that.
  const bool stalled = now - lastCheckUsec_ > watchdogPeriodUsec + PA_USEC_PER_SEC;
  lastCheckUsec_ = now;
  if (stalled || pa_stream_is_suspended(stream_) == 1) lastDataUsec_ = now;
  const pa_usec_t fragmentUsec = std::chrono::microseconds(pulseFragment).count();
  const pa_usec_t limit =
      dataSeen_ ? std::max(minimumSilenceUsec, 10 * fragmentUsec) : firstDataGraceUsec;
  if (now - lastDataUsec_ > limit) {
    fail(makeCaptureError(CaptureErrorCode::stoppedUnexpectedly,
                          "No audio from " + sourceName_ + " for " +
                              std::to_string((now - lastDataUsec_) / PA_USEC_PER_MSEC) + " ms"));
    return;
  }
  pa_context_rttime_restart(pa_stream_get_context(stream_), watchdog_, now + watchdogPeriodUsec);
}

}  // namespace harkwell
