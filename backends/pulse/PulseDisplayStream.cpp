#include "backends/pulse/PulseDisplayStream.h"

#include <string>

#include "backends/pulse/PulseDeviceList.h"
#include "backends/pulse/PulseRecordStream.h"
#include "backends/pulse/PulseTaskSequence.h"
#include "platform/dispatch/CallbackGate.h"
#include "platform/dispatch/Mutex.h"

namespace harkwell {

namespace {

constexpr size_t displayBlockFrames = 1024;

}  // namespace

class PulseDisplayStream::State : public std::enable_shared_from_this<State> {
 public:
  State(std::shared_ptr<PulseConnection> connection, uint32_t displayID,
        DisplayStreamSettings settings, StreamStoppedHandler stopped)
      : connection_(std::move(connection)),
        displayID_(displayID),
        settings_(settings),
        stopped_(std::move(stopped)),
        sequence_(PulseTaskSequence::create()) {}

  void addOutput(DisplayOutputKind kind, std::shared_ptr<DispatchQueue> queue,
                 SampleBufferHandler handler) EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    if (kind == DisplayOutputKind::audio) {
      audioQueue_ = std::move(queue);
      audioHandler_ = std::move(handler);
    }
    // Screen outputs are accepted and never fed.
  }

  void startCapture(CaptureCompletion completion) {
    sequence_->submit([self = shared_from_this(), completion = std::move(completion)] {
      std::optional<NSError> error = self->start();
      if (completion) completion(std::move(error));
    });
  }

  void stopCapture(CaptureCompletion completion) {
    sequence_->submit([self = shared_from_this(), completion = std::move(completion)] {
      self->stop();
      if (completion) completion(std::nullopt);
    });
  }

  // Closes every gate (waiting for handler calls elsewhere) and leaves the
  // stream's teardown to the sequence, since the destructor may run inside a
  // task of that sequence or a handler. Any thread.
  void shutdown() EXCLUDES(mutex_) {
    std::shared_ptr<CallbackGate> runGate;
    {
      MutexLock lock(mutex_);
      destroyed_ = true;
      ++generation_;
      runGate = runGate_;
    }
    stoppedGate_->close();
    if (runGate) runGate->close();
    sequence_->submit([self = shared_from_this()] { self->stream_.reset(); });
  }

 private:
  // Background worker, in sequence.
  std::optional<NSError> start() EXCLUDES(mutex_) {
    std::shared_ptr<DispatchQueue> queue;
    SampleBufferHandler handler;
    uint64_t generation;
    auto gate = std::make_shared<CallbackGate>();
    {
      MutexLock lock(mutex_);
      if (destroyed_) {
        return makeCaptureError(CaptureErrorCode::startFailed,
                                "The stream was released before it started");
      }
      if (stream_ && stream_->isRunning()) return std::nullopt;
      queue = audioQueue_;
      handler = audioHandler_;
      generation = ++generation_;
      if (runGate_) runGate_->close();
      runGate_ = gate;
    }
    stream_.reset();
    if (!settings_.capturesAudio) return std::nullopt;

    // The id names a sink by its hashed name; look it up now, the sink may be
    // gone or the server restarted since the list was taken.
    std::optional<PulseInventory> inventory =
        connection_->inventory(connection_->deadlineFromNow());
    if (!inventory) {
      return makeCaptureError(CaptureErrorCode::startFailed, "The sound server cannot be reached");
    }
    std::string monitor;
    for (const PulseDisplay& display : displaysFrom(inventory->sinks, inventory->defaultSinkName)) {
      if (display.displayID == displayID_) monitor = display.monitorSourceName;
    }
    if (monitor.empty()) {
      return makeCaptureError(CaptureErrorCode::deviceNotFound,
                              "No display with id " + std::to_string(displayID_));
    }

    stream_ = std::make_unique<PulseRecordStream>(connection_, monitor, "System audio");
    PulseRecordStream::BufferHandler onBuffer;
    if (queue && handler) {
      // Mainloop thread: hop to the output's queue at once (its handler runs
      // there, and this thread must not wait); the run's gate drops what
      // arrives there after a stop. The handler is shared, not copied per
      // buffer: a copy would allocate here and be freed on the queue's thread.
      onBuffer = [gate, queue,
                  handler = std::make_shared<const SampleBufferHandler>(std::move(handler))](
                     CMSampleBufferRef buffer) {
        queue->async([gate, handler, buffer = std::move(buffer)] {
          gate->run([&] { (*handler)(buffer); });
        });
      };
    }
    // Mainloop thread: the report leaves the PulseAudio thread through the
    // sequence, which also tears the dead stream down.
    std::weak_ptr<State> weak = weak_from_this();
    auto onFailure = [weak, generation](NSError error) {
      std::shared_ptr<State> self = weak.lock();
      if (!self) return;
      // The reference moves into the task: were it the last one, the state
      // (and the stream whose callback this is) must not die on this thread.
      std::shared_ptr<PulseTaskSequence> sequence = self->sequence_;
      sequence->submit([self = std::move(self), generation, error = std::move(error)] {
        self->reportFailure(generation, error);
      });
    };
    // The platform's display capture delivers 1024-frame buffers; the monitor
    // hands over whatever the sink renders (5 ms blocks, say), so blocks are
    // assembled: fewer, larger events for everything downstream.
    PulseRecordStream::Shape shape;
    shape.blockFrames = displayBlockFrames;
    shape.exactBlocks = true;
    std::optional<NSError> error = stream_->start(std::move(onBuffer), std::move(onFailure), shape);
    if (error) {
      stream_.reset();
      gate->close();
    }
    return error;
  }

  // Background worker, in sequence.
  void stop() EXCLUDES(mutex_) {
    std::shared_ptr<CallbackGate> gate;
    {
      MutexLock lock(mutex_);
      ++generation_;
      gate = runGate_;
    }
    if (stream_) stream_->stop();
    if (gate) gate->close();
  }

  // Background worker, in sequence. A failure of a run that has since been
  // stopped or replaced is old news.
  void reportFailure(uint64_t generation, const NSError& error) EXCLUDES(mutex_) {
    std::shared_ptr<CallbackGate> gate;
    {
      MutexLock lock(mutex_);
      if (generation != generation_ || destroyed_) return;
      ++generation_;
      gate = runGate_;
    }
    if (stream_) stream_->stop();
    if (gate) gate->close();
    stoppedGate_->run([&] {
      if (stopped_) stopped_(error);
    });
  }

  const std::shared_ptr<PulseConnection> connection_;
  const uint32_t displayID_;
  const DisplayStreamSettings settings_;
  const StreamStoppedHandler stopped_;
  const std::shared_ptr<PulseTaskSequence> sequence_;
  const std::shared_ptr<CallbackGate> stoppedGate_ = std::make_shared<CallbackGate>();
  // Touched only by tasks of sequence_, which run one at a time.
  std::unique_ptr<PulseRecordStream> stream_;

  Mutex mutex_;
  std::shared_ptr<DispatchQueue> audioQueue_ GUARDED_BY(mutex_);
  SampleBufferHandler audioHandler_ GUARDED_BY(mutex_);
  std::shared_ptr<CallbackGate> runGate_ GUARDED_BY(mutex_);
  // Bumped by every start, stop and reported failure.
  uint64_t generation_ GUARDED_BY(mutex_) = 0;
  bool destroyed_ GUARDED_BY(mutex_) = false;
};

PulseDisplayStream::PulseDisplayStream(std::shared_ptr<PulseConnection> connection,
                                       uint32_t displayID, DisplayStreamSettings settings,
                                       StreamStoppedHandler stopped)
    : state_(std::make_shared<State>(std::move(connection), displayID, settings,
                                     std::move(stopped))) {}

PulseDisplayStream::~PulseDisplayStream() {
  state_->shutdown();
}

void PulseDisplayStream::addOutput(DisplayOutputKind kind, std::shared_ptr<DispatchQueue> queue,
                                   SampleBufferHandler handler) {
  state_->addOutput(kind, std::move(queue), std::move(handler));
}

void PulseDisplayStream::startCapture(CaptureCompletion completion) {
  state_->startCapture(std::move(completion));
}

void PulseDisplayStream::stopCapture(CaptureCompletion completion) {
  state_->stopCapture(std::move(completion));
}

}  // namespace harkwell
