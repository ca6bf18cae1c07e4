#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/capture/CaptureBackend.h"

namespace harkwell::contract {

// What a backend that cannot capture (none chosen yet, or no sound server)
// owes the stand-ins: every operation answers, once, with nothing or an error;
// no caller waits for a completion that never comes.
inline void expectRefusesEverything(CaptureBackend& backend) {
  EXPECT_TRUE(backend.microphones("AVCaptureDeviceTypeMicrophone").empty());
  EXPECT_EQ(backend.microphoneAuthorizationStatus(), CaptureAuthorizationStatus::restricted);
  std::vector<bool> granted;
  backend.requestMicrophoneAccess([&](bool g) { granted.push_back(g); });
  EXPECT_EQ(granted, std::vector<bool>{false});
  EXPECT_THROW(backend.openMicrophone("test_mic"), NSError);
  std::vector<ShareableContentAnswer> answers;
  backend.getShareableContent([&](ShareableContentAnswer a) { answers.push_back(a); });
  EXPECT_TRUE(answers.size() == 1 && answers[0].error);

  // Two starts fail, the second stream destroyed before its start ran.
  auto calls = std::make_shared<std::atomic<int>>(0);
  const auto completion = [calls](std::optional<NSError> error) {
    EXPECT_TRUE(error);
    ++*calls;
  };
  auto kept = backend.openDisplayStream(1, DisplayStreamSettings{true, 0}, [](NSError) {});
  kept->startCapture(completion);
  backend.openDisplayStream(1, DisplayStreamSettings{true, 0}, [](NSError) {})
      ->startCapture(completion);
  for (int i = 0; i < 100 && *calls < 2; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::this_thread::sleep_for(
      std::chrono::milliseconds(100));  // room for a second answer, which must not come
  EXPECT_EQ(calls->load(), 2);
}

}  // namespace harkwell::contract
