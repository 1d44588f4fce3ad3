#include "broker.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mosquitto.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#ifndef MOSQUITTO_BROKER_PROGRAM
#define MOSQUITTO_BROKER_PROGRAM "/usr/sbin/mosquitto"
#endif
#ifndef MOSQUITTO_PASSWD_PROGRAM
#define MOSQUITTO_PASSWD_PROGRAM "/usr/bin/mosquitto_passwd"
#endif
#ifndef OPENSSL_PROGRAM
#define OPENSSL_PROGRAM "/usr/bin/openssl"
#endif

namespace mqtt_test {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Long enough for a loaded machine; a healthy broker needs milliseconds.
constexpr auto kBrokerDeadline = 20s;
// The subscriber's pause between attempts to connect: short, the broker is
// local.
constexpr auto kReconnectPause = 100ms;

std::string errno_text(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string last_lines(const std::string& text, std::size_t count) {
  std::size_t start = text.size();
  if (start > 0 && text[start - 1] == '\n') --start;
  for (std::size_t n = 0; n < count && start > 0; ++n) {
    start = text.rfind('\n', start - 1);
    if (start == std::string::npos) {
      start = 0;
      break;
    }
  }
  if (start > 0) ++start;
  return text.substr(start);
}

// Starts argv[0] (a path) with stdin from /dev/null and stdout and stderr
// appended to `output`. The child gets SIGKILL when the calling thread ends,
// so that a crashed test leaves no broker behind, and inherits no
// descriptors: a client socket held open in a broker would hide its close.
pid_t spawn(const std::vector<std::string>& argv, const std::string& output) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (in < 0) throw std::runtime_error(errno_text("open /dev/null"));
  const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (out < 0) {
    const std::string why = errno_text(("open " + output).c_str());
    ::close(in);
    throw std::runtime_error(why);
  }
  const long openMax = ::sysconf(_SC_OPEN_MAX);
  const int lastFd = openMax > 0 && openMax < 65536 ? static_cast<int>(openMax) - 1 : 65535;
  const pid_t parent = ::getpid();

  const pid_t pid = ::fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGUSR1}) signal(sig, SIG_DFL);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    if (::close_range(3, ~0U, 0) != 0) {
      for (int fd = 3; fd <= lastFd; ++fd) ::close(fd);
    }
    execv(args[0], args.data());
    _exit(127);
  }
  const int forkErrno = errno;
  ::close(in);
  ::close(out);
  if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(forkErrno));
  return pid;
}

// The exit status as a shell gives it (128 + signal for a signal).
int status_code(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

// Runs a short command to its end; throws with its output on failure.
void run_command(const std::vector<std::string>& argv, const std::string& output) {
  ::unlink(output.c_str());
  const pid_t pid = spawn(argv, output);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error(errno_text("waitpid"));
  }
  if (status_code(status) != 0) {
    std::string line;
    for (const std::string& a : argv) line += (line.empty() ? "" : " ") + a;
    throw std::runtime_error(line + " failed (exit " + std::to_string(status_code(status)) + "):\n" +
                             read_file(output));
  }
}

// Free TCP ports on 127.0.0.1, distinct, as the kernel hands out for port
// 0. They are free again once returned, so something else could take one
// before the broker binds it; for the tests that risk is acceptable.
std::array<int, 3> pick_ports() {
  std::array<int, 3> fds{-1, -1, -1};
  std::array<int, 3> ports{};
  auto close_all = [&] {
    for (int fd : fds)
      if (fd >= 0) ::close(fd);
  };
  for (std::size_t i = 0; i < fds.size(); ++i) {
    // All three stay bound until the end so that they differ.
    fds[i] = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t length = sizeof addr;
    if (fds[i] < 0 || ::bind(fds[i], reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fds[i], reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
      const std::string why = errno_text("picking a port");
      close_all();
      throw std::runtime_error(why);
    }
    ports[i] = ntohs(addr.sin_port);
  }
  close_all();
  return ports;
}

bool accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

// mosquitto drops root for its own user at start, which could then read
// nothing in the directory; naming the current user keeps it as it is (for
// root it only warns, for anyone else the setting does nothing).
std::string current_user() {
  const passwd* pw = ::getpwuid(::geteuid());
  if (pw == nullptr || pw->pw_name == nullptr) throw std::runtime_error("no user name for the current user");
  return pw->pw_name;
}

constexpr const char* kOpensslConfig = R"([req]
distinguished_name = dn
prompt = no
[dn]
[ca_ext]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[good_ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost, IP:127.0.0.1
authorityKeyIdentifier = keyid
[wrong_ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:wrong.example
authorityKeyIdentifier = keyid
)";

}  // namespace

Broker::Broker(std::string meterTopics) : meterTopics_(std::move(meterTopics)) {
  std::string pattern = (std::filesystem::temp_directory_path() / "mqtt-broker.XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error(errno_text("mkdtemp"));
  dir_ = pattern;
  try {
    make_certificates();
    make_users();
    const std::array<int, 3> ports = pick_ports();
    port_ = ports[0];
    tlsPort_ = ports[1];
    wrongHostTlsPort_ = ports[2];
    write_config();
  } catch (...) {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
    throw;
  }
}

Broker::~Broker() {
  try {
    stop();
  } catch (const std::exception&) {
    // A destructor cannot fail the test; the broker has been killed.
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::string Broker::path(const char* name) const { return (dir_ / name).string(); }

void Broker::make_certificates() {
  const std::string config = path("openssl.cnf");
  write_file(config, kOpensslConfig);
  const std::string output = path("openssl.out");
  // P-256 keys: made in milliseconds, where RSA takes a noticeable while.
  auto key = [&](const std::string& name) {
    run_command({OPENSSL_PROGRAM, "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-out",
                 path(name.c_str())},
                output);
  };
  auto server = [&](const std::string& name, const std::string& host, const char* extensions, const char* serial) {
    key(name + ".key");
    run_command({OPENSSL_PROGRAM, "req", "-config", config, "-new", "-key", path((name + ".key").c_str()), "-subj",
                 "/CN=" + host, "-out", path((name + ".csr").c_str())},
                output);
    run_command({OPENSSL_PROGRAM, "x509", "-req", "-in", path((name + ".csr").c_str()), "-CA", path("ca.crt"),
                 "-CAkey", path("ca.key"), "-set_serial", serial, "-days", "3650", "-extfile", config, "-extensions",
                 extensions, "-out", path((name + ".crt").c_str())},
                output);
  };
  key("ca.key");
  run_command({OPENSSL_PROGRAM, "req", "-config", config, "-new", "-x509", "-key", path("ca.key"), "-subj",
               "/CN=mqtt test CA", "-days", "3650", "-extensions", "ca_ext", "-out", path("ca.crt")},
              output);
  server("server", "localhost", "good_ext", "2");
  server("wrong", "wrong.example", "wrong_ext", "3");
}

void Broker::make_users() {
  const std::string output = path("passwd.out");
  run_command({MOSQUITTO_PASSWD_PROGRAM, "-b", "-c", path("passwd"), kMeterUser, kMeterPassword}, output);
  run_command({MOSQUITTO_PASSWD_PROGRAM, "-b", path("passwd"), kReaderUser, kReaderPassword}, output);
  write_file(path("meter.password"), std::string(kMeterPassword) + "\n");
  // Without a `user` line before them, topic lines would be for anonymous
  // clients only.
  write_file(path("acl"), std::string("user ") + kMeterUser + "\ntopic readwrite " + meterTopics_ + "\n\nuser " +
                              kReaderUser + "\ntopic read #\n");
}

void Broker::write_config() {
  std::ostringstream c;
  c << "per_listener_settings false\n"
    << "allow_anonymous false\n"
    << "password_file " << path("passwd") << "\n"
    << "acl_file " << path("acl") << "\n"
    << "user " << current_user() << "\n"
    // mosquitto appends the file name to the location as it is: the
    // slash is needed.
    << "persistence true\n"
    << "persistence_location " << (dir_ / "").string() << "\n"
    // Saved every second, so that kill() loses at most that much.
    << "autosave_interval 1\n"
    << "max_queued_messages 1000000\n"
    << "log_dest file " << path("mosquitto.log") << "\n"
    << "log_type all\n"
    << "log_timestamp_format %H:%M:%S\n"
    << "listener " << port_ << " 127.0.0.1\n"
    << "listener " << tlsPort_ << " 127.0.0.1\n"
    << "cafile " << path("ca.crt") << "\n"
    << "certfile " << path("server.crt") << "\n"
    << "keyfile " << path("server.key") << "\n"
    << "listener " << wrongHostTlsPort_ << " 127.0.0.1\n"
    << "cafile " << path("ca.crt") << "\n"
    << "certfile " << path("wrong.crt") << "\n"
    << "keyfile " << path("wrong.key") << "\n";
  write_file(config_file(), c.str());
}

std::string Broker::url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }
std::string Broker::tls_url() const { return "mqtts://localhost:" + std::to_string(tlsPort_); }
std::string Broker::wrong_tls_url() const { return "mqtts://localhost:" + std::to_string(wrongHostTlsPort_); }
std::string Broker::ca_file() const { return path("ca.crt"); }
std::string Broker::password_file_for_meter() const { return path("meter.password"); }
std::string Broker::config_file() const { return path("mosquitto.conf"); }
std::string Broker::log_text() const { return read_file(path("mosquitto.log")); }

std::string Broker::log_tail(std::size_t lines) const {
  return "--- mosquitto.log (last lines) ---\n" + last_lines(log_text(), lines) +
         "\n--- mosquitto's output ---\n" + last_lines(read_file(path("mosquitto.out")), lines) + "\n";
}

bool Broker::reap() const {
  if (pid_ <= 0) return false;
  int status = 0;
  const pid_t r = ::waitpid(pid_, &status, WNOHANG);
  if (r == 0) return true;
  lastStatus_ = r == pid_ ? status_code(status) : -1;
  pid_ = -1;
  return false;
}

bool Broker::running() const { return reap(); }

void Broker::start() {
  if (running()) return;
  pid_ = spawn({MOSQUITTO_BROKER_PROGRAM, "-c", config_file()}, path("mosquitto.out"));
  const auto deadline = Clock::now() + kBrokerDeadline;
  for (;;) {
    if (!reap()) {
      throw std::runtime_error("mosquitto ended at its start (exit " + std::to_string(lastStatus_) + ")\n" +
                               log_tail());
    }
    if (accepts(port_) && accepts(tlsPort_) && accepts(wrongHostTlsPort_)) return;
    if (Clock::now() >= deadline) {
      kill();
      throw std::runtime_error("mosquitto did not listen on its ports within 20 s\n" + log_tail());
    }
    std::this_thread::sleep_for(10ms);
  }
}

void Broker::stop() {
  if (!running()) return;
  // The process's descriptor becomes readable when it ends: a wait for
  // that event, bounded by the deadline.
  const int exited = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
  ::kill(pid_, SIGTERM);
  pollfd p{exited, POLLIN, 0};
  const int ms = static_cast<int>(std::chrono::milliseconds(kBrokerDeadline).count());
  int ready = -1;
  while (exited >= 0 && (ready = ::poll(&p, 1, ms)) < 0 && errno == EINTR) {
  }
  const bool ended = ready == 1;
  if (exited >= 0) ::close(exited);
  if (!ended || reap()) {
    kill();
    throw std::runtime_error("mosquitto did not end within 20 s of SIGTERM\n" + log_tail());
  }
  if (lastStatus_ != 0)
    throw std::runtime_error("mosquitto ended with exit " + std::to_string(lastStatus_) + "\n" + log_tail());
}

void Broker::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  lastStatus_ = status_code(status);
  pid_ = -1;
}

// ---------------------------------------------------------------------------

void init_mosquitto() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

Subscriber::Subscriber(const Broker& broker, std::string clientId, std::string filter)
    : clientId_(std::move(clientId)), filter_(std::move(filter)), port_(broker.port()) {
  init_mosquitto();
  client_ = mosquitto_new(clientId_.c_str(), false, this);
  if (client_ == nullptr) throw std::runtime_error(errno_text("mosquitto_new"));
  mosquitto_username_pw_set(client_, kReaderUser, kReaderPassword);
  mosquitto_connect_with_flags_callback_set(client_, [](mosquitto*, void* self, int rc, int flags) {
    static_cast<Subscriber*>(self)->on_connect(rc, flags);
  });
  mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int count, const int* granted) {
    static_cast<Subscriber*>(self)->on_subscribe(count, granted);
  });
  mosquitto_message_callback_set(client_, [](mosquitto*, void* self, const mosquitto_message* message) {
    static_cast<Subscriber*>(self)->on_message(*message);
  });
  mosquitto_disconnect_callback_set(client_, [](mosquitto*, void* self, int rc) {
    static_cast<Subscriber*>(self)->on_disconnect(rc);
  });
  thread_ = std::thread([this] { run(); });
}

Subscriber::~Subscriber() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
  mosquitto_destroy(client_);
}

// The client's own loop rather than mosquitto_loop_start: its thread reads
// the state once per attempt, so a mosquitto_disconnect from another thread
// that lands while it reconnects is lost and mosquitto_loop_stop then waits
// for ever. Here every libmosquitto call after the construction is made on
// this thread, and stopping is a flag.
void Subscriber::run() {
  bool open = false;
  bool pause = false;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (pause) changed_.wait_for(lock, kReconnectPause, [this] { return stop_; });
      if (stop_) break;
    }
    pause = false;
    if (!open) {
      // Connects the socket and sends CONNECT; the CONNACK comes in the loop.
      const int rc = mosquitto_connect(client_, "127.0.0.1", port_, 10);
      open = rc == MOSQ_ERR_SUCCESS;
      pause = !open;
      if (!open) lost(rc == MOSQ_ERR_ERRNO ? errno_text("connect") : std::string("connect: ") + mosquitto_strerror(rc));
      continue;
    }
    const int rc = mosquitto_loop(client_, 50, 1);
    if (rc != MOSQ_ERR_SUCCESS) {
      open = false;
      pause = true;
      lost(std::string("loop: ") + mosquitto_strerror(rc));
    }
  }
  // Without DISCONNECT the broker would see a lost connection; the session
  // stays either way, but a clean end keeps the log plain.
  if (open) mosquitto_disconnect(client_);
}

void Subscriber::on_connect(int rc, int flags) {
  if (rc != 0) {
    lost(std::string("CONNACK: ") + mosquitto_connack_string(rc));
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++connections_;
    sessionPresent_ = (flags & 1) != 0;
  }
  // Subscribing again with the session present is harmless, and needed
  // when the broker lost it.
  const int sub = mosquitto_subscribe(client_, nullptr, filter_.c_str(), 1);
  if (sub != MOSQ_ERR_SUCCESS) lost(std::string("subscribe: ") + mosquitto_strerror(sub));
}

void Subscriber::on_subscribe(int count, const int* granted) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (count < 1 || granted[0] > 2) {
      lastProblem_ = "subscription to " + filter_ + " refused";
      return;
    }
    subscribed_ = true;
  }
  changed_.notify_all();
}

void Subscriber::on_message(const mosquitto_message& message) {
  Message m;
  m.topic = message.topic;
  if (message.payloadlen > 0)
    m.payload.assign(static_cast<const char*>(message.payload), static_cast<std::size_t>(message.payloadlen));
  m.retain = message.retain;
  m.qos = message.qos;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(std::move(m));
  }
  changed_.notify_all();
}

void Subscriber::on_disconnect(int rc) {
  if (rc != 0) lost("disconnected: " + std::string(mosquitto_strerror(rc)));
  std::lock_guard<std::mutex> lock(mutex_);
  subscribed_ = false;
}

void Subscriber::lost(const std::string& why) {
  std::lock_guard<std::mutex> lock(mutex_);
  subscribed_ = false;
  lastProblem_ = why;
}

bool Subscriber::wait_connected(std::chrono::seconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return subscribed_; });
}

bool Subscriber::connected() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return subscribed_;
}

bool Subscriber::session_present() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sessionPresent_;
}

int Subscriber::connections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}

std::string Subscriber::last_problem() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastProblem_;
}

std::vector<Message> Subscriber::messages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_;
}

bool Subscriber::wait_for(const std::function<bool(const std::vector<Message>&)>& pred, std::chrono::seconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return pred(messages_); });
}

void Subscriber::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  messages_.clear();
}

}  // namespace mqtt_test
