#include "backends/pulse/PulseConnection.h"

#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/proplist.h>

#include <cassert>
#include <stdexcept>

namespace harkwell {

namespace {

bool terminal(pa_context_state_t state) {
  return state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED;
}

// Shared by the three introspection callbacks of inventory(): they fill it on
// the mainloop thread, under the mainloop lock, until their end-of-list call.
struct InventoryRequest {
  PulseConnection* connection = nullptr;
  PulseInventory inventory;
  bool failed = false;
};

void onServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
  auto* request = static_cast<InventoryRequest*>(userdata);
  try {
    if (info) {
      if (info->default_source_name)
        request->inventory.defaultSourceName = info->default_source_name;
      if (info->default_sink_name) request->inventory.defaultSinkName = info->default_sink_name;
    } else {
      request->failed = true;
    }
  } catch (...) {
    request->failed = true;
  }
  request->connection->notify();
}

void onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* userdata) {
  auto* request = static_cast<InventoryRequest*>(userdata);
  if (eol != 0) {
    if (eol < 0) request->failed = true;
    request->connection->notify();
    return;
  }
  try {
    if (info) request->inventory.sources.push_back(copySourceInfo(*info));
  } catch (...) {
    request->failed = true;
  }
}

void onSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
  auto* request = static_cast<InventoryRequest*>(userdata);
  if (eol != 0) {
    if (eol < 0) request->failed = true;
    request->connection->notify();
    return;
  }
  try {
    if (info) request->inventory.sinks.push_back(copySinkInfo(*info));
  } catch (...) {
    request->failed = true;
  }
}

}  // namespace

PulseConnection::Lock::Lock(PulseConnection& connection) : mainloop_(connection.mainloop_) {
  // Taking the lock on the mainloop thread would deadlock the first wait.
  assert(!pa_threaded_mainloop_in_thread(mainloop_));
  lock();
}

PulseConnection::Lock::~Lock() {
  if (locked_) unlock();
}

void PulseConnection::Lock::unlock() {
  pa_threaded_mainloop_unlock(mainloop_);
  locked_ = false;
}

void PulseConnection::Lock::lock() {
  pa_threaded_mainloop_lock(mainloop_);
  locked_ = true;
}

PulseConnection::PulseConnection(Options options) : options_(std::move(options)) {
  mainloop_ = pa_threaded_mainloop_new();
  if (!mainloop_) throw std::runtime_error("pulse: cannot create the mainloop");
  pa_threaded_mainloop_set_name(mainloop_, "pulse-mainloop");
  if (pa_threaded_mainloop_start(mainloop_) < 0) {
    pa_threaded_mainloop_free(mainloop_);
    throw std::runtime_error("pulse: cannot start the mainloop thread");
  }
}

PulseConnection::~PulseConnection() {
  {
    Lock lock(*this);
    dropContext();
  }
  // Stopping joins the mainloop thread; no callback of ours runs after this.
  pa_threaded_mainloop_stop(mainloop_);
  pa_threaded_mainloop_free(mainloop_);
}

bool PulseConnection::ready() const {
  return context_ && pa_context_get_state(context_) == PA_CONTEXT_READY;
}

void PulseConnection::notify() {
  {
    MutexLock guard(waitMutex_);
    ++wakeups_;
  }
  wakeup_.notify_all();
}

void PulseConnection::onContextState(pa_context*, void* self) {
  static_cast<PulseConnection*>(self)->notify();
}

void PulseConnection::dropContext() {
  if (!context_) return;
  // Callbacks first, so nothing refers to us once the context is gone.
  pa_context_set_state_callback(context_, nullptr, nullptr);
  pa_context_disconnect(context_);
  pa_context_unref(context_);
  context_ = nullptr;
}

PulseReachability PulseConnection::connect(Lock& lock, Deadline deadline) {
  if (ready()) return PulseReachability::reachable;

  // Another caller may be connecting right now (waits let go of the lock): join
  // its attempt rather than tearing it down. A failed context is replaced.
  if (!context_ || terminal(pa_context_get_state(context_))) {
    dropContext();
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, options_.applicationName.c_str());
    pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, options_.mediaRole.c_str());
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(mainloop_),
                                            options_.applicationName.c_str(), properties);
    pa_proplist_free(properties);
    if (!context_) return PulseReachability::unreachable;
    // The state callback goes in before connecting, so no transition is missed.
    pa_context_set_state_callback(context_, &PulseConnection::onContextState, this);
    const char* server = options_.server.empty() ? nullptr : options_.server.c_str();
    if (pa_context_connect(context_, server, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
      const int error = pa_context_errno(context_);
      dropContext();
      return error == PA_ERR_ACCESS || error == PA_ERR_AUTHKEY ? PulseReachability::denied
                                                               : PulseReachability::unreachable;
    }
  }

  pa_context* attempt = context_;
  waitUntil(
      lock,
      [&] {
        return context_ != attempt || pa_context_get_state(attempt) == PA_CONTEXT_READY ||
               terminal(pa_context_get_state(attempt));
      },
      deadline);
  if (context_ != attempt)
    return ready() ? PulseReachability::reachable : PulseReachability::unreachable;

  const pa_context_state_t state = pa_context_get_state(context_);
  if (state == PA_CONTEXT_READY) return PulseReachability::reachable;
  const int error = pa_context_errno(context_);
  // A context that is neither ready nor failed by now talks to a server that
  // does not answer (a stopped daemon); the next call starts afresh.
  dropContext();
  if (terminal(state) && (error == PA_ERR_ACCESS || error == PA_ERR_AUTHKEY)) {
    return PulseReachability::denied;
  }
  return PulseReachability::unreachable;
}

PulseReachability PulseConnection::reachability(Deadline deadline) {
  Lock lock(*this);
  return connect(lock, deadline);
}

bool PulseConnection::await(Lock& lock, pa_operation* operation, Deadline deadline) {
  if (!operation) return false;
  pa_context* context = context_;
  waitUntil(
      lock,
      [&] {
        return pa_operation_get_state(operation) != PA_OPERATION_RUNNING || context_ != context ||
               !ready();
      },
      deadline);
  const bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
  // Cancelled under the lock: its callback cannot run afterwards, so callers may
  // hand it data that lives on their stack.
  if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) pa_operation_cancel(operation);
  pa_operation_unref(operation);
  return done;
}

std::optional<PulseInventory> PulseConnection::inventory(Deadline deadline) {
  Lock lock(*this);
  if (connect(lock, deadline) != PulseReachability::reachable) return std::nullopt;

  InventoryRequest request;
  request.connection = this;
  // All three go out at once: one round trip to the server.
  pa_operation* server = pa_context_get_server_info(context_, &onServerInfo, &request);
  pa_operation* sources = pa_context_get_source_info_list(context_, &onSourceInfo, &request);
  pa_operation* sinks = pa_context_get_sink_info_list(context_, &onSinkInfo, &request);
  const bool serverDone = await(lock, server, deadline);
  const bool sourcesDone = await(lock, sources, deadline);
  const bool sinksDone = await(lock, sinks, deadline);
  if (!serverDone || !sourcesDone || !sinksDone || request.failed) return std::nullopt;
  return std::move(request.inventory);
}

}  // namespace harkwell
