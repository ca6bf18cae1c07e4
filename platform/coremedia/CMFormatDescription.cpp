#include "platform/coremedia/CMFormatDescription.h"

CMFormatDescriptionRef CMAudioFormatDescriptionCreate(const AudioStreamBasicDescription& asbd) {
  return std::make_shared<const CMFormatDescription>(kCMMediaType_Audio, asbd);
}

CMFormatDescriptionRef CMVideoFormatDescriptionCreate() {
  return std::make_shared<const CMFormatDescription>(kCMMediaType_Video, std::nullopt);
}

const AudioStreamBasicDescription* CMAudioFormatDescriptionGetStreamBasicDescription(
    const CMFormatDescriptionRef& description) {
  if (!description || !description->streamDescription()) return nullptr;
  return &*description->streamDescription();
}

CMMediaType CMFormatDescriptionGetMediaType(const CMFormatDescriptionRef& description) {
  return description ? description->mediaType() : 0;
}
