#include "bench/e2e/MonitorReader.h"

#include "backends/pulse/PulseStreamRequest.h"

namespace harkwell::e2e {

std::unique_ptr<MonitorReader> MonitorReader::open(const std::string& source, std::string& whyNot) {
  constexpr std::chrono::milliseconds deadline{3000};
  std::unique_ptr<MonitorReader> reader(new MonitorReader());
  reader->client_ = PulseClient::connect("harkwell-e2e-reader", deadline, whyNot);
  if (!reader->client_) return nullptr;
  PulseClient& client = *reader->client_;
  // The stream is shared with the mainloop thread from its creation on.
  PulseClient::Lock lock(client);
  const PulseStreamRequest request = streamRequestFor(sampleRate, channelCount);
  reader->stream_ = pa_stream_new(client.context(), "harkwell e2e reader", &request.sampleSpec,
                                  &request.channelMap);
  if (reader->stream_ == nullptr) {
    whyNot = "cannot create a record stream: " + client.lastError();
    return nullptr;
  }
  pa_stream_set_read_callback(reader->stream_, &MonitorReader::readCallback, reader.get());
  if (pa_stream_connect_record(reader->stream_, source.c_str(), &request.bufferAttr,
                               request.flags) < 0 ||
      !client.waitReadyLocked(reader->stream_, deadline)) {
    whyNot = "cannot record from " + source + ": " + client.lastError();
    return nullptr;
  }
  return reader;
}

MonitorReader::~MonitorReader() {
  if (!client_ || stream_ == nullptr) return;
  PulseClient::Lock lock(*client_);
  // No callback may run into a half-destroyed reader.
  pa_stream_set_read_callback(stream_, nullptr, nullptr);
  pa_stream_disconnect(stream_);
  pa_stream_unref(stream_);
}

std::vector<TimedOnset> MonitorReader::onsets() const {
  std::lock_guard lock(mutex_);
  return onsets_;
}

void MonitorReader::readCallback(pa_stream* /*stream*/, std::size_t /*bytes*/, void* self) {
  static_cast<MonitorReader*>(self)->onReadable();
}

void MonitorReader::onReadable() {
  const auto arrivedAt = std::chrono::steady_clock::now();
  const void* data = nullptr;
  std::size_t bytes = 0;
  while (pa_stream_peek(stream_, &data, &bytes) == 0 && bytes > 0) {
    // A hole (data null) carries no samples: nothing to search.
    if (data != nullptr) {
      const auto* samples = static_cast<const float*>(data);
      const std::size_t frames = bytes / (sizeof(float) * channelCount);
      std::lock_guard lock(mutex_);
      for (std::size_t frame = 0; frame < frames; ++frame) {
        if (auto position = detector_.push(samples[frame * channelCount])) {
          onsets_.push_back(TimedOnset{arrivedAt, *position});
        }
      }
    }
    pa_stream_drop(stream_);
  }
}

}  // namespace harkwell::e2e
