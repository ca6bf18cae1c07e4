#include "audio/service/BridgeApi.h"

#include <optional>
#include <stdexcept>
#include <utility>

#include "bridge/NativeAudioEvent.h"

namespace harkwell {

std::shared_ptr<BridgeApi> BridgeApi::create(std::shared_ptr<BridgeFlutterApiProtocol> flutterApi) {
  return std::make_shared<BridgeApi>(ConstructionToken(), std::move(flutterApi));
}

BridgeApi::BridgeApi(ConstructionToken, std::shared_ptr<BridgeFlutterApiProtocol> flutterApi)
    : flutterApi_(std::move(flutterApi)) {
  if (!flutterApi_) throw std::invalid_argument("BridgeApi needs an event sender");
}

void BridgeApi::sendDeviceEvent(const std::string& id, AudioDeviceType type,
                                NativeAudioEventType eventType,
                                std::optional<std::string> error) const {
  // Nobody acts on a lost start or stop event, so no completion is passed.
  flutterApi_->onEvent(NativeAudioEvent{id, type, eventType, std::nullopt, std::move(error)}, {});
}

}  // namespace harkwell
