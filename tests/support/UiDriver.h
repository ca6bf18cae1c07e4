#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <stdexcept>
#include <thread>

#include "bridge/BridgeFlutterApi.h"
#include "bridge/BridgeFlutterApiCodec.h"
#include "bridge/BridgeHostApiCodec.h"
#include "bridge/BridgeHostApiSetup.h"
#include "platform/dispatch/BackgroundTasks.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/dispatch/Mutex.h"
#include "platform/flutter/FlutterUiSide.h"
#include "tests/support/MessagingTestSupport.h"

// A recording UI side for end-to-end tests: it speaks only encoded bytes, as
// the Dart UI does. Calls go out on the host channels and come back as UiCalls;
// every event on the event channel is decoded, recorded and answered with [].
// Every wait is bounded and polls in short steps.
namespace harkwell::testing {

// Who runs the main loop while a test waits: the waiting thread (which is then
// the main thread), or another thread, so that waits only wait.
enum class MainLoopMode { pumpWhileWaiting, runsElsewhere };

inline bool waitUntil(MainLoopMode mode, std::chrono::milliseconds timeout,
                      const std::function<bool()>& done) {
  const bool pumps = mode == MainLoopMode::pumpWhileWaiting;
  return test::pollUntil(done, timeout, pumps ? test::pumpMainBriefly : test::sleepBriefly);
}

// One host reply as the UI decoded it: [result], [code, message, details],
// no reply at all, or bytes that are none of these.
struct UiReply {
  enum class Kind { success, error, noReply, undecodable };
  Kind kind = Kind::noReply;
  CodecValue result;
  std::string code;

  bool isSuccess() const { return kind == Kind::success; }

  // The payload of a success; throws (so the test fails with the reason) otherwise.
  std::vector<AudioDevice> devices() const {
    std::vector<AudioDevice> devices;
    for (const CodecValue& element : expect(result.getIf<CodecList>())) {
      devices.push_back(expect(element.custom<AudioDevice>()));
    }
    return devices;
  }
  AudioPermission permission() const { return expect(result.custom<AudioPermission>()); }

  std::string describe() const {
    static constexpr const char* names[] = {"success", "error ", "no reply", "undecodable reply"};
    return names[static_cast<int>(kind)] + code;
  }

  static UiReply fromBytes(const std::optional<std::vector<std::uint8_t>>& bytes) {
    if (!bytes) return {};
    CodecDecodeResult decoded = BridgeHostApiCodec::shared().decode(*bytes);
    const auto* list = decoded.ok() ? decoded.value->getIf<CodecList>() : nullptr;
    if (list && list->size() == 1) return {Kind::success, (*list)[0], ""};
    const auto* code = list && list->size() == 3 ? (*list)[0].getIf<std::string>() : nullptr;
    return code ? UiReply{Kind::error, {}, *code} : UiReply{Kind::undecodable, {}, ""};
  }

 private:
  template <class T>
  const T& expect(const T* value) const {
    if (!isSuccess() || !value) throw std::runtime_error("unexpected reply: " + describe());
    return *value;
  }
};

// One call sent by the UI; copies share the replies. Any thread.
class UiCall {
 public:
  bool answered() const { return replyCount() > 0; }
  // More than one is a fault of the host.
  std::size_t replyCount() const { return replies_->size(); }
  std::optional<UiReply> wait(
      std::chrono::milliseconds timeout = test::messagingTestDeadline) const {
    if (!waitUntil(mode_, timeout, [this] { return answered(); })) return std::nullopt;
    return replies_->values().front();
  }
  // Throws when no reply comes within the deadline.
  UiReply reply() const {
    if (std::optional<UiReply> reply = wait()) return *reply;
    throw std::runtime_error("no reply from the host within the deadline");
  }

 private:
  friend class UiDriver;
  explicit UiCall(MainLoopMode mode) : mode_(mode) {}

  MainLoopMode mode_;
  std::shared_ptr<test::TestRecorder<UiReply>> replies_ =
      std::make_shared<test::TestRecorder<UiReply>>();
};

// Deliveries of deviceAudioData for one id.
struct AudioTally {
  std::size_t events = 0, samples = 0;
};

// See the top of this file. `ui` must outlive every call made through the driver.
class UiDriver {
  struct Record {
    std::vector<NativeAudioEvent> events;
    std::map<std::string, AudioTally> tallies;
    std::size_t count = 0, undecodable = 0;
    bool keepsAudio = true;
  };
  using State = test::Guarded<Record>;

 public:
  explicit UiDriver(FlutterUiSide& ui, MainLoopMode mode = MainLoopMode::pumpWhileWaiting)
      : ui_(ui), mode_(mode) {
    ui_.setHandler(std::string(BridgeFlutterApi::channelPrefix),
                   [state = state_](std::vector<std::uint8_t> message, FlutterBinaryReply reply) {
                     record(*state, message);
                     reply(BridgeFlutterApiCodec::shared().encode(CodecList{}));
                   });
  }
  UiDriver(const UiDriver&) = delete;
  UiDriver& operator=(const UiDriver&) = delete;

  // The Dart side writes the device type as an int32 enum index.
  UiCall getDevices(AudioDeviceType type) { return call("getDevices", argument(type)); }
  UiCall listen(const AudioDevice& device) { return call("listen", argument(device)); }
  UiCall unlisten(const AudioDevice& device) { return call("unlisten", argument(device)); }
  UiCall checkPermission() { return call("checkPermission", CodecNull{}); }
  UiCall requestPermission(AudioDeviceType type) {
    return call("requestPermission", argument(type));
  }

  // The events kept so far in arrival order; audio data only while kept.
  std::vector<NativeAudioEvent> events() const { return read(&Record::events); }
  std::vector<NativeAudioEvent> deviceEvents() const {
    auto events = this->events();
    std::erase_if(events,
                  [](auto& e) { return e.eventType == NativeAudioEventType::deviceAudioData; });
    return events;
  }
  // "deviceStart input mic-1", for readable asserts.
  std::vector<std::string> deviceEventTexts() const {
    static constexpr const char* names[] = {"serviceStart", "serviceStop", "serviceError",
                                            "deviceStart",  "deviceStop",  "deviceAudioData"};
    std::vector<std::string> texts;
    for (const NativeAudioEvent& event : deviceEvents()) {
      const auto index = static_cast<std::size_t>(event.eventType);
      texts.push_back((index < std::size(names) ? names[index] : "?") +
                      std::string(event.type == AudioDeviceType::output ? " output " : " input ") +
                      event.id + (event.error ? " error=" + *event.error : ""));
    }
    return texts;
  }
  // Every event that arrived, kept or not.
  AudioTally audioTally(const std::string& id) const {
    return state_->with([&](Record& r) { return r.tallies[id]; });
  }
  // Messages on the event channel that are not [NativeAudioEvent].
  std::size_t undecodableEventCount() const { return read(&Record::undecodable); }
  void clearEvents() {
    state_->with([](Record& r) { r = Record{{}, {}, 0, 0, r.keepsAudio}; });
  }
  // Long runs only tally audio data instead of keeping it.
  void setKeepsAudioData(bool keeps) {
    state_->with([&](Record& r) { r.keepsAudio = keeps; });
  }

  bool waitUntil(const std::function<bool()>& done) {
    return testing::waitUntil(mode_, test::messagingTestDeadline, done);
  }
  bool waitForDeviceEvents(std::size_t count) {
    return waitUntil([&] { return deviceEvents().size() >= count; });
  }

  // Waits, round after round, until background tasks are idle and the main and
  // UI queues hold nothing: then "nothing arrived" means nothing will. False at
  // the deadline (as when a background task waits on a held platform answer).
  bool settle() {
    const auto deadline = std::chrono::steady_clock::now() + test::messagingTestDeadline;
    // waitIdle has no timeout: on a hung task its thread is left behind.
    auto background = [](auto done) {
      std::thread([=] { BackgroundTasks::waitIdle(), done(); }).detach();
    };
    for (int round = 0; round < 100; ++round) {
      if (!passed(background, deadline)) return false;
      const std::size_t ran = passMain(deadline);
      if (!passed([this](auto done) { ui_.post(done); }, deadline)) return false;
      if (ran + passMain(deadline) == 0) return true;
    }
    return false;
  }

 private:
  UiCall call(std::string_view operation, const CodecValue& message) {
    UiCall call(mode_);
    ui_.sendToHost(BridgeHostApiSetup::channelName(operation),
                   BridgeHostApiCodec::shared().encode(message),
                   [replies = call.replies_](std::optional<std::vector<std::uint8_t>> bytes) {
                     replies->add(UiReply::fromBytes(bytes));
                   });
    return call;
  }
  template <class T>
  T read(T Record::*field) const {
    return state_->with([&](Record& r) { return r.*field; });
  }
  static CodecValue argument(AudioDeviceType type) {
    return CodecList{CodecValue(static_cast<std::int32_t>(type))};
  }
  static CodecValue argument(const AudioDevice& device) {
    return CodecList{CodecCustomValue::make(device)};
  }

  static void record(State& state, const std::vector<std::uint8_t>& message) {
    CodecDecodeResult decoded = BridgeFlutterApiCodec::shared().decode(message);
    const auto* list = decoded.ok() ? decoded.value->getIf<CodecList>() : nullptr;
    const auto* event = list && list->size() == 1 ? (*list)[0].custom<NativeAudioEvent>() : nullptr;
    state.with([&](Record& r) {
      ++r.count;
      if (!event) return void(++r.undecodable);
      if (event->eventType == NativeAudioEventType::deviceAudioData) {
        AudioTally& tally = r.tallies[event->id];
        ++tally.events;
        tally.samples += event->audioData ? event->audioData->size() : 0;
        if (!r.keepsAudio) return;
      }
      r.events.push_back(*event);
    });
  }

  // Runs what the main queue holds (or waits out a pass of the thread that
  // runs it); returns how many items this thread ran.
  std::size_t passMain(std::chrono::steady_clock::time_point deadline) {
    if (mode_ == MainLoopMode::runsElsewhere) {
      return passed([](auto done) { DispatchQueue::main().async(done); }, deadline), 0;
    }
    return test::pumpMainIdle();
  }

  // Hands `start` a callback that marks the pass done, and waits for it.
  template <class Start>
  bool passed(Start start, std::chrono::steady_clock::time_point deadline) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    start([done] { *done = true; });
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return testing::waitUntil(mode_, left, [&] { return done->load(); });
  }

  FlutterUiSide& ui_;
  const MainLoopMode mode_;
  const std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace harkwell::testing
