#include "platform/flutter/FlutterViewController.h"

#include <algorithm>

#include "platform/flutter/FlutterDiagnostics.h"

// Thread affinity: main thread.
class FlutterViewController::Registrar final : public FlutterPluginRegistrar {
 public:
  explicit Registrar(FlutterBinaryMessenger& messenger) : messenger_(messenger) {}
  FlutterBinaryMessenger& messenger() override { return messenger_; }

 private:
  FlutterBinaryMessenger& messenger_;
};

FlutterViewController::FlutterViewController()
    : engine_(std::make_unique<FlutterEngine>(FlutterEngine::defaultUiProgram())) {}

FlutterViewController::~FlutterViewController() = default;

FlutterPluginRegistrar& FlutterViewController::registrarForPlugin(const std::string& pluginKey) {
  requestedKeys_.push_back(pluginKey);
  auto it = std::find_if(registrars_.begin(), registrars_.end(),
                         [&](const auto& entry) { return entry.first == pluginKey; });
  if (it != registrars_.end()) {
    logFlutterDiagnostic("plug-in " + pluginKey + " registered twice");
    return *it->second;
  }
  registrars_.emplace_back(pluginKey, std::make_unique<Registrar>(engine_->binaryMessenger()));
  return *registrars_.back().second;
}
