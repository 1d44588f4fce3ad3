// meter-sim: a simulated KVRM4410T meter on a Modbus RTU line.
#include <poll.h>
#include <signal.h>
#include <termios.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include <modbus/modbus.h>

#include "line_timing.h"
#include "posix_io.h"
#include "serial_port.h"
#include "sim_options.h"
#include "slave.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void on_stop(int) { g_stop = 1; }

void install_signals() {
  struct sigaction sa {};
  sa.sa_handler = on_stop;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no restart: poll and sleeps return at once
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

void log(const std::string& line) { std::cerr << "meter-sim: " << line << std::endl; }

using Clock = std::chrono::steady_clock;

// Sends the reply as a line at `baud` would: one character time per byte.
void send_paced(int fd, const std::vector<std::uint8_t>& frame, rtu_line::Nanos charTime) {
  const auto start = Clock::now();
  for (std::size_t i = 0; i < frame.size() && !g_stop; ++i) {
    std::this_thread::sleep_until(start + charTime * static_cast<long long>(i + 1));
    posix_io::write_all(fd, &frame[i], 1);
  }
}

void serve(meter_sim::SerialPort& port, meter_sim::Slave& slave, const meter_sim::SimOptions& o) {
  const bool parity = o.parity != 'N';
  const auto charTime = rtu_line::char_time(o.baud, parity);
  const auto silence = rtu_line::silence(o.baud, parity);
  const auto started = Clock::now();
  std::vector<std::uint8_t> request(MODBUS_RTU_MAX_ADU_LENGTH);
  while (!g_stop) {
    pollfd p{port.fd(), POLLIN, 0};
    const int rc = ::poll(&p, 1, 200);
    if (rc <= 0 || !(p.revents & POLLIN)) {
      // A real device that went away; a pseudo-terminal never hangs up.
      if (rc > 0 && (p.revents & (POLLERR | POLLNVAL))) {
        log("the line failed");
        return;
      }
      continue;
    }
    const auto arrived = Clock::now();
    const int length = modbus_receive(port.context(), request.data());
    if (length <= 0) {
      if (length < 0 && o.verbose) log(std::string("unreadable request: ") + modbus_strerror(errno));
      if (length < 0) ::tcflush(port.fd(), TCIFLUSH);
      continue;
    }
    const double elapsed = std::chrono::duration<double>(arrived - started).count();
    const meter_sim::Reply reply = slave.handle(request.data(), static_cast<std::size_t>(length), elapsed);
    if (o.verbose || reply.faulted) log(reply.note);
    if (reply.frame.empty()) continue;
    if (o.lineSpeed) {
      // The request took its wire time to arrive, then the line is silent.
      std::this_thread::sleep_until(arrived + rtu_line::wire_time(static_cast<std::size_t>(length), o.baud, parity) +
                                    silence + reply.delay);
      send_paced(port.fd(), reply.frame, charTime);
    } else {
      if (reply.delay.count() > 0) std::this_thread::sleep_until(arrived + reply.delay);
      if (!g_stop) posix_io::write_all(port.fd(), reply.frame.data(), reply.frame.size());
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const meter_sim::SimParse parsed = meter_sim::parse_sim_options(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) {
    std::cerr << "meter-sim: " << parsed.error << "\n(meter-sim --help lists the options)" << std::endl;
    return 2;
  }
  const meter_sim::SimOptions& o = parsed.options;
  if (o.help) {
    std::cout << meter_sim::sim_usage();
    return 0;
  }

  meter_sim::RegisterImage image;
  const bool live = o.registers.empty();
  if (!live) {
    std::string error;
    const auto values = meter_sim::read_image_file(o.registers, &error);
    if (!error.empty()) {
      std::cerr << "meter-sim: " << error << std::endl;
      return 2;
    }
    for (const auto& [reg, value] : values) image.set(reg, value);
  }
  meter_sim::Slave slave(static_cast<std::uint8_t>(o.slave), image, live, o.faults);

  install_signals();
  meter_sim::SerialPort port;
  std::string error;
  const bool opened = o.port.empty() ? port.open_pty(o.baud, o.parity, &error)
                                     : port.open_device(o.port, o.baud, o.parity, &error);
  if (!opened) {
    std::cerr << "meter-sim: " << error << std::endl;
    return 1;
  }
  modbus_set_slave(port.context(), static_cast<int>(o.slave));

  std::cout << port.path() << std::endl;
  log("slave " + std::to_string(o.slave) + " on " + port.path() + ", " + std::to_string(o.baud) + " baud" +
      (live ? ", live image" : ", image " + o.registers) +
      (o.faults.kind != meter_sim::Fault::none ? std::string(", fault ") + meter_sim::fault_name(o.faults.kind)
                                               : std::string()) +
      (o.lineSpeed ? ", line speed" : ""));
  serve(port, slave, o);
  return 0;
}
