#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadSafety.h"

// The workspace service: hands links to the desktop's opener ("xdg-open" on
// the PATH) without waiting for it, and keeps a record of every link it was
// asked to open. Opening can be switched off (setOpensLinks(false), or the
// environment variable HARKWELL_NO_XDG_OPEN=1 at start), so that tests only
// record.
// Thread affinity: any thread.
class NSWorkspace {
 public:
  // The shared workspace; never destroyed. Any thread.
  static NSWorkspace& sharedWorkspace();

  NSWorkspace(const NSWorkspace&) = delete;
  NSWorkspace& operator=(const NSWorkspace&) = delete;

  // Hands `url` to the opener and returns at once; the opener's outcome is not
  // looked at. Returns whether the hand-off started: false for a link that is
  // not a well-formed absolute link (such links are neither recorded nor
  // opened), when no opener exists or when it cannot be started; true when
  // opening is switched off. Any thread.
  bool openURL(std::string_view url);

  // The accepted links, in the order asked. Any thread.
  std::vector<std::string> openedURLs() const;
  void clearOpenedURLs();

  // Any thread.
  void setOpensLinks(bool opensLinks);
  // The program that receives the link as its one argument; empty means
  // "xdg-open" looked up on the PATH. For tests. Any thread.
  void setOpenerPath(std::string path);

 private:
  NSWorkspace();

  mutable Mutex mutex_;
  std::vector<std::string> opened_ GUARDED_BY(mutex_);
  bool opensLinks_ GUARDED_BY(mutex_) = true;
  std::string openerPath_ GUARDED_BY(mutex_);
};
