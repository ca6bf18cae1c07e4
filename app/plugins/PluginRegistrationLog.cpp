#include "app/plugins/PluginRegistrationLog.h"

#include <utility>

PluginRegistrationLog& PluginRegistrationLog::shared() {
  // Leaked on purpose: registrations may be looked at while the process exits.
  static PluginRegistrationLog* log = new PluginRegistrationLog;
  return *log;
}

void PluginRegistrationLog::record(std::string pluginClass,
                                   const FlutterPluginRegistrar& registrar) {
  MutexLock lock(mutex_);
  entries_.push_back(Entry{std::move(pluginClass), &registrar});
}

std::vector<PluginRegistrationLog::Entry> PluginRegistrationLog::entries() const {
  MutexLock lock(mutex_);
  return entries_;
}

void PluginRegistrationLog::clear() {
  MutexLock lock(mutex_);
  entries_.clear();
}
