#include "platform/appkit/NSClassRegistry.h"

#include <map>
#include <utility>

#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadSafety.h"

namespace {

struct Registry {
  Mutex mutex;
  std::map<std::string, NSClassRegistry::Factory> factories GUARDED_BY(mutex);
};

Registry& registry() {
  static Registry* instance = new Registry;
  return *instance;
}

}  // namespace

void NSClassRegistry::registerFactory(std::string name, Factory factory) {
  Registry& shared = registry();
  MutexLock lock(shared.mutex);
  if (factory) {
    shared.factories[std::move(name)] = std::move(factory);
  } else {
    shared.factories.erase(name);
  }
}

void NSClassRegistry::unregisterClass(const std::string& name) {
  Registry& shared = registry();
  MutexLock lock(shared.mutex);
  shared.factories.erase(name);
}

bool NSClassRegistry::isRegistered(const std::string& name) {
  Registry& shared = registry();
  MutexLock lock(shared.mutex);
  return shared.factories.count(name) != 0;
}

std::shared_ptr<NSObject> NSClassRegistry::instantiate(const std::string& name,
                                                       const NSWindowParameters& parameters) {
  Factory factory;
  {
    Registry& shared = registry();
    MutexLock lock(shared.mutex);
    auto found = shared.factories.find(name);
    if (found == shared.factories.end()) return nullptr;
    factory = found->second;
  }
  // A constructor may itself look up classes.
  return factory(parameters);
}
