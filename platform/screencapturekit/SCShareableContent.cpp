#include "platform/screencapturekit/SCShareableContent.h"

#include <utility>

#include "platform/capture/CaptureBackend.h"

SCDisplay::SCDisplay(std::uint32_t displayID)
    : SCDisplay(displayID, harkwell::CaptureBackend::current()) {}

SCDisplay::SCDisplay(std::uint32_t displayID, std::shared_ptr<harkwell::CaptureBackend> backend)
    : displayID_(displayID),
      backend_(backend ? std::move(backend) : harkwell::CaptureBackend::current()) {}

bool SCDisplay::isEqual(const SCDisplay& other) const {
  return displayID_ == other.displayID_ && backend_ == other.backend_;
}

void SCShareableContent::getShareableContentExcludingDesktopWindows(
    bool /*excludeDesktopWindows*/, bool /*onScreenWindowsOnly*/,
    CompletionHandler completionHandler) {
  // Windows are never listed, so both window flags leave the answer unchanged.
  auto backend = harkwell::CaptureBackend::current();
  // Weak: a backend holding an unanswered query must not keep itself alive.
  std::weak_ptr<harkwell::CaptureBackend> weakBackend = backend;
  backend->getShareableContent([weakBackend, completion = std::move(completionHandler)](
                                   harkwell::ShareableContentAnswer answer) {
    if (!completion) return;
    auto backend = weakBackend.lock();
    // The answer may arrive on a backend thread: nothing may escape into it.
    try {
      if (answer.error) {
        completion(std::nullopt, std::move(answer.error));
        return;
      }
      std::vector<SCDisplay> displays;
      displays.reserve(answer.displays.size());
      for (const auto& info : answer.displays) displays.emplace_back(info.displayID, backend);
      completion(SCShareableContent(std::move(displays)), std::nullopt);
    } catch (...) {
    }
  });
}
