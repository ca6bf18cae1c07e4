#include "platform/flutter/FlutterUiSide.h"

#include <utility>

#include "platform/flutter/FlutterMessageRouter.h"

FlutterUiSide::FlutterUiSide(FlutterMessageRouter& router) : router_(router) {}

void FlutterUiSide::sendToHost(const std::string& channel, std::vector<std::uint8_t> message,
                               FlutterBinaryReply replyCallback) {
  router_.send(FlutterSide::host, channel, std::move(message), std::move(replyCallback));
}

void FlutterUiSide::setHandler(const std::string& channel, FlutterBinaryMessageHandler handler) {
  router_.setHandler(FlutterSide::ui, channel, std::move(handler));
}

void FlutterUiSide::post(std::function<void()> work) {
  router_.post(FlutterSide::ui, std::move(work));
}

bool FlutterUiSide::isUiThread() const {
  return router_.isCurrent(FlutterSide::ui);
}

void FlutterUiSide::sendOnChannel(const std::string& channel, std::vector<std::uint8_t> message,
                                  FlutterBinaryReply callback) {
  sendToHost(channel, std::move(message), std::move(callback));
}

void FlutterUiSide::setMessageHandlerOnChannel(const std::string& channel,
                                               FlutterBinaryMessageHandler handler) {
  setHandler(channel, std::move(handler));
}
