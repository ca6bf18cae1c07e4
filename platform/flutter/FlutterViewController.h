#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/appkit/NSViewController.h"
#include "platform/flutter/FlutterEngine.h"
#include "platform/flutter/FlutterPluginRegistry.h"

// The view controller that shows the UI: it owns an engine running the default
// UI program (FlutterEngine::setDefaultUiProgram), and is the registry that
// plug-ins register with. It remembers the plug-in keys in the order asked.
// Thread affinity: main thread.
class FlutterViewController final : public NSViewController, public FlutterPluginRegistry {
 public:
  // Creates and starts the engine; its messenger is usable at once. Main thread.
  FlutterViewController();
  ~FlutterViewController() override;

  FlutterViewController(const FlutterViewController&) = delete;
  FlutterViewController& operator=(const FlutterViewController&) = delete;

  FlutterEngine& engine() { return *engine_; }

  // Main thread.
  FlutterPluginRegistrar& registrarForPlugin(const std::string& pluginKey) override;

  // Every key passed to registrarForPlugin, in call order, repeats included.
  // Main thread.
  const std::vector<std::string>& requestedPluginKeys() const { return requestedKeys_; }

 private:
  class Registrar;

  std::unique_ptr<FlutterEngine> engine_;
  std::vector<std::string> requestedKeys_;
  // Declared after the engine: registrars refer to its messenger.
  std::vector<std::pair<std::string, std::unique_ptr<Registrar>>> registrars_;
};
