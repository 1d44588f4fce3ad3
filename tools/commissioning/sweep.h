#pragma once
// One sweep of a scan: every address asked once for the probe register at
// the speed and parity the line is open at.
#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "meter_reads.h"
#include "modbus_line.h"

namespace commissioning {

struct Sweep {
  std::vector<std::pair<unsigned, ReadResult>> present;  // data or exception, by address
  std::vector<unsigned> garbled;                         // replies that failed the CRC
  std::chrono::steady_clock::duration took{0};
  std::string lost;  // not empty: the port failed and the sweep stopped
};

// `asking(i, n)` is called before address i (counted from 0) is asked,
// n devices having answered so far.
Sweep sweep(meter_host::ModbusLine& line, const std::vector<unsigned>& slaves,
            const std::function<void(std::size_t, std::size_t)>& asking = {});

}  // namespace commissioning
