#pragma once
// The pieces of a scan that are plain values: the addresses and settings
// to try, what a probe found, the lines of the result and the site file.
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <json/value.h>

namespace commissioning {

// "1-247", "5", "1-10,20,30-32": slave addresses 1..247 in the order
// given, each once; nothing (and *error says why) for anything else.
std::optional<std::vector<unsigned>> parse_slaves(const std::string& text, std::string* error);

// A line setting to try: speed and parity, 8 data bits, 1 stop bit.
struct Combination {
  unsigned baud = 9600;
  char parity = 'N';
};
std::string describe(const Combination& c);  // "9600 8N1"

// The combinations in the order they are tried: each speed with every
// parity, in the order given.
std::vector<Combination> combinations(const std::vector<unsigned>& bauds, const std::vector<char>& parities);

// A device that answered the probe.
struct Found {
  unsigned slave = 0;
  Combination at;
  std::optional<double> frequency;  // Hz, when it sent the register
  bool kvrm = false;                // every read of a round came back and the frequency is plausible
  std::string why;                  // why it is not a KVRM4410T
};

// Whether a frequency is one a meter on a grid shows.
bool plausible_frequency(double hz);

// "slave 3 at 9600 8N1: KVRM4410T" or "...: answers, not a KVRM4410T (why)".
std::string found_line(const Found& f);

// Addresses that sent replies which failed the CRC, each with the
// combinations where they did.
using Garbled = std::map<unsigned, std::vector<Combination>>;
std::string garbled_line(unsigned slave, const std::vector<Combination>& where);

// The site file for the combination with the most KVRM4410T meters (the
// first such), or null when there is none.
Json::Value site_file(const std::string& port, const std::vector<Found>& found);
// Its text, laid out for a person to edit: the line on one line, a meter
// per line.
std::string site_text(const Json::Value& site);

// The physical least of one combination's sweep: per address the request's
// wire time and the reply time-out.
std::chrono::nanoseconds sweep_limit(std::size_t addresses, const Combination& c, std::chrono::milliseconds timeout);

// The progress bar: "[####......] 19200 8E1 (2/18) · address 57/247 ·
// found 2 · 1 min 12 s left", `width` characters of bar.
struct Progress {
  std::size_t combination = 0, combinations = 1;  // counted from 0
  Combination at;
  std::size_t address = 0, addresses = 1;  // addresses of this combination done
  unsigned slave = 0;                      // the address being asked
  std::size_t found = 0;
  std::chrono::seconds left{0};
};
std::string progress_text(const Progress& p, std::size_t width);
std::string duration_text(std::chrono::seconds s);  // "1 min 12 s", "8 s"

}  // namespace commissioning
