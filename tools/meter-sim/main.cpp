// meter-sim: a simulated KVRM4410T meter on a Modbus RTU line.
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "command_line.h"
#include "frame_splitter.h"
#include "host/rtu.h"
#include "line_timing.h"
#include "posix_io.h"
#include "serial_port.h"
#include "sim_options.h"
#include "slave.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
volatile std::sig_atomic_t g_release = 0;

void on_stop(int) { g_stop = 1; }
void on_release(int) { g_release = 1; }

void install_signals() {
  struct sigaction sa {};
  sa.sa_handler = on_stop;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no restart: poll and sleeps return at once
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sa.sa_handler = on_release;
  sigaction(SIGUSR1, &sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

// One write per line: the lines of meter-host on the same standard error
// never break into them.
void log(const std::string& line) {
  const std::string whole = "meter-sim: " + line + "\n";
  posix_io::write_all(STDERR_FILENO, whole.data(), whole.size());
}

using Clock = std::chrono::steady_clock;

// A held reply waits for SIGUSR1 (or the stop); the flag was cleared
// before the log line that says the reply is held, so a signal sent after
// reading that line is never missed.
void wait_release() {
  while (!g_release && !g_stop) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// Sends the reply as a line at `baud` would: one character time per byte.
void send_paced(int fd, const std::vector<std::uint8_t>& frame, rtu_line::Nanos charTime) {
  const auto start = Clock::now();
  for (std::size_t i = 0; i < frame.size() && !g_stop; ++i) {
    std::this_thread::sleep_until(start + charTime * static_cast<long long>(i + 1));
    posix_io::write_all(fd, &frame[i], 1);
  }
}

// How the slaves hear a frame: as sent, or (the master at another speed
// or parity) not at all, or with --garble-baud at another speed, as a
// reply that fails the CRC.
enum class Hearing { clearly, nothing, garbled };

Hearing hear(const meter_sim::SerialPort& port, const meter_sim::SimOptions& o) {
  const auto master = port.master_settings();
  if (!master) return Hearing::clearly;
  if (master->baud != o.baud) return o.garbleBaud ? Hearing::garbled : Hearing::nothing;
  return master->parity == o.parity ? Hearing::clearly : Hearing::nothing;
}

// The reply as a master at the wrong speed receives it: as many bytes,
// the address, function and byte count intact (so that the master takes
// the whole frame before it judges it), the rest and the CRC not.
void garble(meter_sim::Reply& reply) {
  for (std::size_t i = 3; i < reply.frame.size(); ++i)
    reply.frame[i] = static_cast<std::uint8_t>(reply.frame[i] ^ 0x5A);
  if (host::crc_ok(reply.frame.data(), reply.frame.size())) reply.frame.back() ^= 0x01;  // never a good CRC by chance
  if (reply.frame.size() > 2) reply.note += " (garbled: the master is at another speed)";
}

// The slaves on the line, each with its own image, faults and count.
struct Bus {
  std::vector<meter_sim::Slave> slaves;
};

// Reads what the line carries, frame by frame, and lets the addressed slave
// answer. Frames are cut by their known length (see FrameSplitter), never
// by a read that may end inside a frame.
void serve(meter_sim::SerialPort& port, Bus& bus, const meter_sim::SimOptions& o) {
  const bool parity = o.parity != 'N';
  const auto charTime = rtu_line::char_time(o.baud, parity);
  const auto silence = rtu_line::silence(o.baud, parity);
  const auto started = Clock::now();
  meter_sim::FrameSplitter splitter;
  Clock::time_point lastByte = started;
  while (!g_stop) {
    // With part of a frame in hand, wait no longer than the silence that
    // ends it.
    int waitMs = 200;
    if (!splitter.empty()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(lastByte + silence - Clock::now());
      waitMs = static_cast<int>(std::max<long long>(0, left.count() + 1));
    }
    pollfd p{port.fd(), POLLIN, 0};
    const int rc = ::poll(&p, 1, waitMs);
    if (rc > 0 && (p.revents & (POLLERR | POLLNVAL))) {
      log("the line failed");  // a real device that went away
      return;
    }
    if (rc <= 0 || !(p.revents & POLLIN)) {
      if (!splitter.empty() && Clock::now() >= lastByte + silence) {
        const std::size_t dropped = splitter.silence();
        if (o.verbose) log(std::to_string(dropped) + " bytes that make no frame ignored");
      }
      continue;
    }
    std::uint8_t chunk[512];
    const ssize_t n = ::read(port.fd(), chunk, sizeof chunk);
    if (n <= 0) continue;
    lastByte = Clock::now();
    splitter.add(chunk, static_cast<std::size_t>(n));
    while (auto frame = splitter.next()) {
      const double elapsed = std::chrono::duration<double>(lastByte - started).count();
      const Hearing hearing = hear(port, o);
      if (hearing == Hearing::nothing) {
        if (o.verbose) log("a frame sent at another speed or parity: not understood");
        continue;
      }
      bool heard = false;
      for (meter_sim::Slave& slave : bus.slaves) {
        const bool mine = (*frame)[0] == slave.address() || (*frame)[0] == 0;
        heard = heard || mine;
        meter_sim::Reply reply = slave.handle(frame->data(), frame->size(), elapsed);
        if (hearing == Hearing::garbled) garble(reply);
        if (reply.held) g_release = 0;  // only a signal after the log line below releases it
        if ((o.verbose && mine) || reply.faulted) log("slave " + std::to_string(slave.address()) + ": " + reply.note);
        if (reply.frame.empty()) continue;
        if (reply.held) wait_release();
        if (o.lineSpeed) {
          // On a pseudo-terminal the request arrives at once: it would have
          // taken its wire time, then the line is silent.
          std::this_thread::sleep_until(lastByte + rtu_line::wire_time(frame->size(), o.baud, parity) + silence +
                                        reply.delay);
          send_paced(port.fd(), reply.frame, charTime);
        } else {
          if (reply.delay.count() > 0) std::this_thread::sleep_until(lastByte + reply.delay);
          if (!g_stop) posix_io::write_all(port.fd(), reply.frame.data(), reply.frame.size());
        }
      }
      if (!heard && o.verbose) log("frame for slave " + std::to_string((*frame)[0]) + " ignored");
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const meter_sim::SimParse parsed = meter_sim::parse_sim_options(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) {
    log(parsed.error + "\n(meter-sim --help lists the options)");
    return cli::kBadUsage;
  }
  if (!parsed.text.empty()) {
    std::cout << parsed.text;
    return cli::kDone;
  }
  const meter_sim::SimOptions& o = parsed.options;

  Bus bus;
  for (const meter_sim::SlaveSetup& s : o.setups()) {
    meter_sim::RegisterImage image;
    if (!s.registers.empty()) {
      std::string error;
      const auto values = meter_sim::read_image_file(s.registers, &error);
      if (!error.empty()) {
        log(error);
        return cli::kBadUsage;
      }
      for (const auto& [reg, value] : values) image.set(reg, value);
    }
    bus.slaves.emplace_back(static_cast<std::uint8_t>(s.address), image, s.registers.empty(), s.faults, s.wiring);
  }

  install_signals();
  meter_sim::SerialPort port;
  std::string error;
  const bool opened = o.port.empty() ? port.open_pty(o.baud, o.parity, &error)
                                     : port.open_device(o.port, o.baud, o.parity, &error);
  if (!opened) {
    log(error);
    return cli::kFailure;
  }

  std::cout << port.path() << std::endl;
  const auto setups = o.setups();
  for (std::size_t i = 0; i < setups.size(); ++i) {
    const meter_sim::SlaveSetup& s = setups[i];
    log("slave " + std::to_string(s.address) + " on " + port.path() + ", " + std::to_string(o.baud) + " 8" +
        o.parity + "1" +
        (s.registers.empty() ? ", live image, wiring " + meter_sim::describe(s.wiring) : ", image " + s.registers) +
        (s.faults.kind != meter_sim::Fault::none ? std::string(", fault ") + meter_sim::fault_name(s.faults.kind)
                                                 : std::string()) +
        (o.lineSpeed ? ", line speed" : ""));
  }
  serve(port, bus, o);
  return cli::kDone;
}
