#pragma once

#include <string>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadSafety.h"
#include "platform/flutter/FlutterPluginRegistrar.h"

// What the plug-in stand-ins were handed: one entry per registration, in call
// order. The plug-in frameworks are process-wide, and so is their log.
// Thread affinity: any thread.
class PluginRegistrationLog {
 public:
  struct Entry {
    std::string pluginClass;
    // The registrar as handed over; compared by identity only, never called.
    const FlutterPluginRegistrar* registrar = nullptr;
  };

  // Never destroyed. Any thread.
  static PluginRegistrationLog& shared();

  PluginRegistrationLog(const PluginRegistrationLog&) = delete;
  PluginRegistrationLog& operator=(const PluginRegistrationLog&) = delete;

  // Any thread.
  void record(std::string pluginClass, const FlutterPluginRegistrar& registrar) EXCLUDES(mutex_);
  std::vector<Entry> entries() const EXCLUDES(mutex_);
  // Forgets every entry, so that a test starts from none. Any thread.
  void clear() EXCLUDES(mutex_);

 private:
  PluginRegistrationLog() = default;

  mutable Mutex mutex_;
  std::vector<Entry> entries_ GUARDED_BY(mutex_);
};
