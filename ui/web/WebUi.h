#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/flutter/FlutterUiSide.h"
#include "ui/web/WebRecorder.h"
#include "ui/web/WebServer.h"

namespace harkwell {

// The web UI, run by the engine on its UI thread in place of the console UI:
// serves the page, carries each of its calls to the engine's UI side as the
// encoded bytes it sent, and hands every event message to the page. The page
// itself decodes and answers nothing on the event channel: this side answers
// [null] for an event handed to a page, and no reply at all when no page is
// there (as a UI with no listener).
// Thread affinity: run() on the UI thread; interrupt() from any thread; the
// WebBridgeTarget operations on the server's thread. Must outlive the engine.
class WebUi final : public WebBridgeTarget {
 public:
  using Terminate = std::function<void(int status)>;

  struct Settings {
    std::uint16_t port = 0;  // 0: any free port
    bool open = true;        // open the page with xdg-open
    std::FILE* output = stderr;
    std::optional<std::string> wavPath;  // also record each capture to a file (WebRecorder)
  };

  WebUi(Settings settings, Terminate terminate);
  ~WebUi() override;

  // Starts the server, prints the page's address and opens it. UI thread.
  void run(FlutterUiSide& ui);
  // Ctrl-C: closes the page and ends the application with status 0. Any thread.
  void interrupt();

  void call(const std::string& channel, std::vector<std::uint8_t> message, Reply reply) override;
  void quit() override;

 private:
  void say(const std::string& text);
  void finish(int status);  // UI thread
  void openPage(const std::string& url);

  const Settings settings_;
  const Terminate terminate_;
  std::atomic<FlutterUiSide*> ui_{nullptr};
  std::unique_ptr<WebServer> server_;      // set before the server starts, on the UI thread
  std::unique_ptr<WebRecorder> recorder_;  // UI thread only
  std::atomic<bool> finished_{false};
  pid_t opener_ = -1;
};

}  // namespace harkwell
