#pragma once

#include <functional>
#include <memory>
#include <string>
#include <type_traits>

#include "platform/appkit/NSGeometry.h"
#include "platform/appkit/NSObject.h"

// What the main interface passes when it creates a window.
struct NSWindowParameters {
  NSRect contentRect = NSMakeRect(0, 0, 800, 600);
  NSWindowStyleMask styleMask = NSWindowStyleMask::titled;
  NSBackingStoreType backing = NSBackingStoreType::buffered;
  bool defer = false;
};

// Classes by name, so that the main interface can name the classes it creates
// (NSClassFromString). A class constructible from a window's four parameters
// is built with them; any other class is default-constructed.
// Register explicitly (for instance from main) rather than from a static
// initialiser: the linker drops unreferenced objects of a static library.
// Thread affinity: any thread.
class NSClassRegistry {
 public:
  using Factory = std::function<std::shared_ptr<NSObject>(const NSWindowParameters&)>;

  // Registers `T` under `name`, replacing any earlier registration. Any thread.
  template <class T>
  static void registerClass(std::string name) {
    static_assert(std::is_base_of_v<NSObject, T>, "registered classes derive from NSObject");
    registerFactory(std::move(name),
                    [](const NSWindowParameters& parameters) -> std::shared_ptr<NSObject> {
                      if constexpr (std::is_constructible_v<T, NSRect, NSWindowStyleMask,
                                                            NSBackingStoreType, bool>) {
                        return std::make_shared<T>(parameters.contentRect, parameters.styleMask,
                                                   parameters.backing, parameters.defer);
                      } else {
                        return std::make_shared<T>();
                      }
                    });
  }

  // Any thread.
  static void registerFactory(std::string name, Factory factory);
  static void unregisterClass(const std::string& name);
  static bool isRegistered(const std::string& name);

  // A new object of the class registered as `name`, or null when no class has
  // that name. The factory runs outside the registry's lock. Any thread.
  static std::shared_ptr<NSObject> instantiate(const std::string& name,
                                               const NSWindowParameters& parameters = {});
};
