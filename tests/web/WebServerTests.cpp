#include <gtest/gtest.h>

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <string>
#include <utility>
#include <vector>

#include "bridge/BridgeHostApiSetup.h"
#include "ui/web/WebEnvelope.h"
#include "ui/web/WebGuard.h"
#include "ui/web/WebServer.h"

namespace harkwell {
namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = boost::asio::ip::tcp;
using Bytes = std::vector<std::uint8_t>;

const std::string token = "0123456789abcdef0123456789abcdef";

std::string text(const Bytes& bytes) {
  return {bytes.begin(), bytes.end()};
}

// What is at stake: only the three page kinds on the five host channels get
// through; anything else closes the connection before it reaches the host (a
// channel past the end is the browser run's).
TEST(WebEnvelopeTest, RefusesAllButThePageKindsOnTheHostChannels) {
  const std::string listen = BridgeHostApiSetup::channelName("listen");
  std::string error;
  const Bytes refused[] = {
      Bytes{2, 0, 0, 0},                                                 // shorter than the header
      formatEnvelope(WebEnvelopeKind::call, 1, "flutter/settings", {}),  // not a host channel
      formatEnvelope(WebEnvelopeKind::reply, 1, listen, {}),             // a host-side kind
      formatEnvelope(WebEnvelopeKind::quit, 0, listen, {}),              // quit naming a channel
  };
  for (const Bytes& frame : refused) EXPECT_FALSE(parsePageEnvelope(frame, error));
}

// What is at stake: the token is all that keeps another user's browser out;
// Host and Origin keep out other sites, including by DNS rebinding; a flood is
// cut off.
TEST(WebGuardTest, TokenHostOriginAndRateChecks) {
  const std::string a = makeWebToken();
  EXPECT_EQ(a.size(), 32u);
  EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_NE(a, makeWebToken());
  EXPECT_FALSE(tokenMatches(a + "0", a));  // a wrong token of the same length is the browser run's
  // 127.0.0.1 and foreign hosts are ServesOnlyEmbeddedFiles...'s.
  EXPECT_TRUE(isLoopbackHost("localhost:8080", 8080) && !isLoopbackHost("localhost:8081", 8080));
  // A page of another origin is the browser run's.
  EXPECT_FALSE(isPageOrigin("https:/localhost:80", "localhost:80"));
  MessageRateLimit limit(3);
  const auto t = MessageRateLimit::Clock::now();
  EXPECT_TRUE(limit.admit(t) && limit.admit(t) && limit.admit(t));
  EXPECT_FALSE(limit.admit(t));
  EXPECT_TRUE(limit.admit(t + std::chrono::milliseconds(400)));
}

// Answers every call with its own message and counts the calls.
struct EchoTarget : WebBridgeTarget {
  void call(const std::string&, Bytes message, Reply reply) override {
    ++calls;
    reply(std::move(message));
  }
  void quit() override {}
  std::atomic<int> calls{0};
};

class WebServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    limits.helloSeconds = 2;
    limits.messagesPerSecond = 20;
    server = std::make_unique<WebServer>(target, token, limits);
    server->start(0);
    host = "127.0.0.1:" + std::to_string(server->port());
  }

  http::response<http::string_body> get(const std::string& target, const std::string& hostHeader) {
    beast::tcp_stream stream(io);
    stream.connect(tcp::endpoint(boost::asio::ip::address_v4::loopback(), server->port()));
    http::request<http::empty_body> request(http::verb::get, target, 11);
    request.set(http::field::host, hostHeader);
    http::write(stream, request);
    beast::flat_buffer buffer;
    http::response<http::string_body> response;
    http::read(stream, buffer, response);
    return response;
  }

  // A page socket; throws when the upgrade is refused.
  std::unique_ptr<websocket::stream<tcp::socket>> open(const std::string& origin) {
    auto ws = std::make_unique<websocket::stream<tcp::socket>>(io);
    ws->next_layer().connect(
        tcp::endpoint(boost::asio::ip::address_v4::loopback(), server->port()));
    ws->set_option(websocket::stream_base::decorator(
        [origin](websocket::request_type& request) { request.set(http::field::origin, origin); }));
    ws->handshake(host, "/ws");
    ws->binary(true);
    return ws;
  }

  // The next frame, or "closed: " and the reason once the host closed the socket.
  static std::string receive(websocket::stream<tcp::socket>& ws) {
    beast::flat_buffer buffer;
    beast::error_code error;
    ws.read(buffer, error);
    return error ? "closed: " + std::string(ws.reason().reason.c_str())
                 : beast::buffers_to_string(buffer.cdata());
  }

  std::unique_ptr<websocket::stream<tcp::socket>> page() {
    auto ws = open("http://" + host);
    ws->write(boost::asio::buffer(
        formatEnvelope(WebEnvelopeKind::hello, 0, "", Bytes(token.begin(), token.end()))));
    EXPECT_EQ(receive(*ws), text(formatEnvelope(WebEnvelopeKind::welcome, 0, "", {})));
    return ws;
  }

  boost::asio::io_context io;
  EchoTarget target;
  WebServerLimits limits;
  std::unique_ptr<WebServer> server;
  std::string host;
};

// What is at stake: the page is served hardened and only from the embedded
// files; a foreign Host (DNS rebinding) gets nothing. (That another site
// cannot read the page or open its socket is the browser run's.)
TEST_F(WebServerTest, ServesOnlyEmbeddedFilesToTheLoopbackHost) {
  const auto page = get("/", host);
  EXPECT_EQ(page.result(), http::status::ok);
  EXPECT_NE(page["Content-Security-Policy"].find("frame-ancestors 'none'"), std::string::npos);
  for (const auto& [name, value] : {std::pair{"X-Content-Type-Options", "nosniff"},
                                    {"X-Frame-Options", "DENY"},
                                    {"Referrer-Policy", "no-referrer"},
                                    {"Cross-Origin-Resource-Policy", "same-origin"},
                                    {"Cache-Control", "no-store"}}) {
    EXPECT_EQ(page[name], value) << name;
  }
  EXPECT_EQ(get("/../../etc/passwd", host).result(), http::status::not_found);
  EXPECT_EQ(get("/", "attacker.example:" + std::to_string(server->port())).result(),
            http::status::forbidden);
}

// What is at stake: nothing reaches the host before the hello; a silent
// socket, a flood or a page taken over costs only its own connection, and the
// server goes on.
TEST_F(WebServerTest, OnlyAGreetedPageReachesTheHostAndMisbehaviourCostsOnlyItsSocket) {
  const std::string channel = BridgeHostApiSetup::channelName("getDevices");
  auto early = open("http://" + host);
  early->write(boost::asio::buffer(formatEnvelope(WebEnvelopeKind::call, 1, channel, Bytes{0})));
  EXPECT_EQ(receive(*early).rfind("closed: ", 0), 0u);
  EXPECT_EQ(target.calls, 0);

  auto silent = open("http://" + host);
  EXPECT_EQ(receive(*silent), "closed: no hello in time");

  auto first = page();
  first->write(boost::asio::buffer(formatEnvelope(WebEnvelopeKind::call, 7, channel, Bytes{1, 2})));
  EXPECT_EQ(receive(*first), text(formatEnvelope(WebEnvelopeKind::reply, 7, channel, Bytes{1, 2})));
  auto second = page();
  EXPECT_EQ(receive(*first), "closed: another page took over");
  for (int i = 0; i < limits.messagesPerSecond + 1; ++i) {
    second->write(boost::asio::buffer(formatEnvelope(WebEnvelopeKind::call, 0, channel, {})));
  }
  std::string last;
  while ((last = receive(*second)).rfind("closed: ", 0) != 0) {
  }
  EXPECT_EQ(last, "closed: too many messages");
  EXPECT_EQ(get("/", host).result(), http::status::ok);
}

}  // namespace
}  // namespace harkwell
