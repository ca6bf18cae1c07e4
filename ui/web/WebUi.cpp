#include "ui/web/WebUi.h"

#include <spawn.h>
#include <sys/wait.h>

#include <exception>

#include "bridge/BridgeFlutterApi.h"
#include "bridge/BridgeFlutterApiCodec.h"
#include "ui/web/WebGuard.h"

extern char** environ;

namespace harkwell {

WebUi::WebUi(Settings settings, Terminate terminate)
    : settings_(settings), terminate_(std::move(terminate)) {}

WebUi::~WebUi() {
  if (server_) server_->stop();
}

void WebUi::say(const std::string& text) {
  const std::string line = "harkwell: " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), settings_.output);
  std::fflush(settings_.output);
}

void WebUi::run(FlutterUiSide& ui) {
  try {
    server_ = std::make_unique<WebServer>(*this, makeWebToken());
    // Installed before the server starts: no event can reach a page before it.
    const std::string channel(BridgeFlutterApi::channelPrefix);
    const std::vector<std::uint8_t> handled =
        BridgeFlutterApiCodec::shared().encode(CodecList{CodecNull{}});
    if (settings_.wavPath) {
      recorder_ = std::make_unique<WebRecorder>(*settings_.wavPath,
                                                [this](const std::string& text) { say(text); });
    }
    ui.setHandler(channel, [this, channel, handled](std::vector<std::uint8_t> message,
                                                    FlutterBinaryReply reply) {
      if (recorder_) recorder_->onEventMessage(message);
      if (server_->sendEvent(channel, std::move(message))) {
        reply(handled);
      } else {
        reply(std::nullopt);
      }
    });
    server_->start(settings_.port);
  } catch (const std::exception& error) {
    say(std::string("cannot serve the page: ") + error.what());
    terminate_(1);
    return;
  }
  ui_ = &ui;
  const std::string url = server_->url();
  say("the page is at " + url);
  say("keep that address to yourself: it lets the page use your microphone");
  if (settings_.open) openPage(url);
}

void WebUi::openPage(const std::string& url) {
  // No shell: the address is one argument of xdg-open.
  const char* argv[] = {"xdg-open", url.c_str(), nullptr};
  if (::posix_spawnp(&opener_, "xdg-open", nullptr, nullptr, const_cast<char* const*>(argv),
                     environ) != 0) {
    opener_ = -1;
    say("cannot run xdg-open; open the address above in a browser");
  }
}

void WebUi::call(const std::string& channel, std::vector<std::uint8_t> message, Reply reply) {
  FlutterUiSide* ui = ui_.load();
  if (ui == nullptr) return reply(std::nullopt);
  ui->sendToHost(channel, std::move(message), std::move(reply));
}

void WebUi::quit() {
  say("the page asked to quit");
  // The server cannot stop itself from its own thread: the UI thread does it.
  if (FlutterUiSide* ui = ui_.load()) ui->post([this] { finish(0); });
}

void WebUi::interrupt() {
  if (FlutterUiSide* ui = ui_.load()) {
    ui->post([this] { finish(0); });
  } else {
    terminate_(0);
  }
}

void WebUi::finish(int status) {
  if (finished_.exchange(true)) return;
  if (server_) server_->stop();
  if (opener_ > 0) ::waitpid(opener_, nullptr, WNOHANG);
  terminate_(status);
}

}  // namespace harkwell
