#pragma once
// The tools' command lines through CLI11, with the same conventions in
// every tool: --opt value and --opt=value, whole numbers in decimal or
// 0x-hexadecimal (never octal), --help, --version, and the exit statuses
// 0 done, 1 failure, 2 bad usage.
#include <algorithm>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "whole_number.h"

namespace cli {

constexpr int kDone = 0;
constexpr int kFailure = 1;
constexpr int kBadUsage = 2;

// Line speeds a serial port is set to.
inline const std::vector<unsigned>& standard_bauds() {
  static const std::vector<unsigned> bauds{1200,  2400,   4800,   9600,   19200,  38400,
                                           57600, 115200, 230400, 460800, 921600};
  return bauds;
}

// Text that parse_integer reads, in [min, max].
inline CLI::Validator whole(long long min, long long max) {
  return CLI::Validator(
      [min, max](std::string& text) -> std::string {
        if (parse_integer(text, min, max)) return {};
        return "expected a whole number from " + std::to_string(min) + " to " + std::to_string(max) + ", got \"" +
               text + "\"";
      },
      "");
}

// One of a few texts or numbers, without a list in the option's column
// of the help (its text names them).
template <typename T>
CLI::Validator one_of(T&& choices) {
  return CLI::IsMember(std::forward<T>(choices)).description("");
}

// Non-negative seconds, fractions allowed, at most `max`.
inline CLI::Validator seconds(double max) {
  return CLI::Validator(
      [max](std::string& text) -> std::string {
        char* end = nullptr;
        const double v = text.empty() || text[0] == ' ' || text[0] == '+' ? -1 : std::strtod(text.c_str(), &end);
        if (end && *end == '\0' && v >= 0.0 && v <= max) return {};
        return "expected seconds from 0 to " + std::to_string(static_cast<long long>(max)) + ", got \"" + text +
               "\"";
      },
      "");
}

// A number as the help and the messages show it: no trailing zeros.
inline std::string number_text(double v) {
  std::string text = std::to_string(v);
  text.erase(text.find_last_not_of('0') + 1);
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

// "a number from MIN to MAX", for the messages of a site file's members too.
inline std::string number_range(double min, double max) {
  return "a number from " + number_text(min) + " to " + number_text(max);
}

// A decimal-number option in [min, max], fractions allowed; `set`
// receives the value.
template <typename Set>
CLI::Option* add_number(CLI::App& app, const std::string& name, Set set, double min, double max,
                        const std::string& help) {
  return app.add_option_function<std::string>(name, [set](const std::string& text) { set(std::stod(text)); }, help)
      ->check(CLI::Validator(
          [min, max](std::string& text) -> std::string {
            char* end = nullptr;
            const double v = text.empty() || text[0] == ' ' || text[0] == '+' ? -1 : std::strtod(text.c_str(), &end);
            if (end && *end == '\0' && v >= min && v <= max) return {};
            return "expected " + number_range(min, max) + ", got \"" + text + "\"";
          },
          ""));
}

// A whole-number option read as parse_integer reads it (CLI11's own
// conversion would take "010" for eight); `set` receives the value.
template <typename Set>
CLI::Option* add_whole(CLI::App& app, const std::string& name, Set set, long long min, long long max,
                       const std::string& help) {
  return app
      .add_option_function<std::string>(
          name, [set, min, max](const std::string& text) { set(*parse_integer(text, min, max)); }, help)
      ->check(whole(min, max))
      ->type_name("N");
}

// Help lines show an option's value name only; the text says the rest.
class Formatter : public CLI::Formatter {
public:
  std::string make_option_opts(const CLI::Option* opt) const override {
    return opt->get_type_size() != 0 && !opt->get_type_name().empty() ? " " + opt->get_type_name() : std::string();
  }
};

// A parser with the conventions of every tool.
inline void set_up(CLI::App& app, const std::string& tool, std::size_t column) {
  auto formatter = std::make_shared<Formatter>();
  formatter->column_width(column);
  app.formatter(formatter);
  app.set_version_flag("--version", tool + " " + KV_VERSION);
}

// What a parse leaves: go on, or print `text` and end with `status`.
struct Outcome {
  bool proceed = true;
  int status = kDone;
  std::string text;  // the help or version text, or what was wrong
};

inline Outcome parse(CLI::App& app, std::vector<std::string> args) {
  std::reverse(args.begin(), args.end());  // CLI11 takes them last first
  try {
    app.parse(args);
    return {};
  } catch (const CLI::CallForHelp&) {
    return {false, kDone, app.help()};
  } catch (const CLI::CallForVersion& e) {
    return {false, kDone, std::string(e.what()) + "\n"};
  } catch (const CLI::ParseError& e) {
    return {false, kBadUsage, e.what()};
  }
}

}  // namespace cli
