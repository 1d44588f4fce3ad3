// The web view: its routes and renderings as pure functions, and the
// server against real sockets, hostile clients included.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <map>
#include <sstream>
#include <cstring>

#include <json/reader.h>

#include "acquisition/data_block.h"
#include "http_server.h"
#include "posix_io.h"
#include "publication/signal_catalogue.h"
#include "publication/signal_value.h"
#include "render.h"
#include "route.h"
#include "reading_table.h"
#include "signal_display.h"
#include "support/image.h"
#include "support/runs.h"
#include "web_options.h"
#include "web_sink.h"

namespace {

using namespace std::chrono_literals;

Json::Value parse(const std::string& text) {
  Json::Value v;
  Json::CharReaderBuilder b;
  std::string errors;
  std::unique_ptr<Json::CharReader> r(b.newCharReader());
  EXPECT_TRUE(r->parse(text.data(), text.data() + text.size(), &v, &errors)) << errors << text.substr(0, 200);
  return v;
}

// A block whose slots count up, with one float member made NaN.
std::vector<unsigned char> sample_block(std::uint32_t dataId) {
  std::vector<unsigned char> b(kvrm::kBlockSize);
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<unsigned char>(i * 7 + 3);
  std::memcpy(b.data(), &dataId, sizeof dataId);
  for (const kvrm::SignalRow& row : kvrm::kSignalCatalogue)
    if (row.decoding == kvrm::Decoding::F32) {
      const float nan = std::nanf("");
      std::uint32_t bits;
      std::memcpy(&bits, &nan, sizeof bits);
      // The low half in the first slot.
      const std::uint16_t lo = bits & 0xffff, hi = bits >> 16;
      std::memcpy(&b[row.offset], &lo, 2);
      std::memcpy(&b[row.offset + 2], &hi, 2);
      break;
    }
  return b;
}

web::SiteState two_meters() {
  web::SiteState s;
  s.version = 3;
  s.line = "line /dev/ttyUSB0";
  for (std::uint32_t id : {1u, 7u}) {
    web::MeterState m;
    m.info = meter_host::MeterInfo{s.meters.size(), id, id, "meter " + std::to_string(id) + " (slave " + std::to_string(id) + ")"};
    s.meters.push_back(m);
  }
  s.meters[0].round = 12;
  s.meters[0].time = 1796786930;
  s.meters[0].block = sample_block(1);
  s.meters[0].alarms.push_back(meter_host::AlarmEvent{1, "a001", "A相电压", 2, true, "251", "high"});
  // Meter 7 answered once, then went silent.
  s.meters[1].round = 1;
  s.meters[1].time = 1796786000;
  s.meters[1].block = sample_block(7);
  s.meters[1].online = false;
  s.meters[1].since = 1796786100;
  return s;
}

TEST(WebRoutes, EachRouteAndItsErrors) {
  const web::SiteState site = two_meters();
  std::vector<std::string> asked;
  const web::HistoryQuery history = [&](std::uint32_t id, const std::string& from, const std::string& to,
                                        const std::string& step, int* status) {
    asked.push_back(std::to_string(id) + "|" + from + "|" + to + "|" + step);
    *status = 200;
    return Json::Value(Json::objectValue);
  };
  const std::pair<const char*, int> cases[] = {
      {"/", 200},
      {"/metrics", 200},
      {"/api/site", 200},
      {"/api/meters/1", 200},
      {"/api/meters/7", 200},  // offline: still its last values
      {"/api/meters/9", 404},
      {"/api/meters/x1", 404},
      {"/api/meters/99999999999", 404},
      {"/api/meters/1/history?from=2026-12-08+10%3A00&to=2026-12-09", 200},
      {"/api/meters/1/history?step=1h", 200},
      {"/api/meters/1/history?step=5m", 400},
      {"/api/meters/1/history?from=%zz", 400},
      {"/api/meters/1/history?colour=red", 400},
      {"/api/meters/1/history?step=raw&step=1m", 400},
      {"/api/meters/1/other", 404},
      {"/../etc/passwd", 404},
      {"/api/../metrics", 404},
      {"/index.html", 404},
  };
  for (const auto& [target, status] : cases)
    EXPECT_EQ(web::route(target, site, "1.0", history).status, status) << target;
  EXPECT_EQ(asked, (std::vector<std::string>{"1|2026-12-08 10:00|2026-12-09|raw", "1|||1h"}));
  EXPECT_EQ(web::route("/api/meters/1/history", site, "1.0", {}).status, 404) << "no history kept";
}

TEST(WebRender, MeterValuesAreTheDriversDecodingsWithNaNAsNull) {
  const web::SiteState site = two_meters();
  const Json::Value m = parse(web::route("/api/meters/1", site, "1.0", {}).body);
  EXPECT_EQ(m["state"].asString(), "online");
  EXPECT_EQ(m["round"].asUInt(), 12u);
  EXPECT_EQ(m["alarms"][0]["alarmId"].asString(), "a001");
  int nulls = 0, numbers = 0;
  for (const kvrm::SignalRow& row : kvrm::kSignalCatalogue) {
    if (row.decoding == kvrm::Decoding::Time) continue;
    const double v = kvrm::signal_value(site.meters[0].block.data(), row);
    const Json::Value& shown = m["values"][row.name];
    if (std::isfinite(v)) {
      ++numbers;
      EXPECT_EQ(shown.asDouble(), v) << row.name;
    } else {
      ++nulls;
      EXPECT_TRUE(shown.isNull()) << row.name;
    }
  }
  EXPECT_EQ(nulls, 1);
  EXPECT_EQ(numbers, 229);
  EXPECT_EQ(m["units"]["A相电压"].asString(), "V");

  const Json::Value offline = parse(web::route("/api/meters/7", site, "1.0", {}).body);
  EXPECT_EQ(offline["state"].asString(), "offline");
  EXPECT_EQ(offline["offlineSince"].asString(), web::iso_local_time(1796786100));
  EXPECT_EQ(offline["time"].asString(), web::iso_local_time(1796786000));
  EXPECT_TRUE(offline["values"].isMember("A相电压"));
}

TEST(WebRender, MetricsPassPromtoolAndCarryTheValues) {
  web::SiteState site = two_meters();
  web::MeterState never;
  never.info = meter_host::MeterInfo{2, 9, 9, "meter 9 (slave 9)"};
  never.online = false;
  site.meters.push_back(never);
  const std::string text = web::metrics_text(site);
  posix_io::SpawnOptions o;
  o.pipeStdin = true;
  o.pipeStdout = true;
  o.pipeStderr = true;
  std::string error;
  posix_io::Process p = posix_io::Process::spawn({PROMTOOL_PROGRAM, "check", "metrics"}, o, &error);
  ASSERT_TRUE(p.running()) << error;
  tools_test::Collector out(p.stdout_fd()), err(p.stderr_fd());
  posix_io::write_all(p.stdin_fd(), text.data(), text.size());
  p.close_stdin();
  ASSERT_TRUE(out.wait_end(tools_test::kRunTimeout));
  ASSERT_TRUE(err.wait_end(tools_test::kRunTimeout));
  EXPECT_EQ(p.wait(tools_test::kRunTimeout), 0) << err.text();
  EXPECT_EQ(out.text() + err.text(), "") << "promtool's remarks";

  EXPECT_NE(text.find("kvrm4410t_meter_up{data_id=\"1\",slave=\"1\"} 1\n"), std::string::npos);
  EXPECT_NE(text.find("kvrm4410t_meter_up{data_id=\"7\",slave=\"7\"} 0\n"), std::string::npos);
  EXPECT_NE(text.find("kvrm4410t_meter_up{data_id=\"9\",slave=\"9\"} 0\n"), std::string::npos);
  EXPECT_NE(text.find("kvrm4410t_alarms_in_force{data_id=\"1\",slave=\"1\"} 1\n"), std::string::npos);
  // Watts from the meter's kilowatts; the offline meter keeps its last values.
  const kvrm::SignalRow* row = nullptr;
  for (const auto& r : kvrm::kSignalCatalogue)
    if (std::string(r.name) == "A相有功总功率") row = &r;
  ASSERT_NE(row, nullptr);
  char expected[120];
  std::snprintf(expected, sizeof expected, "kvrm4410t_active_power_watts{data_id=\"7\",slave=\"7\",phase=\"a\"} %.17g\n",
                kvrm::signal_value(site.meters[1].block.data(), *row) * 1000.0);
  EXPECT_NE(text.find(expected), std::string::npos) << expected;
  EXPECT_EQ(text.find("data_id=\"9\",slave=\"9\",phase"), std::string::npos) << "no values before a first round";
}

// A connection to the server over a plain socket: requests written out
// and answers read back by hand, so that what the server sends is what
// the test sees.
struct Response {
  int status = 0;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string text;
  int result_int() const { return status; }
  const std::string& body() const { return text; }
  std::string header(const std::string& name) const {
    const auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
  }
};

struct Client {
  int fd = -1;
  std::string pending;  // read, not yet taken
  explicit Client(unsigned short port) {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0) << std::strerror(errno);
  }
  ~Client() { ::close(fd); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;
  void send(const std::string& text) { posix_io::write_all(fd, text.data(), text.size()); }
  // More bytes into `pending`; false at the end or on an error.
  bool fill() {
    char buf[4096];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return false;
    pending.append(buf, static_cast<std::size_t>(n));
    return true;
  }
  // Everything until the server closes.
  std::string read_all() {
    while (fill()) {
    }
    std::string out;
    out.swap(pending);
    return out;
  }
  // Up to and with `mark`; what came before the end if it never does.
  std::string read_until(const std::string& mark) {
    std::size_t at;
    while ((at = pending.find(mark)) == std::string::npos)
      if (!fill()) return read_all();
    std::string out = pending.substr(0, at + mark.size());
    pending.erase(0, at + mark.size());
    return out;
  }
  Response request(const std::string& verb, const std::string& target) {
    send(verb + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    Response r;
    const std::string head = read_until("\r\n\r\n");
    std::istringstream lines(head);
    std::string line;
    std::getline(lines, line);
    if (line.size() > 12) r.status = std::atoi(line.c_str() + 9);
    while (std::getline(lines, line) && line != "\r") {
      const auto colon = line.find(':');
      if (colon == std::string::npos) continue;
      std::string name = line.substr(0, colon);
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      std::string value = line.substr(colon + 1);
      value.erase(0, value.find_first_not_of(' '));
      if (!value.empty() && value.back() == '\r') value.pop_back();
      r.headers[name] = value;
    }
    if (verb == "HEAD") return r;
    const std::size_t length = static_cast<std::size_t>(std::atoll(r.header("content-length").c_str()));
    while (pending.size() < length && fill()) {
    }
    r.text = pending.substr(0, length);
    pending.erase(0, length);
    return r;
  }
};

struct Served {
  web::WebSink sink;
  web::HttpServer server;
  explicit Served(web::ServerOptions o) : server(std::move(o), sink) {
    std::string error;
    EXPECT_TRUE(server.start(&error)) << error;
    sink.started({meter_host::MeterInfo{0, 1, 1, "meter 1 (slave 1)"}});
  }
  void round(unsigned n) {
    meter_host::CompletedRound r;
    r.meter = meter_host::MeterInfo{0, 1, 1, "meter 1 (slave 1)"};
    r.round = n;
    r.time = 1796786930 + n;
    r.block = sample_block(1);
    sink.round_completed(r);
  }
  // Waits until the events carry round n's copy, or nobody listens.
  void wait_sent(unsigned) {
    const auto version = sink.current()->version;
    while (server.event_version() < version && server.connections() > 0) std::this_thread::sleep_for(1ms);
  }
  // Waits for the server's count of connections, as the server sees them.
  bool connections_reach(unsigned n) {
    const auto until = std::chrono::steady_clock::now() + tools_test::kEventTimeout;
    while (server.connections() != n)
      if (std::chrono::steady_clock::now() > until) return false;
      else std::this_thread::sleep_for(5ms);
    return true;
  }
};

web::ServerOptions quick(unsigned maxClients = 4) {
  web::ServerOptions o;
  o.maxClients = maxClients;
  o.idle = 300ms;
  o.version = "test";
  return o;
}

TEST(WebServer, MethodsHeadAndKeepAlive) {
  Served s(quick());
  s.round(1);
  Client c(s.server.port());
  auto get = c.request("GET", "/api/site");
  EXPECT_EQ(get.result_int(), 200);
  EXPECT_EQ(parse(get.body())["meters"][0]["round"].asUInt(), 1u);
  auto head = c.request("HEAD", "/api/site");
  EXPECT_EQ(head.result_int(), 200);
  EXPECT_EQ(head.header("content-length"), get.header("content-length"));
  EXPECT_EQ(head.body(), "");
  auto post = c.request("POST", "/api/site");
  EXPECT_EQ(post.result_int(), 405);
  EXPECT_EQ(post.header("allow"), "GET, HEAD");
  EXPECT_EQ(c.request("DELETE", "/metrics").result_int(), 405);
  EXPECT_EQ(c.request("GET", "/api/meters/2").result_int(), 404);
}

TEST(WebServer, HostileRequestsGetTheirErrorAndTheServerGoesOn) {
  Served s(quick());
  {
    Client c(s.server.port());
    c.send("GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(100 * 1024, 'a') + "\r\n\r\n");
    EXPECT_EQ(c.read_all().rfind("HTTP/1.1 431", 0), 0u);
  }
  {
    Client c(s.server.port());
    c.send("HELLO THERE\r\n\r\n");
    EXPECT_EQ(c.read_all().rfind("HTTP/1.1 400", 0), 0u);
  }
  {
    Client c(s.server.port());
    c.send(std::string("\0\xff\x01garbage\r\n\r\n", 14));
    EXPECT_EQ(c.read_all().rfind("HTTP/1.1 400", 0), 0u);
  }
  {
    Client c(s.server.port());
    c.send("GET /../../etc/passwd HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(c.read_all().rfind("HTTP/1.1 404", 0), 0u);
  }
  Client c(s.server.port());
  EXPECT_EQ(c.request("GET", "/metrics").result_int(), 200);
}

TEST(WebServer, ConnectionsOverTheLimitAreRefusedAtOnceAndIdleOnesClosed) {
  // Room for 2,000 connections and the server's side of the few it keeps.
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  if (files.rlim_cur < 4200 && files.rlim_max >= 4200) files.rlim_cur = 4200;
  setrlimit(RLIMIT_NOFILE, &files);
  const unsigned wanted = files.rlim_cur >= 4200 ? 2000 : static_cast<unsigned>(files.rlim_cur / 2 - 50);

  Served s(quick(4));
  std::vector<std::unique_ptr<Client>> idle;
  for (unsigned i = 0; i < wanted; ++i) idle.push_back(std::make_unique<Client>(s.server.port()));
  // Every one is either served (and closed once idle) or refused with 503:
  // none is left waiting.
  unsigned refused = 0, closed = 0;
  for (auto& c : idle) {
    const std::string got = c->read_all();
    if (got.rfind("HTTP/1.1 503", 0) == 0) ++refused;
    else if (got.empty()) ++closed;
  }
  EXPECT_EQ(refused + closed, wanted);
  // Served ones free their place once idle, so a few late ones may be served.
  EXPECT_GT(refused, 0u);
  EXPECT_TRUE(s.connections_reach(0));
  Client c(s.server.port());
  EXPECT_EQ(c.request("GET", "/api/site").result_int(), 200);
}

TEST(WebServer, EventsFollowTheRoundsAndAClientThatStopsReadingIsClosed) {
  Served s(quick());
  s.round(1);
  {
    Client c(s.server.port());
    c.send("GET /events HTTP/1.1\r\nHost: x\r\n\r\n");
    auto next_event = [&] { return c.read_until("\n\n"); };
    const std::string first = next_event();
    EXPECT_NE(first.find("text/event-stream"), std::string::npos);
    EXPECT_NE(first.find("\"round\":1,"), std::string::npos);
    s.round(2);
    const std::string second = next_event();
    ASSERT_EQ(second.rfind("data: ", 0), 0u);
    EXPECT_EQ(parse(second.substr(6))["meters"][0]["round"].asUInt(), 2u);
  }

  // A client that reads nothing while rounds go on: once its buffers are
  // full the server gives it up, and the rounds never wait for it.
  ASSERT_TRUE(s.connections_reach(0)) << "the first client has gone";
  Client stuck(s.server.port());
  stuck.send("GET /events HTTP/1.1\r\nHost: x\r\n\r\n");
  ASSERT_TRUE(s.connections_reach(1));
  for (unsigned n = 3; s.server.connections() == 1; ++n) {
    s.round(n);
    // Rounds come at the server's pace, not a busy loop's.
    s.wait_sent(n);
  }
  EXPECT_TRUE(s.connections_reach(0));
}

}  // namespace

namespace {

using tools_test::HostRun;
using tools_test::kEventTimeout;

// The port of a meter-host run's web view, from its log.
unsigned short web_port(HostRun& host) {
  const std::string mark = "web view on http://127.0.0.1:";
  EXPECT_TRUE(host.err().wait_for(mark, kEventTimeout)) << host.err_text();
  const std::string text = host.err_text();
  const auto at = text.find(mark);
  return at == std::string::npos ? 0 : static_cast<unsigned short>(std::stoul(text.substr(at + mark.size())));
}

// The page's document after its script ran, as headless Chromium shows it.
std::string page_dom(unsigned short port, const std::string& profile) {
  posix_io::SpawnOptions o;
  o.pipeStdout = true;
  o.stderrFile = "/dev/null";
  std::string error;
  posix_io::Process p = posix_io::Process::spawn(
      {CHROMIUM_PROGRAM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
       "--disable-background-networking", "--disable-component-update", "--disable-sync",
       "--user-data-dir=" + profile, "--timeout=5000", "--dump-dom", "http://127.0.0.1:" + std::to_string(port) + "/"},
      o, &error);
  EXPECT_TRUE(p.running()) << error;
  tools_test::Collector out(p.stdout_fd());
  EXPECT_TRUE(out.wait_end(tools_test::kRunTimeout));
  EXPECT_EQ(p.wait(tools_test::kRunTimeout), 0);
  return out.text();
}

// The text a table cell shows for a member: data-value="...".
std::string shown(const std::string& dom, const std::string& member) {
  const std::string mark = "data-member=\"" + member + "\" data-value=\"";
  const auto at = dom.find(mark);
  if (at == std::string::npos) return "(not shown)";
  return dom.substr(at + mark.size(), dom.find('"', at + mark.size()) - at - mark.size());
}

TEST(WebPage, ShowsTheValuesTheApiServes) {
  kvtest::TempDir dir;
  tools_test::write_image(dir.path("img.json"), tools_test::tricky_image());
  HostRun host({"--simulate", "--registers", dir.path("img.json"), "--interval", "0.2", "--http", "127.0.0.1:0"});
  const unsigned short port = web_port(host);
  ASSERT_TRUE(host.err().wait_for("round 2 completed", kEventTimeout)) << host.err_text();
  Client api(port);
  const Json::Value meter = parse(api.request("GET", "/api/meters/1").body());
  const std::string dom = page_dom(port, dir.path("profile"));
  for (const char* member : {"A相电压", "B相电压", "总功率因数", "电网频率", "A相相角", "正向有功总电能"}) {
    const kvrm::SignalRow* row = readings::catalogue_row(member);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(shown(dom, member), readings::fixed_text(meter["values"][member].asDouble(), readings::decimals_of(*row)))
        << member;
  }
  EXPECT_NE(dom.find(">online<"), std::string::npos);
  host.send("quit");
  EXPECT_EQ(host.wait(), 0) << host.err_text();
}

TEST(WebPage, AMeterThatStopsAnsweringShowsOffline) {
  kvtest::TempDir dir;
  // Two rounds answered, then silence: offline after three failed rounds.
  HostRun host({"--simulate", "--fault", "no-reply", "--fault-after", "44", "--timeout-ms", "50", "--interval", "0",
                "--http", "127.0.0.1:0"});
  const unsigned short port = web_port(host);
  ASSERT_TRUE(host.err().wait_for("meter 1 (slave 1) offline", kEventTimeout)) << host.err_text();
  const std::string dom = page_dom(port, dir.path("profile"));
  EXPECT_NE(dom.find("id=\"state-1\">offline</span> since "), std::string::npos) << dom.substr(0, 3000);
  EXPECT_NE(shown(dom, "A相电压"), "–") << "its last values stay";
  host.send("quit");
  host.wait();
}

}  // namespace

namespace {

TEST(WebOptions, TheCommandLineWinsOverTheSiteFile) {
  web::HttpOptions given;
  Json::Value site;
  site["listen"] = "0.0.0.0:8080";
  site["maxClients"] = 4;
  web::ServerOptions o;
  bool on = false;
  std::string error;
  ASSERT_TRUE(web::resolve_http(given, site, &o, &on, &error)) << error;
  EXPECT_TRUE(on);
  EXPECT_EQ(o.address, "0.0.0.0");
  EXPECT_EQ(o.port, 8080);
  EXPECT_EQ(o.maxClients, 4u);
  given.listen = "9000";
  ASSERT_TRUE(web::resolve_http(given, site, &o, &on, &error)) << error;
  EXPECT_EQ(o.address, "127.0.0.1") << "loopback unless an address is named";
  EXPECT_EQ(o.port, 9000);
  web::ServerOptions off;
  ASSERT_TRUE(web::resolve_http({}, Json::Value(), &off, &on, &error));
  EXPECT_FALSE(on) << "off unless asked for";
  for (const char* bad : {R"({"listen": 8080})", R"({"listen": "host:port"})", R"({"maxClients": 0})", R"([1])"}) {
    EXPECT_FALSE(web::resolve_http({}, parse(bad), &o, &on, &error)) << bad;
    EXPECT_NE(error.find("\"http\""), std::string::npos) << error;
  }
}

TEST(WebServer, RoundsGoOnWhileClientsMisbehave) {
  HostRun host({"--simulate", "--interval", "0", "--http", "127.0.0.1:0", "--http-max-clients", "16"});
  const unsigned short port = web_port(host);
  ASSERT_TRUE(host.err().wait_for("round 1 completed", kEventTimeout)) << host.err_text();
  std::vector<std::unique_ptr<Client>> idle;
  for (int i = 0; i < 300; ++i) idle.push_back(std::make_unique<Client>(port));
  Client stuck(port);
  stuck.send("GET /events HTTP/1.1\r\nHost: x\r\n\r\n");
  const std::size_t before = tools_test::count_of(host.err_text(), " completed in ");
  EXPECT_TRUE(host.err().wait_for(" completed in ", kEventTimeout, before + 5)) << host.err_text();
  host.send("quit");
  EXPECT_EQ(host.wait(), 0) << host.err_text();
}

}  // namespace

namespace {

TEST(WebHistory, RoundsAndTiersOfTheHistoryInTheirSpan) {
  kvtest::TempDir dir;
  tools_test::HostRun host({"--simulate", "--interval", "0", "--history", dir.path("h.db"), "--history-commit", "0",
                            "--http", "127.0.0.1:0"});
  const unsigned short port = web_port(host);
  ASSERT_TRUE(host.err().wait_for("round 3 completed", tools_test::kEventTimeout)) << host.err_text();
  // A connection of its own for each request.
  auto get = [port](const std::string& target) { return Client(port).request("GET", target); };
  const Json::Value raw = parse(get("/api/meters/1/history").body());
  ASSERT_GE(raw["rows"].size(), 2u) << web::json_text(raw);
  EXPECT_TRUE(raw["rows"][0]["values"]["A相电压"].isDouble());
  const std::string first = raw["rows"][0]["time"].asString();
  // Up to the first row's second: the rows of that second only.
  const Json::Value early =
      parse(get("/api/meters/1/history?to=" + first.substr(0, 19)).body());
  // Rounds go on meanwhile: only what `to` leaves in is checked.
  EXPECT_GE(early["rows"].size(), 1u);
  for (const Json::Value& row : early["rows"]) EXPECT_EQ(row["time"].asString(), first);
  const auto minutes = get("/api/meters/1/history?step=1m&from=2000-01-01");
  EXPECT_EQ(minutes.result_int(), 200);
  EXPECT_TRUE(parse(minutes.body())["rows"].isArray());
  EXPECT_EQ(get("/api/meters/1/history?from=yesterday").result_int(), 400);
  host.send("quit");
  EXPECT_EQ(host.wait(), 0) << host.err_text();
}

}  // namespace
