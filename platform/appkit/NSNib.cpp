#include "platform/appkit/NSNib.h"

#include <memory>
#include <stdexcept>

#include "platform/appkit/NSApplication.h"

namespace {

template <class T>
std::shared_ptr<T> create(const std::string& className, const NSWindowParameters& parameters,
                          const char* kind) {
  std::shared_ptr<NSObject> object = NSClassRegistry::instantiate(className, parameters);
  if (!object) throw std::runtime_error("the interface names the unknown class " + className);
  auto typed = std::dynamic_pointer_cast<T>(object);
  if (!typed) throw std::runtime_error("class " + className + " is not " + kind);
  return typed;
}

}  // namespace

const NSNib& NSNib::mainInterface() {
  static const NSNib mainNib{
      .delegateClassName = "AppDelegate",
      .windows = {NSNibWindow{
          .className = "MainFlutterWindow",
          .parameters = NSWindowParameters{.contentRect = NSMakeRect(0, 0, 800, 600),
                                           .styleMask = NSWindowStyleMask::titled |
                                                        NSWindowStyleMask::closable |
                                                        NSWindowStyleMask::miniaturizable |
                                                        NSWindowStyleMask::resizable,
                                           .backing = NSBackingStoreType::buffered,
                                           .defer = true},
          .title = "Harkwell",
          .visibleAtLaunch = true}},
  };
  return mainNib;
}

void NSNib::instantiate(NSApplication& application) const {
  // Every object exists before any is connected or woken, as in a nib load.
  std::shared_ptr<NSApplicationDelegate> delegate;
  if (!delegateClassName.empty()) {
    delegate = create<NSApplicationDelegate>(delegateClassName, NSWindowParameters{},
                                             "an application delegate");
  }
  std::vector<std::shared_ptr<NSWindow>> created;
  for (const NSNibWindow& description : windows) {
    auto window = create<NSWindow>(description.className, description.parameters, "a window");
    window->setTitle(description.title);
    created.push_back(std::move(window));
  }
  if (delegate) application.setDelegate(std::move(delegate));
  for (const auto& window : created) application.addWindow(window);
  for (const auto& window : created) window->awakeFromNib();
  for (std::size_t i = 0; i < created.size(); ++i) {
    if (windows[i].visibleAtLaunch) created[i]->makeKeyAndOrderFront(nullptr);
  }
}
