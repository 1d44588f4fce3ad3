#include "meter_reads.h"

#include "acquisition/data_block.h"
#include "acquisition/read_sequence.h"

namespace commissioning {

ReadResult judge(const meter_host::Exchange& e, const host::Request& request) {
  ReadResult r;
  switch (e.kind) {
    case meter_host::Exchange::Kind::timeout:
      r.kind = ReadResult::Kind::silent;
      r.why = e.why;
      return r;
    case meter_host::Exchange::Kind::lost:
      r.kind = ReadResult::Kind::lost;
      r.why = e.why;
      return r;
    case meter_host::Exchange::Kind::failed:
      // A bad CRC, or a reply that named another slave: something answered,
      // but not so that it could be read.
      r.kind = ReadResult::Kind::garbled;
      r.why = e.why;
      return r;
    case meter_host::Exchange::Kind::reply:
      break;
  }
  const host::ReplyCheck check = host::check_reply(request, e.reply.data(), e.reply.size());
  if (check.verdict == host::ReplyVerdict::exception) {
    r.kind = ReadResult::Kind::exception;
    r.exceptionCode = check.exceptionCode;
    r.why = host::describe(check);
    return r;
  }
  if (!check.is_answer()) {
    r.kind = ReadResult::Kind::garbled;
    r.why = host::describe(check);
    return r;
  }
  r.kind = ReadResult::Kind::data;
  for (unsigned i = 0; i < request.count; ++i) r.registers.push_back(host::word_at(&e.reply[3 + 2 * i]));
  return r;
}

ReadResult read_registers(meter_host::ModbusLine& line, std::uint8_t slave, unsigned start, unsigned count) {
  std::vector<std::uint8_t> frame(host::kMaxFrameSize);
  frame.resize(host::build_read_request(frame.data(), slave, start, count));
  host::Request request;
  request.slave = slave;
  request.function = host::kReadHoldingRegisters;
  request.address = static_cast<std::uint16_t>(start);
  request.count = static_cast<std::uint16_t>(count);
  return judge(line.exchange(frame), request);
}

bool read_round(meter_host::ModbusLine& line, std::uint8_t slave, unsigned char* block, std::string* why) {
  for (const kvrm::ReadStep& step : kvrm::kReadSequence) {
    const ReadResult r = read_registers(line, slave, step.start, step.count);
    if (r.kind != ReadResult::Kind::data) {
      *why = "read " + std::to_string(step.start) + "+" + std::to_string(step.count) + ": " + r.why;
      return false;
    }
    kvrm::store_registers(block, step.offset, r.registers.data(), r.registers.size());
  }
  return true;
}

}  // namespace commissioning
