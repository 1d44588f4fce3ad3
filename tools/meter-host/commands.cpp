#include "commands.h"

#include <cstring>

#include "cli_number.h"
#include "host/rtu.h"

namespace meter_host {

namespace {

std::string trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  const auto e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

void put_input_word(std::vector<unsigned char>& out, std::uint16_t w) {
  unsigned char b[sizeof w];
  std::memcpy(b, &w, sizeof w);
  out.insert(out.end(), b, b + sizeof w);
}

}  // namespace

std::optional<WriteCommand> parse_write_command(const std::string& text, std::string* error) {
  const auto eq = text.find('=');
  if (eq == std::string::npos) {
    *error = "expected ADDR=VALUE[,VALUE...], got \"" + text + "\"";
    return std::nullopt;
  }
  WriteCommand cmd;
  const auto address = cli::parse_integer(text.substr(0, eq), 0, 0xFFFF);
  if (!address) {
    *error = "register address \"" + text.substr(0, eq) + "\" is not a number from 0 to 65535";
    return std::nullopt;
  }
  cmd.address = static_cast<std::uint16_t>(*address);
  std::string rest = text.substr(eq + 1);
  for (;;) {
    const auto comma = rest.find(',');
    const std::string item = rest.substr(0, comma);
    const auto v = cli::parse_integer(item, -32768, 0xFFFF);
    if (!v) {
      *error = "value \"" + item + "\" is not a 16-bit number";
      return std::nullopt;
    }
    cmd.values.push_back(static_cast<std::uint16_t>(*v & 0xFFFF));
    if (comma == std::string::npos) break;
    rest.erase(0, comma + 1);
  }
  if (cmd.values.size() > host::kMaxWriteRegisters) {
    *error = "at most " + std::to_string(host::kMaxWriteRegisters) + " values fit one write";
    return std::nullopt;
  }
  if (cmd.address + cmd.values.size() - 1 > 0xFFFF) {
    *error = "the values run past register 65535";
    return std::nullopt;
  }
  return cmd;
}

std::optional<IoctlCommand> parse_ioctl_command(const std::string& text, std::string* error) {
  const auto eq = text.find('=');
  const auto code = cli::parse_integer(text.substr(0, eq), -2147483647LL - 1, 2147483647LL);
  if (!code) {
    *error = "command code \"" + text.substr(0, eq) + "\" is not a number";
    return std::nullopt;
  }
  IoctlCommand cmd;
  cmd.code = static_cast<int>(*code);
  if (eq != std::string::npos) cmd.input = text.substr(eq + 1);
  return cmd;
}

IoRequest write_request(const WriteCommand& cmd) {
  IoRequest r;
  r.code = cmd.values.size() == 1 ? kvrm::kWriteRegister : kvrm::kWriteRegisters;
  put_input_word(r.input, cmd.address);
  for (std::uint16_t v : cmd.values) put_input_word(r.input, v);
  return r;
}

Command parse_command(const std::string& raw) {
  Command c;
  const std::string line = trim(raw);
  if (line.empty() || line[0] == '#') return c;
  const auto space = line.find_first_of(" \t");
  const std::string word = line.substr(0, space);
  const std::string rest = space == std::string::npos ? std::string() : trim(line.substr(space + 1));
  auto no_argument = [&](CommandKind kind) {
    if (rest.empty()) {
      c.kind = kind;
    } else {
      c.kind = CommandKind::invalid;
      c.error = "\"" + word + "\" takes no argument";
    }
  };
  if (word == "snapshot") {
    no_argument(CommandKind::snapshot);
  } else if (word == "result") {
    no_argument(CommandKind::result);
  } else if (word == "quit" || word == "exit") {
    no_argument(CommandKind::quit);
  } else if (word == "help") {
    no_argument(CommandKind::help);
  } else if (word == "write") {
    auto cmd = parse_write_command(rest, &c.error);
    c.kind = cmd ? CommandKind::write : CommandKind::invalid;
    if (cmd) c.write = *cmd;
  } else if (word == "ioctl") {
    // The input text is the rest of the line after the code and one blank.
    const std::string after = space == std::string::npos ? std::string() : line.substr(space + 1);
    const auto blank = after.find(' ');
    const auto code = cli::parse_integer(after.substr(0, blank), -2147483647LL - 1, 2147483647LL);
    if (!code) {
      c.kind = CommandKind::invalid;
      c.error = "ioctl needs a command code";
    } else {
      c.kind = CommandKind::ioctl;
      c.ioctl.code = static_cast<int>(*code);
      if (blank != std::string::npos) c.ioctl.input = after.substr(blank + 1);
    }
  } else {
    c.kind = CommandKind::invalid;
    c.error = "unknown command \"" + word + "\" (try help)";
  }
  return c;
}

const char* command_help() {
  return "commands, one per line:\n"
         "  snapshot                   print the snapshot text (command 801)\n"
         "  write ADDR=VALUE[,VALUE]   write registers (206, or 210 for several) and\n"
         "                             print \"control result N\" once the reply is in\n"
         "  result                     print the last write outcome\n"
         "  ioctl CODE [TEXT]          any command code, TEXT as its input\n"
         "  quit                       stop the rounds and exit\n";
}

}  // namespace meter_host
