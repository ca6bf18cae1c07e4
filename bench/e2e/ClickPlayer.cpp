#include "bench/e2e/ClickPlayer.h"

#include <algorithm>
#include <cstdint>

namespace harkwell::e2e {

namespace {

constexpr std::size_t frameBytes = sizeof(float) * ClickPlayer::channelCount;

}  // namespace

std::vector<float> ClickPlayer::clickSamples() {
  return std::vector<float>(clickFrames * channelCount, clickLevel);
}

std::unique_ptr<ClickPlayer> ClickPlayer::open(const Settings& settings, std::string& whyNot) {
  std::unique_ptr<ClickPlayer> player(new ClickPlayer());
  if (!player->connect(settings, whyNot)) return nullptr;
  return player;
}

bool ClickPlayer::connect(const Settings& settings, std::string& whyNot) {
  client_ = PulseClient::connect("harkwell-e2e-clicks", settings.connectDeadline, whyNot);
  if (!client_) return false;
  // The stream is shared with the mainloop thread from its creation on.
  PulseClient::Lock lock(*client_);
  const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, sampleRate, channelCount};
  stream_ = pa_stream_new(client_->context(), "harkwell e2e clicks", &spec, nullptr);
  if (stream_ == nullptr) {
    whyNot = std::string("cannot create a playback stream: ") + client_->lastError();
    return false;
  }
  pa_stream_set_write_callback(stream_, &ClickPlayer::writeCallback, this);
  pa_stream_set_state_callback(stream_, &ClickPlayer::stateCallback, this);
  pa_buffer_attr attr{};
  attr.maxlength = static_cast<std::uint32_t>(-1);
  attr.tlength = static_cast<std::uint32_t>(
      pa_usec_to_bytes(static_cast<pa_usec_t>(settings.targetLatency.count()), &spec));
  attr.prebuf = static_cast<std::uint32_t>(-1);
  attr.minreq = static_cast<std::uint32_t>(
      pa_usec_to_bytes(static_cast<pa_usec_t>(settings.request.count()), &spec));
  attr.fragsize = static_cast<std::uint32_t>(-1);
  // ADJUST_LATENCY makes tlength the whole latency, sink included, so the
  // server lowers the null sink's block size to serve it. The timing flags
  // keep pa_stream_get_latency current without a round trip per click.
  const auto flags =
      static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE |
                                     PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_DONT_MOVE);
  if (pa_stream_connect_playback(stream_, settings.sink.c_str(), &attr, flags, nullptr, nullptr) <
      0) {
    whyNot = std::string("cannot play into ") + settings.sink + ": " + client_->lastError();
    return false;
  }
  if (!client_->waitReadyLocked(stream_, settings.connectDeadline)) {
    whyNot = std::string("the playback stream into ") + settings.sink +
             " did not start: " + client_->lastError();
    return false;
  }
  return true;
}

ClickPlayer::~ClickPlayer() {
  if (!client_ || stream_ == nullptr) return;
  PulseClient::Lock lock(*client_);
  // No callback may run into a half-destroyed player.
  pa_stream_set_write_callback(stream_, nullptr, nullptr);
  pa_stream_set_state_callback(stream_, nullptr, nullptr);
  pa_stream_disconnect(stream_);
  pa_stream_unref(stream_);
}

std::size_t ClickPlayer::requestClick() {
  std::lock_guard lock(mutex_);
  return requested_++;
}

std::optional<ClickPlayer::WrittenClick> ClickPlayer::written(std::size_t index) const {
  std::lock_guard lock(mutex_);
  if (index >= written_.size()) return std::nullopt;
  return written_[index];
}

bool ClickPlayer::failed() const {
  std::lock_guard lock(mutex_);
  return failed_;
}

void ClickPlayer::writeCallback(pa_stream* /*stream*/, std::size_t bytes, void* self) {
  static_cast<ClickPlayer*>(self)->onWritable(bytes);
}

void ClickPlayer::stateCallback(pa_stream* stream, void* self) {
  if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) return;
  auto* player = static_cast<ClickPlayer*>(self);
  std::lock_guard lock(player->mutex_);
  player->failed_ = true;
}

void ClickPlayer::onWritable(std::size_t bytes) {
  const std::size_t frames = bytes / frameBytes;
  if (frames == 0) return;
  chunk_.assign(frames * channelCount, 0.0f);
  bool clickStarts = false;
  if (clickCursor_ == 0) {
    // Held only to read the request count: the writer never waits on a caller.
    std::lock_guard lock(mutex_);
    clickStarts = written_.size() < requested_;
  }
  if (clickStarts || clickCursor_ > 0) {
    const std::size_t count = std::min(click_.size() - clickCursor_, chunk_.size());
    std::copy_n(click_.begin() + static_cast<std::ptrdiff_t>(clickCursor_), count, chunk_.begin());
    clickCursor_ = (clickCursor_ + count) % click_.size();
  }

  const Clock::time_point writtenAt = Clock::now();
  if (pa_stream_write(stream_, chunk_.data(), frames * frameBytes, nullptr, 0, PA_SEEK_RELATIVE) <
      0) {
    std::lock_guard lock(mutex_);
    failed_ = true;
    return;
  }
  if (!clickStarts) return;

  WrittenClick click{writtenAt, std::nullopt};
  pa_usec_t latency = 0;
  int negative = 0;
  if (pa_stream_get_latency(stream_, &latency, &negative) == 0) {
    const auto chunkUsec = static_cast<long long>(frames * 1000000 / sampleRate);
    const long long endUsec =
        negative ? -static_cast<long long>(latency) : static_cast<long long>(latency);
    click.playbackLatency = std::chrono::microseconds(std::max(0LL, endUsec - chunkUsec));
  }
  std::lock_guard lock(mutex_);
  written_.push_back(click);
}

}  // namespace harkwell::e2e
