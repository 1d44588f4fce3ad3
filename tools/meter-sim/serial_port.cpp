#include "serial_port.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace meter_sim {

namespace {

struct Speed {
  unsigned baud;
  speed_t code;
};
constexpr Speed kSpeeds[] = {{1200, B1200},     {2400, B2400},     {4800, B4800},   {9600, B9600},
                             {19200, B19200},   {38400, B38400},   {57600, B57600}, {115200, B115200},
                             {230400, B230400}, {460800, B460800}, {921600, B921600}};

speed_t speed_code(unsigned baud) {
  for (const Speed& s : kSpeeds)
    if (s.baud == baud) return s.code;
  return B9600;  // a pseudo-terminal moves bytes at any speed
}

unsigned baud_of(speed_t code) {
  for (const Speed& s : kSpeeds)
    if (s.code == code) return s.baud;
  return 0;
}

}  // namespace

std::optional<SerialPort::Settings> SerialPort::master_settings() const {
  termios t{};
  if (held_ < 0 || ::tcgetattr(held_, &t) != 0) return std::nullopt;
  Settings s;
  s.baud = baud_of(::cfgetospeed(&t));
  // A pseudo-terminal clears PARENB whatever the master asked, but keeps
  // the parity check of the input and the odd flag: they tell the parity.
  if (t.c_iflag & INPCK) s.parity = (t.c_cflag & PARODD) ? 'O' : 'E';
  return s;
}

SerialPort::~SerialPort() {
  if (ctx_) {
    if (master_ >= 0) {
      // The descriptor is ours, not libmodbus's: it never opened it.
      modbus_set_socket(ctx_, -1);
    } else {
      modbus_close(ctx_);
    }
    modbus_free(ctx_);
  }
  if (master_ >= 0) ::close(master_);
  if (held_ >= 0) ::close(held_);
}

bool SerialPort::open_pty(unsigned baud, char parity, std::string* error) {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
  char name[128] = {};
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
      ::ptsname_r(master_, name, sizeof name) != 0) {
    *error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  ::fcntl(master_, F_SETFD, FD_CLOEXEC);
  // Keeping the other end open spares readers of our end EIO while no
  // master is connected.
  held_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios t{};
  if (held_ < 0 || ::tcgetattr(held_, &t) != 0) {
    *error = std::string("cannot open ") + name + ": " + std::strerror(errno);
    return false;
  }
  ::cfmakeraw(&t);
  ::cfsetispeed(&t, speed_code(baud));
  ::cfsetospeed(&t, speed_code(baud));
  ::tcsetattr(held_, TCSANOW, &t);
  path_ = name;
  ctx_ = modbus_new_rtu(name, static_cast<int>(baud), parity, 8, 1);
  if (!ctx_) {
    *error = std::string("libmodbus: ") + modbus_strerror(errno);
    return false;
  }
  modbus_set_socket(ctx_, master_);
  fd_ = master_;
  return true;
}

bool SerialPort::open_device(const std::string& device, unsigned baud, char parity, std::string* error) {
  if (!lock_.take(device, error)) return false;
  ctx_ = modbus_new_rtu(device.c_str(), static_cast<int>(baud), parity, 8, 1);
  if (!ctx_ || modbus_connect(ctx_) != 0) {
    *error = "cannot open " + device + ": " + modbus_strerror(errno);
    return false;
  }
  path_ = device;
  fd_ = modbus_get_socket(ctx_);
  return true;
}

}  // namespace meter_sim
