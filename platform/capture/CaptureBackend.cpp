#include "platform/capture/CaptureBackend.h"

#include <utility>

#include "platform/dispatch/Mutex.h"

namespace harkwell {
namespace {

NSError noBackendError() {
  return makeCaptureError(CaptureErrorCode::noBackend, "No capture backend is available");
}

class NullDisplayStream final : public DisplayStream {
 public:
  void addOutput(DisplayOutputKind, std::shared_ptr<DispatchQueue>, SampleBufferHandler) override {}
  void startCapture(CaptureCompletion completion) override {
    if (completion) completion(noBackendError());
  }
  void stopCapture(CaptureCompletion completion) override {
    if (completion) completion(std::nullopt);
  }
};

// Stands in until a real backend is chosen, so that the stand-ins never meet a
// null backend: nothing to list, nothing permitted, everything fails cleanly.
class NullCaptureBackend final : public CaptureBackend {
 public:
  OperatingSystemVersion operatingSystemVersion() override { return {14, 0, 0}; }
  std::vector<MicrophoneInfo> microphones(const std::string&) override { return {}; }
  CaptureAuthorizationStatus microphoneAuthorizationStatus() override {
    return CaptureAuthorizationStatus::restricted;
  }
  void requestMicrophoneAccess(std::function<void(bool)> completion) override {
    if (completion) completion(false);
  }
  std::unique_ptr<MicrophoneCapture> openMicrophone(const std::string&) override {
    throw noBackendError();
  }
  void getShareableContent(std::function<void(ShareableContentAnswer)> completion) override {
    if (completion) completion({{}, noBackendError()});
  }
  std::unique_ptr<DisplayStream> openDisplayStream(std::uint32_t, DisplayStreamSettings,
                                                   StreamStoppedHandler) override {
    return std::make_unique<NullDisplayStream>();
  }
};

struct CurrentBackend {
  Mutex mutex;
  std::shared_ptr<CaptureBackend> backend GUARDED_BY(mutex);
};

CurrentBackend& currentBackend() {
  // Never destroyed: threads that outlive main() may still ask for the
  // backend while the process exits.
  static auto* const instance = new CurrentBackend;
  return *instance;
}

}  // namespace

void CaptureBackend::setCurrent(std::shared_ptr<CaptureBackend> backend) {
  auto& current = currentBackend();
  std::shared_ptr<CaptureBackend> previous;
  {
    MutexLock lock(current.mutex);
    previous = std::exchange(current.backend, std::move(backend));
  }
  // `previous` may be the last owner; its destructor may join threads, so it
  // runs outside the lock.
}

std::shared_ptr<CaptureBackend> CaptureBackend::current() {
  auto& current = currentBackend();
  MutexLock lock(current.mutex);
  if (!current.backend) current.backend = std::make_shared<NullCaptureBackend>();
  return current.backend;
}

}  // namespace harkwell
