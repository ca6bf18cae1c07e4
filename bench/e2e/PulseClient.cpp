#include "bench/e2e/PulseClient.h"

namespace harkwell::e2e {

std::unique_ptr<PulseClient> PulseClient::connect(const std::string& name,
                                                  std::chrono::milliseconds deadline,
                                                  std::string& whyNot) {
  std::unique_ptr<PulseClient> client(new PulseClient());
  client->mainloop_ = pa_threaded_mainloop_new();
  if (client->mainloop_ == nullptr || pa_threaded_mainloop_start(client->mainloop_) < 0) {
    whyNot = "cannot start a libpulse mainloop";
    return nullptr;
  }
  Lock lock(*client);
  client->context_ = pa_context_new(pa_threaded_mainloop_get_api(client->mainloop_), name.c_str());
  if (client->context_ == nullptr ||
      pa_context_connect(client->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    whyNot = "cannot connect to the sound server";
    return nullptr;
  }
  pa_context* context = client->context_;
  if (!client->waitLocked([&] { return pa_context_get_state(context) == PA_CONTEXT_READY; },
                          [&] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(context)); },
                          deadline)) {
    whyNot = "the sound server did not answer: " + client->lastError();
    return nullptr;
  }
  return client;
}

PulseClient::~PulseClient() {
  if (mainloop_ == nullptr) return;
  if (context_ != nullptr) {
    Lock lock(*this);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
  }
  pa_threaded_mainloop_stop(mainloop_);
  pa_threaded_mainloop_free(mainloop_);
}

}  // namespace harkwell::e2e
