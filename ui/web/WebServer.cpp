#include "ui/web/WebServer.h"

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <deque>
#include <string_view>

#include "ui/web/WebAssets.h"
#include "ui/web/WebEnvelope.h"
#include "ui/web/WebGuard.h"

namespace harkwell {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using Bytes = std::vector<std::uint8_t>;

class WebSocketSession;

// Server state. Everything but the atomics lives on the server's thread.
// Handlers queued on `io` hold a plain pointer to it (the io_context lives
// inside it, so no handler can outlive it); callbacks from other threads hold
// a weak one, and find it gone when the server has been destroyed.
struct WebServer::Impl : std::enable_shared_from_this<WebServer::Impl> {
  Impl(WebBridgeTarget& t, std::string k, WebServerLimits l)
      : target(t), token(std::move(k)), limits(l), acceptor(io) {}

  void accept();
  void activate(const std::shared_ptr<WebSocketSession>& session);

  WebBridgeTarget& target;
  const std::string token;
  const WebServerLimits limits;
  std::uint16_t port = 0;
  std::size_t connections = 0;
  std::size_t unauthenticated = 0;
  std::weak_ptr<WebSocketSession> active;
  std::vector<std::weak_ptr<WebSocketSession>> sockets;
  std::atomic<bool> hasPage{false};
  std::atomic<bool> stopped{false};
  // Last, so destroyed first: the sessions in handlers still queued go while
  // the counters they update are there.
  asio::io_context io;
  tcp::acceptor acceptor;
};

namespace {

// Counts one TCP connection for as long as something holds it.
struct ConnectionSlot {
  explicit ConnectionSlot(WebServer::Impl& s) : server(s) { ++server.connections; }
  ~ConnectionSlot() { --server.connections; }
  ConnectionSlot(const ConnectionSlot&) = delete;
  ConnectionSlot& operator=(const ConnectionSlot&) = delete;
  WebServer::Impl& server;
};

std::string contentSecurityPolicy(std::string_view host) {
  std::string policy =
      "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src ws://";
  policy += host;
  policy += "; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
  return policy;
}

template <class Body>
void harden(http::response<Body>& response, std::string_view host) {
  response.set("Content-Security-Policy", contentSecurityPolicy(host));
  response.set("X-Content-Type-Options", "nosniff");
  response.set("X-Frame-Options", "DENY");
  response.set("Referrer-Policy", "no-referrer");
  response.set("Cross-Origin-Resource-Policy", "same-origin");
  response.set(http::field::cache_control, "no-store");
  response.keep_alive(false);
}

}  // namespace

// One page socket: first a hello with the token, then calls and quit from the
// page, replies and events to it. Server thread only.
class WebSocketSession : public std::enable_shared_from_this<WebSocketSession> {
 public:
  WebSocketSession(WebServer::Impl& server, beast::tcp_stream stream,
                   std::shared_ptr<ConnectionSlot> slot)
      : server_(server),
        ws_(std::move(stream)),
        slot_(std::move(slot)),
        helloTimer_(ws_.get_executor()),
        rate_(server.limits.messagesPerSecond) {
    ++server_.unauthenticated;
  }
  ~WebSocketSession() {
    if (!authenticated_) --server_.unauthenticated;
  }

  void accept(http::request<http::empty_body> request) {
    beast::get_lowest_layer(ws_).expires_never();
    websocket::stream_base::timeout timeouts =
        websocket::stream_base::timeout::suggested(beast::role_type::server);
    timeouts.idle_timeout = std::chrono::seconds(server_.limits.idleSeconds);
    ws_.set_option(timeouts);
    ws_.read_message_max(server_.limits.maxFrameBytes);
    ws_.binary(true);
    const std::string host(request[http::field::host]);
    ws_.set_option(websocket::stream_base::decorator([host](websocket::response_type& response) {
      response.set("Content-Security-Policy", contentSecurityPolicy(host));
      response.set("X-Content-Type-Options", "nosniff");
    }));
    helloTimer_.expires_after(std::chrono::seconds(server_.limits.helloSeconds));
    helloTimer_.async_wait([weak = weak_from_this()](beast::error_code error) {
      auto self = weak.lock();
      if (!error && self && !self->authenticated_) self->close("no hello in time");
    });
    ws_.async_accept(request, [self = shared_from_this()](beast::error_code error) {
      if (!error) self->read();
    });
  }

  // Queues one frame for the page; closes a page that lets too much pile up.
  void send(Bytes frame) {
    if (closing_) return;
    queuedBytes_ += frame.size();
    if (queuedBytes_ > server_.limits.maxQueuedBytes) {
      close("the page does not keep up");
      return;
    }
    queue_.push_back(std::move(frame));
    if (queue_.size() == 1) write();
  }

  void close(const std::string& reason) {
    if (closing_) return;
    closing_ = true;
    if (server_.active.lock().get() == this) server_.hasPage = false;
    helloTimer_.cancel();
    // A reason longer than 123 bytes does not fit a close frame.
    websocket::close_reason why(websocket::close_code::policy_error, reason.substr(0, 120));
    ws_.async_close(why, [self = shared_from_this()](beast::error_code) {});
  }

  bool authenticated() const { return authenticated_; }

 private:
  void read() {
    ws_.async_read(buffer_, [self = shared_from_this()](beast::error_code error, std::size_t) {
      if (error) {
        // An oversized frame ends here too: Beast has already closed this
        // socket with code 1009, and only this socket.
        self->closing_ = true;
        if (self->server_.active.lock() == self) self->server_.hasPage = false;
        return;
      }
      self->onFrame();
      if (!self->closing_) self->read();
    });
  }

  void onFrame() {
    const auto data = buffer_.cdata();
    const Bytes frame(static_cast<const std::uint8_t*>(data.data()),
                      static_cast<const std::uint8_t*>(data.data()) + data.size());
    buffer_.consume(buffer_.size());
    if (!ws_.got_binary()) return close("text frames are not spoken here");
    if (!rate_.admit(MessageRateLimit::Clock::now())) return close("too many messages");
    std::string error;
    std::optional<WebEnvelope> envelope = parsePageEnvelope(frame, error);
    if (!envelope) return close("malformed envelope: " + error);
    if (!authenticated_) {
      const std::string_view presented(reinterpret_cast<const char*>(envelope->message.data()),
                                       envelope->message.size());
      if (envelope->kind != WebEnvelopeKind::hello || !tokenMatches(presented, server_.token)) {
        return close("wrong token");
      }
      authenticated_ = true;
      --server_.unauthenticated;
      helloTimer_.cancel();
      server_.activate(shared_from_this());
      send(formatEnvelope(WebEnvelopeKind::welcome, 0, {}, {}));
      return;
    }
    switch (envelope->kind) {
      case WebEnvelopeKind::call:
        return call(std::move(*envelope));
      case WebEnvelopeKind::quit:
        return server_.target.quit();
      default:
        return close("a second hello");
    }
  }

  void call(WebEnvelope envelope) {
    if (inFlight_ >= server_.limits.maxCallsInFlight) return close("too many calls in flight");
    ++inFlight_;
    // The reply comes on the UI thread; it is carried back to this thread,
    // and dropped when the socket is gone by then.
    auto reply = [weak = weak_from_this(), server = server_.weak_from_this(), id = envelope.id,
                  channel = envelope.channel](std::optional<Bytes> bytes) {
      const auto alive = server.lock();
      if (!alive) return;
      asio::post(alive->io, [weak, id, channel, bytes = std::move(bytes)] {
        auto self = weak.lock();
        if (!self) return;
        --self->inFlight_;
        const Bytes none;
        self->send(formatEnvelope(bytes ? WebEnvelopeKind::reply : WebEnvelopeKind::noReply, id,
                                  channel, bytes ? *bytes : none));
      });
    };
    server_.target.call(envelope.channel, std::move(envelope.message), std::move(reply));
  }

  void write() {
    ws_.async_write(asio::buffer(queue_.front()),
                    [self = shared_from_this()](beast::error_code error, std::size_t) {
                      self->queuedBytes_ -= self->queue_.front().size();
                      self->queue_.pop_front();
                      if (error) {
                        self->queue_.clear();
                        self->queuedBytes_ = 0;
                        return;
                      }
                      if (!self->queue_.empty() && !self->closing_) self->write();
                    });
  }

  WebServer::Impl& server_;
  websocket::stream<beast::tcp_stream> ws_;
  std::shared_ptr<ConnectionSlot> slot_;
  asio::steady_timer helloTimer_;
  MessageRateLimit rate_;
  beast::flat_buffer buffer_;
  std::deque<Bytes> queue_;
  std::size_t queuedBytes_ = 0;
  std::size_t inFlight_ = 0;
  bool authenticated_ = false;
  bool closing_ = false;
};

namespace {

// One HTTP request: an embedded file, or the upgrade to the page socket.
class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(WebServer::Impl& server, tcp::socket socket)
      : server_(server),
        stream_(std::move(socket)),
        slot_(std::make_shared<ConnectionSlot>(server)) {}

  void start() {
    parser_.header_limit(8 * 1024);
    parser_.body_limit(0);
    stream_.expires_after(std::chrono::seconds(server_.limits.httpSeconds));
    http::async_read(stream_, buffer_, parser_,
                     [self = shared_from_this()](beast::error_code error, std::size_t) {
                       if (!error) self->onRequest();
                     });
  }

 private:
  void onRequest() {
    http::request<http::empty_body> request = parser_.release();
    const std::string host(request[http::field::host]);
    if (!isLoopbackHost(host, server_.port)) return respond(http::status::forbidden, "", "");
    if (websocket::is_upgrade(request)) {
      if (request.target() != "/ws" || !isPageOrigin(request[http::field::origin], host) ||
          server_.unauthenticated >= server_.limits.maxUnauthenticated) {
        return respond(http::status::forbidden, host, "");
      }
      std::make_shared<WebSocketSession>(server_, std::move(stream_), slot_)
          ->accept(std::move(request));
      return;
    }
    if (request.method() != http::verb::get && request.method() != http::verb::head) {
      return respond(http::status::method_not_allowed, host, "");
    }
    std::string_view path(request.target().data(), request.target().size());
    path = path.substr(0, path.find('?'));
    const WebAsset* asset = findWebAsset(path);
    if (asset == nullptr) return respond(http::status::not_found, host, "");
    respond(http::status::ok, host, asset->contentType, asset->body,
            request.method() == http::verb::head);
  }

  void respond(http::status status, std::string_view host, std::string_view type,
               std::string_view body = {}, bool headOnly = false) {
    auto response = std::make_shared<http::response<http::string_body>>(status, 11);
    response->set(http::field::server, "harkwell");
    if (!type.empty()) response->set(http::field::content_type, type);
    harden(*response, host);
    if (!headOnly) response->body() = body;
    response->prepare_payload();
    if (headOnly) response->content_length(body.size());
    http::async_write(stream_, *response,
                      [self = shared_from_this(), response](beast::error_code, std::size_t) {
                        beast::error_code ignored;
                        self->stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
                      });
  }

  WebServer::Impl& server_;
  beast::tcp_stream stream_;
  std::shared_ptr<ConnectionSlot> slot_;
  beast::flat_buffer buffer_;
  http::request_parser<http::empty_body> parser_;
};

}  // namespace

void WebServer::Impl::accept() {
  acceptor.async_accept([this](beast::error_code error, tcp::socket socket) {
    if (error) return;  // the acceptor was closed
    if (connections < limits.maxConnections) {
      std::make_shared<HttpSession>(*this, std::move(socket))->start();
    }
    accept();
  });
}

void WebServer::Impl::activate(const std::shared_ptr<WebSocketSession>& session) {
  if (auto previous = active.lock(); previous && previous != session) {
    previous->close("another page took over");
  }
  active = session;
  std::erase_if(sockets, [](const auto& weak) { return weak.expired(); });
  sockets.push_back(session);
  hasPage = true;
}

WebServer::WebServer(WebBridgeTarget& target, std::string token, WebServerLimits limits)
    : impl_(std::make_shared<Impl>(target, std::move(token), limits)) {}

WebServer::~WebServer() {
  stop();
}

void WebServer::start(std::uint16_t port) {
  const tcp::endpoint endpoint(asio::ip::address_v4::loopback(), port);
  impl_->acceptor.open(endpoint.protocol());
  impl_->acceptor.set_option(asio::socket_base::reuse_address(true));
  impl_->acceptor.bind(endpoint);
  impl_->acceptor.listen();
  impl_->port = impl_->acceptor.local_endpoint().port();
  impl_->accept();
  thread_ = std::thread([impl = impl_.get()] { impl->io.run(); });
}

std::uint16_t WebServer::port() const {
  return impl_->port;
}

std::string WebServer::url() const {
  return "http://127.0.0.1:" + std::to_string(impl_->port) + "/#" + impl_->token;
}

bool WebServer::sendEvent(const std::string& channel, std::vector<std::uint8_t> message) {
  if (!impl_->hasPage || impl_->stopped) return false;
  asio::post(impl_->io, [impl = impl_.get(), frame = formatEnvelope(WebEnvelopeKind::event, 0,
                                                                    channel, message)]() mutable {
    if (auto page = impl->active.lock()) page->send(std::move(frame));
  });
  return true;
}

void WebServer::stop() {
  if (impl_->stopped.exchange(true)) return;
  if (thread_.joinable()) {
    // Closing the sockets politely lets the page tell "quit" from a lost host.
    asio::post(impl_->io, [impl = impl_.get()] {
      beast::error_code ignored;
      impl->acceptor.close(ignored);
      for (const auto& weak : impl->sockets) {
        if (auto session = weak.lock()) session->close("the host is shutting down");
      }
    });
    // Gives the close frames a moment, then ends the loop whatever is pending.
    asio::steady_timer grace(impl_->io, std::chrono::milliseconds(200));
    grace.async_wait([impl = impl_.get()](beast::error_code) { impl->io.stop(); });
    thread_.join();
  }
}

}  // namespace harkwell
