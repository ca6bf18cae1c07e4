#include "app/GeneratedPluginRegistrant.h"

#include "app/plugins/AppkitUiElementColorsPlugin.h"
#include "app/plugins/ClipboardWatcherPlugin.h"
#include "app/plugins/DeviceInfoPlusMacosPlugin.h"
#include "app/plugins/FPPPackageInfoPlusPlugin.h"
#include "app/plugins/FlutterScreenCapturePlugin.h"
#include "app/plugins/FlutterWindowClosePlugin.h"
#include "app/plugins/HotkeyManagerMacosPlugin.h"
#include "app/plugins/LocalNotifierPlugin.h"
#include "app/plugins/MacOSUiPlugin.h"
#include "app/plugins/MacOSWindowUtilsPlugin.h"
#include "app/plugins/NetworkInfoPlusPlugin.h"
#include "app/plugins/PathProviderPlugin.h"
#include "app/plugins/ScreenRetrieverPlugin.h"
#include "app/plugins/TrayManagerPlugin.h"
#include "app/plugins/UrlLauncherPlugin.h"
#include "app/plugins/WindowManagerPlugin.h"

namespace harkwell {

void RegisterGeneratedPlugins(FlutterPluginRegistry& registry) {
  // The registry keeps each registrar; we hold none past its line.
  AppkitUiElementColorsPlugin::registerWith(
      registry.registrarForPlugin("AppkitUiElementColorsPlugin"));
  ClipboardWatcherPlugin::registerWith(registry.registrarForPlugin("ClipboardWatcherPlugin"));
  DeviceInfoPlusMacosPlugin::registerWith(registry.registrarForPlugin("DeviceInfoPlusMacosPlugin"));
  FlutterScreenCapturePlugin::registerWith(
      registry.registrarForPlugin("FlutterScreenCapturePlugin"));
  FlutterWindowClosePlugin::registerWith(registry.registrarForPlugin("FlutterWindowClosePlugin"));
  HotkeyManagerMacosPlugin::registerWith(registry.registrarForPlugin("HotkeyManagerMacosPlugin"));
  LocalNotifierPlugin::registerWith(registry.registrarForPlugin("LocalNotifierPlugin"));
  MacOSUiPlugin::registerWith(registry.registrarForPlugin("MacOSUiPlugin"));
  MacOSWindowUtilsPlugin::registerWith(registry.registrarForPlugin("MacOSWindowUtilsPlugin"));
  NetworkInfoPlusPlugin::registerWith(registry.registrarForPlugin("NetworkInfoPlusPlugin"));
  FPPPackageInfoPlusPlugin::registerWithRegistrar(
      registry.registrarForPlugin("FPPPackageInfoPlusPlugin"));
  PathProviderPlugin::registerWith(registry.registrarForPlugin("PathProviderPlugin"));
  ScreenRetrieverPlugin::registerWith(registry.registrarForPlugin("ScreenRetrieverPlugin"));
  TrayManagerPlugin::registerWith(registry.registrarForPlugin("TrayManagerPlugin"));
  UrlLauncherPlugin::registerWith(registry.registrarForPlugin("UrlLauncherPlugin"));
  WindowManagerPlugin::registerWith(registry.registrarForPlugin("WindowManagerPlugin"));
}

}  // namespace harkwell
