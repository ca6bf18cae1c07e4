#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "bridge/AudioDevice.h"
#include "bridge/AudioDeviceType.h"
#include "bridge/AudioPermission.h"
#include "bridge/BridgeFlutterApi.h"
#include "bridge/BridgeFlutterApiCodec.h"
#include "bridge/BridgeHostApiCodec.h"
#include "bridge/BridgeHostApiSetup.h"
#include "bridge/NativeAudioEvent.h"
#include "platform/dispatch/BackgroundTasks.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadSafety.h"
#include "platform/flutter/FlutterUiSide.h"

// A recording UI side for end-to-end tests: it speaks only encoded bytes on the
// host channels and the event channel, as the Dart UI does. Calls go out on the
// five host channels; each comes back as a UiCall whose decoded reply can be
// awaited. Every event arriving on "…BridgeFlutterApi.onEvent" is decoded with
// the event codec, recorded and answered with [].
// Every wait is bounded (uiDriverDeadline by default) and never sleeps for
// longer than a short poll.
namespace harkwell::testing {

// Generous: only a broken host ever makes a test wait this long.
inline constexpr std::chrono::milliseconds uiDriverDeadline{10000};

// Who runs the main loop while a test waits.
enum class MainLoopMode {
  // The waiting thread pumps it (and so is the main thread): plain unit tests.
  pumpWhileWaiting,
  // Another thread runs it (an application under test); waits only wait.
  runsElsewhere,
};

// One host reply as the UI decoded it.
struct UiReply {
  enum class Kind {
    success,      // [result] or [null]
    error,        // [code, message, details]
    noReply,      // nobody handled the channel (null reply)
    undecodable,  // bytes that do not decode, or not a 1- or 3-element list
  };

  Kind kind = Kind::noReply;
  CodecValue result;    // success: element 0 (null for operations without a result)
  std::string code;     // error: element 0
  std::string problem;  // undecodable: why

  bool isSuccess() const { return kind == Kind::success; }

  // The device list of a getDevices success; throws std::runtime_error for
  // anything else, so a test that expects one fails with the reason.
  std::vector<AudioDevice> devices() const {
    const auto* list = successResult().getIf<CodecList>();
    if (list == nullptr) throw std::runtime_error("reply holds no list: " + describe());
    std::vector<AudioDevice> devices;
    for (const CodecValue& element : *list) {
      const auto* device = element.custom<AudioDevice>();
      if (device == nullptr) throw std::runtime_error("list holds a non-device: " + describe());
      devices.push_back(*device);
    }
    return devices;
  }

  // The record of a checkPermission success; throws like devices().
  AudioPermission permission() const {
    const auto* permission = successResult().custom<AudioPermission>();
    if (permission == nullptr) throw std::runtime_error("reply holds no permission: " + describe());
    return *permission;
  }

  // Short text for test failures: "success", "error <code>", "no reply", ...
  std::string describe() const {
    switch (kind) {
      case Kind::success:
        return std::string("success holding ") + codecValueKindName(result);
      case Kind::error:
        return "error " + code;
      case Kind::noReply:
        return "no reply";
      case Kind::undecodable:
        return "undecodable reply: " + problem;
    }
    return "?";
  }

  // Decodes `bytes` as a host-channel reply. Any thread.
  static UiReply fromBytes(const std::optional<std::vector<std::uint8_t>>& bytes) {
    UiReply reply;
    if (!bytes) return reply;
    CodecDecodeResult decoded = BridgeHostApiCodec::shared().decode(*bytes);
    if (!decoded.ok()) {
      reply.kind = Kind::undecodable;
      reply.problem = decoded.error;
      return reply;
    }
    const auto* list = decoded.value->getIf<CodecList>();
    if (list != nullptr && list->size() == 1) {
      reply.kind = Kind::success;
      reply.result = (*list)[0];
    } else if (list != nullptr && list->size() == 3 && (*list)[0].is<std::string>()) {
      reply.kind = Kind::error;
      reply.code = *(*list)[0].getIf<std::string>();
    } else {
      reply.kind = Kind::undecodable;
      reply.problem = std::string("reply is a ") + codecValueKindName(*decoded.value) +
                      (list ? " of " + std::to_string(list->size()) + " elements" : "");
    }
    return reply;
  }

 private:
  const CodecValue& successResult() const {
    if (kind != Kind::success) throw std::runtime_error("not a success: " + describe());
    return result;
  }
};

// Deliveries of deviceAudioData for one id: how many events, how many samples.
struct AudioTally {
  std::size_t events = 0;
  std::size_t samples = 0;
};

namespace uidriver_detail {

// What the driver, its calls and its channel handler share; outlives each of
// them as long as any holds it.
// Thread affinity: any thread.
struct SharedState {
  explicit SharedState(MainLoopMode mode) : mode(mode) {}

  // Waits until `done` holds or `timeout` passes, pumping the main loop in the
  // meantime when this driver pumps it. `done` must not hold `mutex`.
  bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (done()) return true;
      if (std::chrono::steady_clock::now() >= deadline) return done();
      if (mode == MainLoopMode::pumpWhileWaiting) {
        MainRunLoop::shared().drainFor(std::chrono::milliseconds(2));
      } else {
        MutexLock lock(mutex);
        changed.wait_for(lock, std::chrono::milliseconds(2));
      }
    }
  }

  void notifyChanged() { changed.notify_all(); }

  const MainLoopMode mode;
  Mutex mutex;
  std::condition_variable_any changed;
};

// The replies that reached one call.
struct CallState {
  Mutex mutex;
  std::vector<UiReply> replies GUARDED_BY(mutex);
};

}  // namespace uidriver_detail

// One call sent by the UI; cheap to copy (copies share the reply).
// Thread affinity: any thread.
class UiCall {
 public:
  UiCall(std::shared_ptr<uidriver_detail::SharedState> shared,
         std::shared_ptr<uidriver_detail::CallState> call)
      : shared_(std::move(shared)), call_(std::move(call)) {}

  // Whether a reply has arrived. Any thread.
  bool answered() const { return replyCount() > 0; }

  // How many replies arrived: more than one is a fault of the host. Any thread.
  std::size_t replyCount() const {
    MutexLock lock(call_->mutex);
    return call_->replies.size();
  }

  // Waits up to `timeout` for the reply. With pumpWhileWaiting, call it on the
  // thread that acts as the main thread; otherwise any thread.
  std::optional<UiReply> wait(std::chrono::milliseconds timeout = uiDriverDeadline) const {
    if (!shared_->waitUntil([this] { return answered(); }, timeout)) return std::nullopt;
    MutexLock lock(call_->mutex);
    return call_->replies.front();
  }

  // The reply; throws std::runtime_error when none comes within the deadline.
  UiReply reply() const {
    std::optional<UiReply> reply = wait();
    if (!reply) throw std::runtime_error("no reply from the host within the deadline");
    return *reply;
  }

 private:
  std::shared_ptr<uidriver_detail::SharedState> shared_;
  std::shared_ptr<uidriver_detail::CallState> call_;
};

// See the top of this file.
// Thread affinity: any thread; the event handler runs on the UI thread. With
// pumpWhileWaiting, the thread that waits becomes the main thread.
class UiDriver {
 public:
  // Takes over the UI's event channel on `ui`.
  // `ui` must outlive every call made through the driver; the driver may go
  // first. Any thread.
  explicit UiDriver(FlutterUiSide& ui, MainLoopMode mode = MainLoopMode::pumpWhileWaiting)
      : ui_(ui),
        shared_(std::make_shared<uidriver_detail::SharedState>(mode)),
        events_(std::make_shared<Events>()) {
    ui_.setHandler(std::string(BridgeFlutterApi::channelPrefix),
                   [shared = shared_, events = events_](std::vector<std::uint8_t> message,
                                                        FlutterBinaryReply reply) {
                     events->record(message);
                     shared->notifyChanged();
                     reply(BridgeFlutterApiCodec::shared().encode(CodecList{}));
                   });
  }

  UiDriver(const UiDriver&) = delete;
  UiDriver& operator=(const UiDriver&) = delete;

  // --- Calls ------------------------------------------------------------------
  UiCall getDevices(AudioDeviceType type) {
    // The Dart side writes a small enum index as int32.
    return call("getDevices", CodecList{CodecValue(static_cast<std::int32_t>(type))});
  }
  UiCall listen(const AudioDevice& device) {
    return call("listen", CodecList{CodecCustomValue::make(device)});
  }
  UiCall unlisten(const AudioDevice& device) {
    return call("unlisten", CodecList{CodecCustomValue::make(device)});
  }
  UiCall checkPermission() { return call("checkPermission", CodecNull{}); }
  UiCall requestPermission(AudioDeviceType type) {
    return call("requestPermission", CodecList{CodecValue(static_cast<std::int32_t>(type))});
  }

  // Sends `message`, encoded with the host codec, on the channel of `operation`.
  UiCall call(std::string_view operation, const CodecValue& message) {
    auto callState = std::make_shared<uidriver_detail::CallState>();
    ui_.sendToHost(BridgeHostApiSetup::channelName(operation),
                   BridgeHostApiCodec::shared().encode(message),
                   [shared = shared_, callState](std::optional<std::vector<std::uint8_t>> reply) {
                     UiReply decoded = UiReply::fromBytes(reply);
                     {
                       MutexLock lock(callState->mutex);
                       callState->replies.push_back(std::move(decoded));
                     }
                     shared->notifyChanged();
                   });
    return UiCall(shared_, std::move(callState));
  }

  // --- Events -----------------------------------------------------------------
  // The events kept so far, in arrival order (audio data only while kept).
  std::vector<NativeAudioEvent> events() const { return events_->all(false); }
  // The deviceStart / deviceStop (and service) events, in arrival order.
  std::vector<NativeAudioEvent> deviceEvents() const { return events_->all(true); }
  // The device events as text, "deviceStart input mic-1", for readable asserts.
  std::vector<std::string> deviceEventTexts() const {
    std::vector<std::string> texts;
    for (const NativeAudioEvent& event : deviceEvents()) texts.push_back(describe(event));
    return texts;
  }
  // Every event that arrived, audio data included, kept or not.
  std::size_t eventCount() const { return events_->count(); }
  AudioTally audioTally(const std::string& id) const { return events_->tally(id); }
  // Messages on the event channel that are not [NativeAudioEvent].
  std::size_t undecodableEventCount() const { return events_->undecodable(); }
  void clearEvents() { events_->clear(); }

  // Whether deviceAudioData events are kept whole (default) or only tallied, as
  // long runs need.
  void setKeepsAudioData(bool keeps) { events_->setKeepsAudio(keeps); }

  // --- Waiting ----------------------------------------------------------------
  bool waitUntil(const std::function<bool()>& done,
                 std::chrono::milliseconds timeout = uiDriverDeadline) {
    return shared_->waitUntil(done, timeout);
  }
  bool waitForDeviceEvents(std::size_t count,
                           std::chrono::milliseconds timeout = uiDriverDeadline) {
    return waitUntil([&] { return deviceEvents().size() >= count; }, timeout);
  }
  bool waitForAudio(const std::string& id, std::size_t events,
                    std::chrono::milliseconds timeout = uiDriverDeadline) {
    return waitUntil([&] { return audioTally(id).events >= events; }, timeout);
  }

  // Waits until nothing is in flight any more: background tasks idle, the main
  // queue drained, and everything queued for the UI thread delivered, round
  // after round until a round finds no main-queue work. Then "nothing arrived"
  // means nothing will. A background task blocked on the test (a held platform
  // answer) makes this return false at the deadline instead of hanging.
  bool settle(std::chrono::milliseconds timeout = uiDriverDeadline) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    auto left = [&] {
      return std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
    };
    for (int round = 0; round < 100; ++round) {
      if (!backgroundIdle(left())) return false;
      std::size_t ran = passMainQueue(left());
      if (!passUiQueue(left())) return false;
      ran += passMainQueue(left());
      if (ran == 0) return true;
    }
    return false;
  }

  // "deviceStart input mic-1". Any thread.
  static std::string describe(const NativeAudioEvent& event) {
    static constexpr const char* eventNames[] = {"serviceStart", "serviceStop", "serviceError",
                                                 "deviceStart",  "deviceStop",  "deviceAudioData"};
    const auto index = static_cast<std::size_t>(event.eventType);
    std::string text = index < std::size(eventNames) ? eventNames[index] : "?";
    text += event.type == AudioDeviceType::output ? " output " : " input ";
    text += event.id;
    if (event.error) text += " error=" + *event.error;
    return text;
  }

 private:
  // Events as recorded by the UI thread. Thread affinity: any thread.
  class Events {
   public:
    void record(const std::vector<std::uint8_t>& message) {
      CodecDecodeResult decoded = BridgeFlutterApiCodec::shared().decode(message);
      const NativeAudioEvent* event = nullptr;
      if (decoded.ok()) {
        const auto* list = decoded.value->getIf<CodecList>();
        if (list != nullptr && list->size() == 1) event = (*list)[0].custom<NativeAudioEvent>();
      }
      MutexLock lock(mutex_);
      ++count_;
      if (event == nullptr) {
        ++undecodable_;
        return;
      }
      if (event->eventType == NativeAudioEventType::deviceAudioData) {
        AudioTally& tally = tallies_[event->id];
        ++tally.events;
        tally.samples += event->audioData ? event->audioData->size() : 0;
        if (!keepsAudio_) return;
      }
      events_.push_back(*event);
    }

    std::vector<NativeAudioEvent> all(bool deviceOnly) const {
      MutexLock lock(mutex_);
      if (!deviceOnly) return events_;
      std::vector<NativeAudioEvent> selected;
      for (const NativeAudioEvent& event : events_) {
        if (event.eventType != NativeAudioEventType::deviceAudioData) selected.push_back(event);
      }
      return selected;
    }

    std::size_t count() const {
      MutexLock lock(mutex_);
      return count_;
    }
    AudioTally tally(const std::string& id) const {
      MutexLock lock(mutex_);
      auto found = tallies_.find(id);
      return found == tallies_.end() ? AudioTally{} : found->second;
    }
    std::size_t undecodable() const {
      MutexLock lock(mutex_);
      return undecodable_;
    }
    void clear() {
      MutexLock lock(mutex_);
      events_.clear();
      tallies_.clear();
      count_ = 0;
      undecodable_ = 0;
    }
    void setKeepsAudio(bool keeps) {
      MutexLock lock(mutex_);
      keepsAudio_ = keeps;
    }

   private:
    mutable Mutex mutex_;
    std::vector<NativeAudioEvent> events_ GUARDED_BY(mutex_);
    std::map<std::string, AudioTally> tallies_ GUARDED_BY(mutex_);
    std::size_t count_ GUARDED_BY(mutex_) = 0;
    std::size_t undecodable_ GUARDED_BY(mutex_) = 0;
    bool keepsAudio_ GUARDED_BY(mutex_) = true;
  };

  // BackgroundTasks::waitIdle has no timeout, so it runs on a thread of its
  // own that may be left behind if a task never ends.
  bool backgroundIdle(std::chrono::milliseconds timeout) {
    auto idle = std::make_shared<std::atomic<bool>>(false);
    auto shared = shared_;
    std::thread([idle, shared] {
      BackgroundTasks::waitIdle();
      *idle = true;
      shared->notifyChanged();
    }).detach();
    return waitUntil([&] { return idle->load(); }, timeout);
  }

  // Runs (or, when another thread runs the main loop, waits out) what the main
  // queue holds now; returns how many items ran (1 for a waited-out pass).
  std::size_t passMainQueue(std::chrono::milliseconds timeout) {
    if (shared_->mode == MainLoopMode::pumpWhileWaiting) {
      std::size_t ran = 0;
      for (std::size_t n; (n = MainRunLoop::shared().drain()) > 0;) ran += n;
      return ran;
    }
    auto passed = std::make_shared<std::atomic<bool>>(false);
    DispatchQueue::main().async([passed, shared = shared_] {
      *passed = true;
      shared->notifyChanged();
    });
    waitUntil([&] { return passed->load(); }, timeout);
    return 0;
  }

  // Waits until the UI thread has handled everything queued for it so far.
  bool passUiQueue(std::chrono::milliseconds timeout) {
    auto passed = std::make_shared<std::atomic<bool>>(false);
    ui_.post([passed, shared = shared_] {
      *passed = true;
      shared->notifyChanged();
    });
    return waitUntil([&] { return passed->load(); }, timeout);
  }

  FlutterUiSide& ui_;
  const std::shared_ptr<uidriver_detail::SharedState> shared_;
  const std::shared_ptr<Events> events_;
};

}  // namespace harkwell::testing
