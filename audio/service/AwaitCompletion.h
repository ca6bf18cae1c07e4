#pragma once

#include <future>
#include <memory>
#include <utility>

namespace harkwell {

// Runs `operation`, which reports through a completion taking a T, and blocks
// the calling thread until that completion has run; returns the value it got.
// `operation` receives the completion as its one argument. When the operation
// throws, or drops every copy of the completion without calling it, the result
// is `fallback`: a misbehaving platform never leaves the caller waiting for an
// answer that cannot come. A second call of the completion is ignored. Waiting
// for a user who has yet to answer a prompt is not bounded.
// Never call it on the thread that would have to deliver the completion.
// Background task thread.
template <class T, class Operation>
T awaitCompletion(Operation&& operation, T fallback) {
  auto promise = std::make_shared<std::promise<T>>();
  std::future<T> answer = promise->get_future();
  auto completion = [promise](T value) {
    // Runs on the platform's thread, where nothing may escape.
    try {
      promise->set_value(std::move(value));
    } catch (const std::future_error&) {
    }
  };
  try {
    std::forward<Operation>(operation)(std::move(completion));
  } catch (...) {
    return fallback;
  }
  // From here only the operation's copies of the completion keep the promise:
  // once the last of them goes uncalled, the future reports a broken promise.
  promise.reset();
  try {
    return answer.get();
  } catch (const std::future_error&) {
    return fallback;
  }
}

}  // namespace harkwell
