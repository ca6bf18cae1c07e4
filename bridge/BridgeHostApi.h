#pragma once

#include <functional>
#include <vector>

#include "bridge/AudioDevice.h"
#include "bridge/AudioDeviceType.h"
#include "bridge/AudioPermission.h"
#include "bridge/Result.h"

namespace harkwell {

// Completion of getDevices: the devices of the kind asked for, or an error.
using GetDevicesCompletion = std::function<void(Result<std::vector<AudioDevice>> result)>;
// Completion of checkPermission: the state of both permissions, or an error.
using CheckPermissionCompletion = std::function<void(Result<AudioPermission> result)>;

// The five operations that the UI calls over the host channels. Synchronous
// operations report failure by throwing (any exception; a PigeonError reaches
// the UI as it is). Asynchronous ones return at once and call their completion
// exactly once, possibly later and from any thread.
// Thread affinity: every operation is called on the main thread; completions
// may run on any thread.
class BridgeHostApi {
 public:
  virtual ~BridgeHostApi() = default;

  // Lists the sources of `type`. Main thread.
  virtual void getDevices(AudioDeviceType type, GetDevicesCompletion completion) = 0;
  // Starts capturing `device`. Throws on failure. Main thread.
  virtual void listen(const AudioDevice& device) = 0;
  // Stops capturing `device`. Throws on failure. Main thread.
  virtual void unlisten(const AudioDevice& device) = 0;
  // Reports both capture permissions. Main thread.
  virtual void checkPermission(CheckPermissionCompletion completion) = 0;
  // Sends the user to where the permission for `type` is granted. Throws on
  // failure. Main thread.
  virtual void requestPermission(AudioDeviceType type) = 0;
};

}  // namespace harkwell
