#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace harkwell {

// What the page's messages reach (the engine's UI side, in the app).
// Thread affinity: called on the server's thread; `reply` may run on any thread.
class WebBridgeTarget {
 public:
  using Reply = std::function<void(std::optional<std::vector<std::uint8_t>> reply)>;
  virtual ~WebBridgeTarget() = default;
  // A call from the page on host channel `channel`; `reply` runs once.
  virtual void call(const std::string& channel, std::vector<std::uint8_t> message, Reply reply) = 0;
  // The page's Quit button.
  virtual void quit() = 0;
};

// Limits of the page server; the defaults suit one page on one desktop.
struct WebServerLimits {
  std::size_t maxFrameBytes = 64 * 1024;  // a frame from the page
  double messagesPerSecond = 200;         // from the page, on average
  std::size_t maxCallsInFlight = 64;
  std::size_t maxConnections = 16;               // TCP connections at once, of any kind
  std::size_t maxUnauthenticated = 4;            // sockets that have not said hello yet
  int helloSeconds = 5;                          // a socket must say hello within this
  int httpSeconds = 10;                          // to send a whole HTTP request
  int idleSeconds = 60;                          // a socket whose pings go unanswered this long
  std::size_t maxQueuedBytes = 8 * 1024 * 1024;  // frames waiting for a slow page
};

// The page's HTTP + WebSocket server on 127.0.0.1 (Boost.Beast over
// Boost.Asio). It serves only the embedded files, checks Host on every
// request and Origin on the upgrade, and lets a socket reach `target` only
// after it has presented the run's token. One page is active at a time: a
// second page that presents the token takes over and the first is closed.
// Thread affinity: start/stop/url from one owning thread; sendEvent from any
// thread. Everything else runs on the server's own thread, which owns every
// connection; work from other threads reaches it through asio::post.
class WebServer {
 public:
  // `target` must outlive this object.
  WebServer(WebBridgeTarget& target, std::string token, WebServerLimits limits = {});
  ~WebServer();

  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Listens on 127.0.0.1:`port` (0: any free port) and starts the server's
  // thread. Throws std::system_error when the port cannot be had.
  void start(std::uint16_t port);
  std::uint16_t port() const;
  // The page's address with the token in its fragment.
  std::string url() const;

  // Hands `message` on `channel` to the active page; false when there is none
  // (or it is being closed for not keeping up). Any thread.
  bool sendEvent(const std::string& channel, std::vector<std::uint8_t> message);

  // Closes every connection and joins the server's thread. Idempotent.
  void stop();

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
  std::thread thread_;
};

}  // namespace harkwell
