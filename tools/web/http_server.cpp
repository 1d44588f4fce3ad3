#include "http_server.h"

#include <atomic>
#include <cstdlib>
#include <optional>
#include <thread>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "page.h"
#include "render.h"
#include "route.h"

namespace web {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

namespace {

constexpr const char* kBusy =
    "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain\r\nContent-Length: 27\r\nConnection: close\r\n"
    "Retry-After: 5\r\n\r\ntoo many clients, try again";
constexpr const char* kEventsHead =
    "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
    "X-Accel-Buffering: no\r\nConnection: keep-alive\r\n\r\n";

constexpr int kEventSendBuffer = 64 * 1024;

}  // namespace

struct HttpServer::Impl {
  class Session;

  Impl(ServerOptions o, WebSink& s, HistoryQuery h) : options(std::move(o)), sink(s), history(std::move(h)) {}

  void accept();
  void broadcast();
  // The page's model for the events, rendered once per copy of the site.
  const std::string& event_text(const SiteSnapshot& site);

  ServerOptions options;
  WebSink& sink;
  HistoryQuery history;
  net::io_context ioc{1};
  std::optional<tcp::acceptor> acceptor;
  std::thread thread;
  std::atomic<unsigned> active{0};
  std::vector<std::weak_ptr<Session>> sessions;  // io thread only
  std::atomic<std::uint64_t> eventVersion{0};
  std::string eventCache;
  std::atomic<unsigned short> boundPort{0};
  // A broadcast is queued: later copies ride on it instead of piling up.
  std::atomic<bool> broadcastQueued{false};
};

class HttpServer::Impl::Session : public std::enable_shared_from_this<Session> {
public:
  Session(Impl& server, tcp::socket socket) : server_(server), stream_(std::move(socket)) { ++server_.active; }
  ~Session() { --server_.active; }

  void start() { read_request(); }
  bool events() const { return events_; }
  void close() {
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ec);
    stream_.socket().close(ec);
  }
  // The newest event replaces one not yet sent: a slow reader skips rounds.
  void push(const std::string& event) {
    next_ = event;
    if (!writing_) write_event();
  }

private:
  void read_request() {
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(server_.options.headerLimit));
    parser_->body_limit(server_.options.headerLimit);
    stream_.expires_after(server_.options.idle);
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code ec, std::size_t) { self->on_request(ec); });
  }

  void on_request(beast::error_code ec) {
    if (ec == http::error::header_limit) return answer(Answer{431, "text/plain", "request head too large"}, false);
    if (ec == http::error::body_limit) return answer(Answer{413, "text/plain", "request body too large"}, false);
    if (ec == http::error::end_of_stream || ec == beast::error::timeout || ec == net::error::operation_aborted ||
        ec == net::error::connection_reset || ec == net::error::eof)
      return close();
    if (ec) return answer(Answer{400, "text/plain", "malformed request"}, false);
    const auto& req = parser_->get();
    const bool head = req.method() == http::verb::head;
    if (req.method() != http::verb::get && !head) {
      Answer a{405, "text/plain", "only GET and HEAD"};
      a.allow = true;
      return answer(a, req.keep_alive());
    }
    const std::string target(req.target());
    if (route_path(target) == "/events") return start_events();
    Answer a = route(target, *server_.sink.current(), server_.options.version, server_.history);
    a.head = head;
    answer(a, req.keep_alive());
  }

  void answer(const Answer& a, bool keepAlive) {
    auto res = std::make_shared<http::response<http::string_body>>(static_cast<http::status>(a.status), 11);
    res->set(http::field::content_type, a.contentType);
    res->set(http::field::cache_control, "no-store");
    if (a.allow) res->set(http::field::allow, "GET, HEAD");
    res->keep_alive(keepAlive);
    res->body() = a.body;
    res->prepare_payload();
    if (a.head) res->body().clear();
    stream_.expires_after(server_.options.idle);
    http::async_write(stream_, *res, [self = shared_from_this(), res, keepAlive](beast::error_code ec, std::size_t) {
      if (ec || !keepAlive) return self->close();
      self->read_request();
    });
  }

  void start_events() {
    events_ = true;
    // A client that stops reading holds a little kernel memory, not
    // megabytes, before its write times out.
    beast::error_code ignored;
    stream_.socket().set_option(net::socket_base::send_buffer_size(kEventSendBuffer), ignored);
    next_ = std::string(kEventsHead) + server_.event_text(server_.sink.current());
    write_event();
    watch_close();
  }

  // A client of the events sends nothing more: a read ends when it goes.
  void watch_close() {
    stream_.socket().async_read_some(net::buffer(scratch_), [self = shared_from_this()](beast::error_code ec, std::size_t) {
      if (ec) return self->close();
      self->watch_close();
    });
  }

  void write_event() {
    if (next_.empty()) return;
    writing_ = true;
    sending_ = std::move(next_);
    next_.clear();
    // The timer covers the write; a client that stops reading is closed.
    stream_.expires_after(server_.options.idle);
    net::async_write(stream_, net::buffer(sending_), [self = shared_from_this()](beast::error_code ec, std::size_t) {
      self->writing_ = false;
      if (ec) return self->close();
      self->stream_.expires_never();
      self->write_event();
    });
  }

  Impl& server_;
  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  bool events_ = false;
  bool writing_ = false;
  std::string next_, sending_;
  char scratch_[256];
};

void HttpServer::Impl::accept() {
  acceptor->async_accept([this](beast::error_code ec, tcp::socket socket) {
    if (ec == net::error::operation_aborted || !acceptor->is_open()) return;
    if (!ec) {
      if (active >= options.maxClients) {
        // Refused at once, never queued: the socket is new, the answer
        // fits its buffer.
        beast::error_code ignored;
        net::write(socket, net::buffer(std::string(kBusy)), ignored);
        socket.shutdown(tcp::socket::shutdown_both, ignored);
        socket.close(ignored);
      } else {
        auto s = std::make_shared<Session>(*this, std::move(socket));
        // Forget the sessions that are gone.
        std::vector<std::weak_ptr<Session>> live{s};
        for (auto& w : sessions)
          if (!w.expired()) live.push_back(w);
        sessions.swap(live);
        s->start();
      }
    }
    accept();
  });
}

const std::string& HttpServer::Impl::event_text(const SiteSnapshot& site) {
  if (eventCache.empty() || site->version != eventVersion) {
    eventVersion = site->version;
    eventCache = "data: " + json_text(page_json(*site, options.version)) + "\n\n";
  }
  return eventCache;
}

void HttpServer::Impl::broadcast() {
  broadcastQueued = false;
  const SiteSnapshot site = sink.current();
  if (!eventCache.empty() && site->version == eventVersion) return;
  const std::string& text = event_text(site);
  for (auto& w : sessions)
    if (auto s = w.lock(); s && s->events()) s->push(text);
}

HttpServer::HttpServer(ServerOptions options, WebSink& sink, HistoryQuery history)
    : impl_(std::make_unique<Impl>(std::move(options), sink, std::move(history))) {}

HttpServer::~HttpServer() { stop(); }

bool HttpServer::start(std::string* error) {
  Impl& s = *impl_;
  beast::error_code ec;
  const auto address = net::ip::make_address(s.options.address, ec);
  if (ec) {
    *error = "--http: \"" + s.options.address + "\" is not an IP address";
    return false;
  }
  const tcp::endpoint at(address, s.options.port);
  s.acceptor.emplace(s.ioc);
  s.acceptor->open(at.protocol(), ec);
  if (!ec) s.acceptor->set_option(net::socket_base::reuse_address(true), ec);
  if (!ec) s.acceptor->bind(at, ec);
  if (!ec) s.acceptor->listen(net::socket_base::max_listen_connections, ec);
  if (ec) {
    *error = "--http: cannot listen on " + s.options.address + ":" + std::to_string(s.options.port) + ": " +
             ec.message();
    s.acceptor.reset();
    return false;
  }
  s.boundPort = s.acceptor->local_endpoint().port();
  s.sink.on_change([&s] {
    if (!s.broadcastQueued.exchange(true)) net::post(s.ioc, [&s] { s.broadcast(); });
  });
  s.accept();
  s.thread = std::thread([&s] { s.ioc.run(); });
  return true;
}

unsigned short HttpServer::port() const { return impl_->boundPort; }

unsigned HttpServer::connections() const { return impl_->active; }

std::uint64_t HttpServer::event_version() const { return impl_->eventVersion; }

void HttpServer::stop() {
  Impl& s = *impl_;
  if (!s.thread.joinable()) return;
  s.sink.on_change({});
  // Everything closed on the server's thread; run() ends when the last
  // handler has seen it.
  net::post(s.ioc, [&s] {
    beast::error_code ec;
    s.acceptor->close(ec);
    for (auto& w : s.sessions)
      if (auto session = w.lock()) session->close();
  });
  s.thread.join();
}


}  // namespace web
