#include "bench/e2e/HostUnderTest.h"

#include <cstdint>
#include <mutex>

#include "audio/service/BridgeApi.h"
#include "backends/pulse/PulseCaptureBackend.h"
#include "bridge/BridgeHostApiCodec.h"
#include "bridge/BridgeHostApiSetup.h"
#include "platform/dispatch/BackgroundTasks.h"
#include "platform/dispatch/MainRunLoop.h"

namespace harkwell::e2e {

namespace {

constexpr std::chrono::milliseconds replyDeadline{5000};

// A reply that arrives on the UI thread and is read on the main thread.
struct PendingReply {
  std::mutex mutex;
  bool arrived = false;                            // guarded by mutex
  std::optional<std::vector<std::uint8_t>> bytes;  // guarded by mutex
};

// The single value of a [value] success reply, or nullopt.
std::optional<CodecValue> successValue(const std::optional<std::vector<std::uint8_t>>& bytes) {
  if (!bytes) return std::nullopt;
  CodecDecodeResult decoded = BridgeHostApiCodec::shared().decode(*bytes);
  if (!decoded.ok()) return std::nullopt;
  const auto* list = decoded.value->getIf<CodecList>();
  if (list == nullptr || list->size() != 1) return std::nullopt;
  return (*list)[0];
}

}  // namespace

std::unique_ptr<HostUnderTest> HostUnderTest::create(std::string& whyNot) {
  std::shared_ptr<PulseCaptureBackend> backend = PulseCaptureBackend::create(&whyNot);
  if (!backend) return nullptr;
  return std::unique_ptr<HostUnderTest>(new HostUnderTest(std::move(backend)));
}

HostUnderTest::HostUnderTest(std::shared_ptr<CaptureBackend> backend)
    : backend_(std::move(backend)), engine_(std::make_unique<FlutterEngine>()) {
  MainRunLoop::shared().adoptCurrentThread();
  CaptureBackend::setCurrent(backend_);
  flutterApi_ = std::make_shared<BridgeFlutterApi>(engine_->binaryMessenger());
  BridgeHostApiSetup::setUp(engine_->binaryMessenger(), BridgeApi::create(flutterApi_));
}

HostUnderTest::~HostUnderTest() {
  // The handlers hold the BridgeApi and so its captures: removing them stops
  // whatever still runs. Tasks in flight finish before the engine goes.
  BridgeHostApiSetup::setUp(engine_->binaryMessenger(), nullptr);
  BackgroundTasks::waitIdle();
  MainRunLoop::shared().drain();
  flutterApi_.reset();
  engine_.reset();
  MainRunLoop::shared().drain();
  CaptureBackend::setCurrent(nullptr);
}

bool HostUnderTest::pumpUntil(const std::function<bool()>& done,
                              std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return done();
    MainRunLoop::shared().drainFor(std::chrono::milliseconds(1));
  }
  return true;
}

void HostUnderTest::pumpFor(std::chrono::milliseconds duration) {
  pumpUntil([] { return false; }, duration);
}

std::optional<std::vector<std::uint8_t>> HostUnderTest::call(std::string_view operation,
                                                             const CodecValue& message) {
  auto pending = std::make_shared<PendingReply>();
  // The reply callback runs on the UI thread; the main thread polls for it.
  ui().sendToHost(BridgeHostApiSetup::channelName(operation),
                  BridgeHostApiCodec::shared().encode(message),
                  [pending](std::optional<std::vector<std::uint8_t>> bytes) {
                    std::lock_guard lock(pending->mutex);
                    pending->bytes = std::move(bytes);
                    pending->arrived = true;
                  });
  const bool arrived = pumpUntil(
      [&] {
        std::lock_guard lock(pending->mutex);
        return pending->arrived;
      },
      replyDeadline);
  std::lock_guard lock(pending->mutex);
  if (!arrived) return std::nullopt;
  return pending->bytes;
}

std::optional<std::vector<AudioDevice>> HostUnderTest::displays() {
  // The Dart side writes a small enum index as int32.
  const auto value = successValue(call(
      "getDevices", CodecList{CodecValue(static_cast<std::int32_t>(AudioDeviceType::output))}));
  const auto* list = value ? value->getIf<CodecList>() : nullptr;
  if (list == nullptr) return std::nullopt;
  std::vector<AudioDevice> devices;
  for (const CodecValue& element : *list) {
    if (const auto* device = element.custom<AudioDevice>()) devices.push_back(*device);
  }
  return devices;
}

bool HostUnderTest::listen(const AudioDevice& device) {
  const auto value = successValue(call("listen", CodecList{CodecCustomValue::make(device)}));
  return value && value->isNull();
}

bool HostUnderTest::unlisten(const AudioDevice& device) {
  const auto value = successValue(call("unlisten", CodecList{CodecCustomValue::make(device)}));
  return value && value->isNull();
}

}  // namespace harkwell::e2e
