#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/coremedia/AudioStreamBasicDescription.h"

using CMMediaType = std::uint32_t;
inline constexpr CMMediaType kCMMediaType_Audio = 0x736F756E;  // 'soun'
inline constexpr CMMediaType kCMMediaType_Video = 0x76696465;  // 'vide'

// What a sample buffer carries: its media type and, for audio, the stream
// description. Immutable after creation.
// Thread affinity: any thread (shared read-only as CMFormatDescriptionRef).
class CMFormatDescription {
 public:
  CMFormatDescription(CMMediaType mediaType,
                      std::optional<AudioStreamBasicDescription> streamDescription)
      : mediaType_(mediaType), streamDescription_(streamDescription) {}

  CMMediaType mediaType() const { return mediaType_; }
  const std::optional<AudioStreamBasicDescription>& streamDescription() const {
    return streamDescription_;
  }

 private:
  CMMediaType mediaType_;
  std::optional<AudioStreamBasicDescription> streamDescription_;
};

using CMFormatDescriptionRef = std::shared_ptr<const CMFormatDescription>;

// An audio description carrying `asbd` (stored as given, not validated). Any thread.
CMFormatDescriptionRef CMAudioFormatDescriptionCreate(const AudioStreamBasicDescription& asbd);

// A video description: it has no stream description. Any thread.
CMFormatDescriptionRef CMVideoFormatDescriptionCreate();

// The stream description, or nullptr when `description` is null or carries
// none. The pointer lives as long as the description. Any thread.
const AudioStreamBasicDescription* CMAudioFormatDescriptionGetStreamBasicDescription(
    const CMFormatDescriptionRef& description);

// The media type; 0 for a null description. Any thread.
CMMediaType CMFormatDescriptionGetMediaType(const CMFormatDescriptionRef& description);
