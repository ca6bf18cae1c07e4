#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/NativeAudioEvent.h"
#include "platform/flutter/CodecValue.h"
#include "platform/flutter/FlutterUiSide.h"
#include "ui/ConsoleOutput.h"

namespace harkwell {

// The outcome of one host call as the UI sees it: the value of a success
// reply, or one line saying why there is none.
// Thread affinity: a plain value, any thread.
struct HostCallResult {
  std::optional<CodecValue> value;  // element 0 of a success reply
  std::string error;

  bool ok() const { return value.has_value(); }
};

// The console UI's end of the bridge, in encoded bytes as the Dart UI speaks
// it: calls on the five host channels with the host codec, and the event
// channel with the event codec, answered [null] as a Pigeon handler does.
// With tracing on, every message in both directions is written as one line of
// tagged JSON.
// Thread affinity: the UI thread; callbacks run there too.
class ConsoleChannels {
 public:
  using CallDone = std::function<void(HostCallResult result)>;
  // The event lives in the decoded message: valid only during the call.
  using EventHandler = std::function<void(const NativeAudioEvent& event)>;

  // `ui` and `output` must outlive this object and every call in flight.
  // `trace` writes the message trace to `output`. UI thread.
  ConsoleChannels(FlutterUiSide& ui, ConsoleOutput& output, bool trace);

  ConsoleChannels(const ConsoleChannels&) = delete;
  ConsoleChannels& operator=(const ConsoleChannels&) = delete;

  // Calls `operation` ("getDevices", "listen", ...) with `message` (the list
  // of arguments, or null); `done` runs once, on the UI thread. UI thread.
  void call(std::string_view operation, CodecValue message, CallDone done);

  // Installs the handler of the event channel; well-formed events reach it in
  // the order the host sent them. UI thread.
  void setEventHandler(EventHandler handler);

 private:
  void trace(std::string_view direction, std::string_view channel, std::string_view text);
  void traceBytes(std::string_view direction, std::string_view channel,
                  const std::optional<std::vector<std::uint8_t>>& bytes, bool eventCodec);

  FlutterUiSide& ui_;
  ConsoleOutput& output_;
  const bool trace_;
  // The same bytes answer every event that was read, a few hundred a second:
  // encoded once.
  const std::vector<std::uint8_t> handledReply_;
};

}  // namespace harkwell
