#include "ui/ChannelAligner.h"

#include <algorithm>

namespace harkwell {

ChannelAligner::ChannelAligner(std::size_t channels) : queues_(channels), positions_(channels, 0) {}

void ChannelAligner::add(std::size_t channel, std::span<const float> samples,
                         std::int64_t endFrame) {
  // Frames count from the first block of any channel: the sources' common
  // start-up time is nobody's silence.
  if (!origin_) origin_ = endFrame - static_cast<std::int64_t>(samples.size());
  const std::int64_t start = endFrame - *origin_ - static_cast<std::int64_t>(samples.size());
  if (start - positions_[channel] > toleranceFrames) {
    queues_[channel].insert(queues_[channel].end(),
                            static_cast<std::size_t>(start - positions_[channel]), 0.0f);
    positions_[channel] = start;
  }
  queues_[channel].insert(queues_[channel].end(), samples.begin(), samples.end());
  positions_[channel] += static_cast<std::int64_t>(samples.size());
}

void ChannelAligner::padTo(std::int64_t frame) {
  if (!origin_) return;
  frame -= *origin_;
  for (std::size_t channel = 0; channel < queues_.size(); ++channel) {
    if (positions_[channel] >= frame) continue;
    queues_[channel].insert(queues_[channel].end(),
                            static_cast<std::size_t>(frame - positions_[channel]), 0.0f);
    positions_[channel] = frame;
  }
}

std::vector<float> ChannelAligner::takeReady() {
  std::size_t ready = queues_.empty() ? 0 : queues_[0].size();
  for (const auto& queue : queues_) ready = std::min(ready, queue.size());
  return take(ready);
}

std::vector<float> ChannelAligner::takeAll() {
  std::int64_t longest = 0;
  for (const std::int64_t position : positions_) longest = std::max(longest, position);
  if (origin_) padTo(longest + *origin_);
  return takeReady();
}

std::vector<float> ChannelAligner::take(std::size_t frames) {
  std::vector<float> interleaved;
  interleaved.reserve(frames * queues_.size());
  for (std::size_t frame = 0; frame < frames; ++frame) {
    for (auto& queue : queues_) interleaved.push_back(queue[frame]);
  }
  for (auto& queue : queues_) queue.erase(queue.begin(), queue.begin() + static_cast<long>(frames));
  return interleaved;
}

}  // namespace harkwell
