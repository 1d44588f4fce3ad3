#pragma once
// Commands of the bench host, from its command line (--write, --ioctl) and
// from lines on standard input, and the DeviceIoControl input they become.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "control/command_codes.h"

namespace meter_host {

// A code the driver does not handle: it answers with the last write outcome.
constexpr int kOutcomeCode = 1;

struct WriteCommand {
  std::uint16_t address = 0;
  std::vector<std::uint16_t> values;
};

struct IoctlCommand {
  int code = 0;
  std::string input;
};

// "ADDR=VALUE[,VALUE...]": decimal or 0x-hexadecimal numbers; values are
// 0..65535 or -32768..-1 (their two's complement); at most host::kMaxWriteRegisters of them.
std::optional<WriteCommand> parse_write_command(const std::string& text, std::string* error);
// "CODE[=TEXT]": the code and the input text handed over as it stands.
std::optional<IoctlCommand> parse_ioctl_command(const std::string& text, std::string* error);

// The command input of a write: code 206 with address and value for one
// value, 210 with the address and the values for several; 16-bit words in
// host byte order.
struct IoRequest {
  int code = 0;
  std::vector<unsigned char> input;
};
IoRequest write_request(const WriteCommand& cmd);

enum class CommandKind { empty, snapshot, write, ioctl, result, quit, help, invalid };

struct Command {
  CommandKind kind = CommandKind::empty;
  WriteCommand write;
  IoctlCommand ioctl;
  std::string error;  // for invalid
};

// One line of standard input: "snapshot", "write ADDR=VALUE[,...]",
// "ioctl CODE [TEXT]", "result", "quit", "help"; blank lines and lines
// starting with '#' are empty.
Command parse_command(const std::string& line);
const char* command_help();

}  // namespace meter_host
