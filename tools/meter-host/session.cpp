#include "session.h"

#include <cstring>
#include <exception>
#include <thread>

#include "acquisition/data_block.h"
#include "block_time.h"

namespace meter_host {

namespace {

// Commands that take over the driver's request state run between two
// replies, never during one; the snapshot commands take the driver's own
// lock and run at any time, as on the real host.
bool takes_over_the_line(int code) { return code != kvrm::kSnapshotText && code != kvrm::kSnapshotAddress; }

constexpr std::size_t kOutputCapacity = 64 * 1024;

}  // namespace

Session::~Session() { stop(); }

std::string meter_name(std::uint32_t dataId, unsigned slave) {
  return "meter " + std::to_string(dataId) + " (slave " + std::to_string(slave) + ")";
}

std::string Session::name(std::size_t meter) const { return meter_name(data_id(meter), slave(meter)); }

MeterInfo Session::meter_info(std::size_t meter) const {
  return MeterInfo{meter, data_id(meter), slave(meter), name(meter)};
}

bool Session::take_block(std::size_t meter, std::vector<unsigned char>* block, std::time_t* time) {
  if (!at(meter).backend->take_block(block) || block->size() < kvrm::kBlockSize) return false;
  *time = readings::local_epoch(readings::block_time(block->data())).value_or(std::time(nullptr));
  return true;
}

std::optional<std::size_t> Session::find(std::uint32_t dataId) const {
  std::lock_guard<std::mutex> lock(metersMutex_);
  for (std::size_t i = 0; i < meters_.size(); ++i)
    if (meters_[i]->dataId == dataId && !meters_[i]->retired) return i;
  return std::nullopt;
}

bool Session::add_meter(const MeterSetup& setup, bool labelled, hist::HistoryStore* history, SinkChain* sinks,
                        std::string* error) {
  auto m = std::make_unique<Meter>();
  m->dataId = setup.dataId;
  m->slave = setup.slave;
  m->device = plugin_.create(error);
  if (!m->device) return false;
  const MeterInfo info{meters_.size(), setup.dataId, setup.slave, meter_name(setup.dataId, setup.slave)};
  const std::string label = labelled ? info.name + ": " : std::string();
  m->backend = std::make_unique<BenchBackend>(log_, info, label);
  m->backend->set_sinks(sinks);
  if (history) {
    std::string dbError;
    m->backend->set_alarm_states(history->alarm_states(setup.dataId, &dbError));
    if (!dbError.empty()) log_.line(dbError);
  }
  router_.add(m->device, m->backend.get());
  m->station = stats_.add_meter(setup.dataId, setup.slave);

  m->device->slaveAddress_ = static_cast<std::uint8_t>(setup.slave);
  try {
    const int rc = m->device->Init(controller_, setup.dataId, setup.config);
    log_.detail(label + "device configured, data id " + std::to_string(setup.dataId) + ", result " +
                std::to_string(rc));
  } catch (const std::exception& e) {
    *error = label + "the driver refused its configuration: " + e.what();
    return false;
  }
  m->config = setup.config;
  std::lock_guard<std::mutex> lock(metersMutex_);
  meters_.push_back(std::move(m));
  return true;
}

Session::Meter& Session::at(std::size_t meter) const {
  std::lock_guard<std::mutex> lock(metersMutex_);
  return *meters_.at(meter);
}

std::size_t Session::meters() const {
  std::lock_guard<std::mutex> lock(metersMutex_);
  return meters_.size();
}

bool Session::active(std::size_t meter) const { return !at(meter).retired; }

std::string Session::check_config(const MeterSetup& setup) {
  std::string error;
  SPModbus* scratch = plugin_.create(&error);
  if (!scratch) return error;
  scratch->slaveAddress_ = static_cast<std::uint8_t>(setup.slave);
  try {
    scratch->Init(controller_, setup.dataId, setup.config);
  } catch (const std::exception& e) {
    error = meter_name(setup.dataId, setup.slave) + ": the driver refused its configuration: " + e.what();
  }
  plugin_.destroy(scratch);
  return error;
}

std::optional<std::vector<std::string>> Session::reload(const std::vector<MeterSetup>& wanted, hist::HistoryStore* history,
                                                       SinkChain* sinks, std::string* error) {
  auto running = [&](const MeterSetup& w) -> Meter* {
    for (auto& m : meters_)
      if (!m->retired && m->dataId == w.dataId && m->slave == w.slave) return m.get();
    return nullptr;
  };
  // Every new or changed configuration is tried on a scratch driver first:
  // a reload that cannot be applied whole changes nothing.
  for (const MeterSetup& w : wanted) {
    const Meter* m = running(w);
    if (m && m->config == w.config) continue;
    *error = check_config(w);
    if (!error->empty()) return std::nullopt;
  }
  std::vector<std::string> changes;
  const std::size_t before = meters();
  for (std::size_t i = 0; i < before; ++i) {
    Meter& m = at(i);
    if (m.retired) continue;
    bool kept = false;
    for (const MeterSetup& w : wanted) kept = kept || (w.dataId == m.dataId && w.slave == m.slave);
    if (kept) continue;
    // Its round, if one was in flight, has ended: reloads run between rounds.
    std::lock_guard<std::mutex> lock(m.deviceMutex);
    m.retired = true;
    changes.push_back(name(i) + " removed");
  }
  for (const MeterSetup& w : wanted) {
    Meter* m = running(w);
    if (!m) {
      const bool labelled = meters() > 0;
      if (!add_meter(w, labelled, history, sinks, error)) return std::nullopt;
      const std::size_t i = meters() - 1;
      Meter& added = at(i);
      added.station = worker_->add_station(*added.device, added.deviceMutex, name(i) + ": ");
      added.backend->attach(worker_.get(), added.station);
      if (history) load_cache(added, *history);
      changes.push_back(name(i) + " added");
    } else if (!(m->config == w.config)) {
      std::lock_guard<std::mutex> lock(m->deviceMutex);
      m->device->InitSetting(w.config);
      m->config = w.config;
      changes.push_back(meter_name(m->dataId, m->slave) + " reconfigured");
    }
  }
  return changes;
}

bool Session::start(const SessionSetup& setup, std::string* error) {
  if (!plugin_.load(setup.pluginPath, error)) return false;
  host::set_backend(&router_);

  std::vector<MeterSetup> meters = setup.meters;
  if (meters.empty()) meters.push_back(MeterSetup{setup.line.slave, setup.dataId, setup.config});
  for (const MeterSetup& m : meters)
    if (!add_meter(m, meters.size() > 1, setup.history, setup.sinks, error)) return false;

  SPModbus& first = *meters_.front()->device;
  settings_ = setup.line;
  publishEveryRound_ = setup.publishEveryRound;
  if (settings_.baud == 0) settings_.baud = first.baudRate_ > 0 ? static_cast<unsigned>(first.baudRate_) : 9600;
  if (!line_.open(settings_, error)) return false;
  stats_.start(settings_.port, settings_.baud, settings_.parity != 'N');
  worker_ = std::make_unique<SerialWorker>(line_, log_, stats_);
  for (std::size_t i = 0; i < meters_.size(); ++i) {
    Meter& m = *meters_[i];
    m.station = worker_->add_station(*m.device, m.deviceMutex, meters_.size() > 1 ? name(i) + ": " : std::string());
    m.backend->attach(worker_.get(), m.station);
  }
  if (setup.history)
    for (auto& m : meters_) load_cache(*m, *setup.history);
  worker_->start();
  std::string slaves;
  for (const auto& m : meters_) slaves += (slaves.empty() ? "" : ", ") + std::to_string(m->slave);
  log_.line(std::string(meters_.size() > 1 ? "polling slaves " : "polling slave ") + slaves + " on " +
            settings_.port + " at " + std::to_string(settings_.baud) + " baud, parity " + settings_.parity +
            ", reply time-out " + std::to_string(settings_.timeoutMs) + " ms");
  return true;
}

void Session::load_cache(Meter& m, hist::HistoryStore& history) {
  std::string error;
  const auto record = history.newest(m.dataId, &error);
  if (!error.empty()) log_.line(error);
  if (!record) return;
  bool taken = false;
  m.backend->set_loading_cache(true);
  try {
    std::lock_guard<std::mutex> lock(m.deviceMutex);
    taken = m.device->LoadFromCache(record->block.data(), static_cast<int>(record->block.size()));
  } catch (const std::exception& e) {
    log_.line(std::string("the driver failed on the history record: ") + e.what());
  }
  m.backend->set_loading_cache(false);
  if (taken) m.heldSecond = std::time(nullptr);
  log_.line((meters_.size() > 1 ? "meter " + std::to_string(m.dataId) + ": " : std::string()) + "history record " +
            std::to_string(record->id) + " of " + hist::local_time_text(record->time) +
            (taken ? " loaded into the driver" : " refused by the driver"));
}

RoundEnd Session::run_round(unsigned round, std::chrono::milliseconds timeout, std::string* why, std::size_t meter) {
  Meter& m = at(meter);
  // The driver publishes one round per second of its clock: a round that
  // completed in the second of the history record loaded at start-up (or
  // of the previous round) would leave the older values standing. Start it
  // once that second has passed.
  if (m.heldSecond) {
    while (std::time(nullptr) == *m.heldSecond) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    m.heldSecond.reset();
  }
  worker_->request_refresh(m.station, round);
  const RoundEnd end = worker_->wait_round(m.station, round, Clock::now() + timeout, why);
  // Read after the completion: the driver's stamp is this second or an
  // earlier one.
  if (end == RoundEnd::completed && publishEveryRound_) m.heldSecond = std::time(nullptr);
  return end;
}

std::optional<bool> Session::wait_line(Clock::time_point until) { return worker_->wait_line(until); }

IoctlOutcome Session::call(Meter& m, int code, const void* in, int inLen, std::size_t capacity) {
  IoctlOutcome r;
  r.output.resize(capacity);
  auto invoke = [&] {
    return m.device->DeviceIoControl(code, in, inLen, r.output.data(), static_cast<int>(r.output.size()),
                                     r.outLenRet);
  };
  try {
    if (takes_over_the_line(code)) {
      std::lock_guard<std::mutex> lock(m.deviceMutex);
      r.result = invoke();
    } else {
      r.result = invoke();
    }
  } catch (const std::exception& e) {
    log_.line("command " + std::to_string(code) + " failed in the driver: " + e.what());
    r.result = -1;
    r.outLenRet = 0;
  }
  const auto used = static_cast<std::size_t>(r.outLenRet > 0 ? r.outLenRet : 0);
  r.output.resize(used < r.output.size() ? used : r.output.size());
  return r;
}

std::optional<std::string> Session::snapshot(std::string* error, std::size_t meter) {
  Meter& m = at(meter);
  IoctlOutcome r = call(m, kvrm::kSnapshotText, nullptr, 0, kOutputCapacity);
  if (r.result == -1 && r.outLenRet > static_cast<int>(kOutputCapacity))
    r = call(m, kvrm::kSnapshotText, nullptr, 0, static_cast<std::size_t>(r.outLenRet));
  if (r.result != 0) {
    *error = "command 801 answered " + std::to_string(r.result);
    return std::nullopt;
  }
  return std::string(r.output.begin(), r.output.end());
}

int Session::write(const WriteCommand& cmd, std::size_t meter) {
  Meter& m = at(meter);
  const IoRequest request = write_request(cmd);
  std::uint64_t before = 0, ticket = 0;
  {
    std::lock_guard<std::mutex> lock(m.deviceMutex);
    before = worker_->last_ticket();
    int outLenRet = 0;
    try {
      m.device->DeviceIoControl(request.code, request.input.data(), static_cast<int>(request.input.size()), nullptr,
                                0, outLenRet);
    } catch (const std::exception& e) {
      log_.line(std::string("the write failed in the driver: ") + e.what());
    }
    ticket = worker_->last_ticket();
  }
  if (ticket == before) {
    log_.line("the driver sent no write request");
  } else {
    // The exchange in flight, then the write's own: each within a time-out.
    const auto deadline = Clock::now() + std::chrono::milliseconds(2 * settings_.timeoutMs + 1000);
    if (!worker_->wait_ticket(ticket, deadline)) log_.line("the write is still waiting for the line");
  }
  return outcome(meter);
}

int Session::outcome(std::size_t meter) {
  const IoctlOutcome r = call(at(meter), kOutcomeCode, nullptr, 0, sizeof(std::int32_t));
  std::int32_t value = -1;
  if (r.outLenRet == static_cast<int>(sizeof value) && r.output.size() == sizeof value)
    std::memcpy(&value, r.output.data(), sizeof value);
  return value;
}

IoctlOutcome Session::ioctl(int code, const std::string& input, std::size_t meter) {
  Meter& m = at(meter);
  IoctlOutcome r = call(m, code, input.data(), static_cast<int>(input.size()), kOutputCapacity);
  if (r.result == -1 && r.outLenRet > static_cast<int>(kOutputCapacity))
    r = call(m, code, input.data(), static_cast<int>(input.size()), static_cast<std::size_t>(r.outLenRet));
  return r;
}

void Session::interrupt() {
  if (worker_) worker_->interrupt();
}

void Session::stop() {
  if (worker_) worker_->stop();
  for (auto& m : meters_) {
    m->backend->attach(nullptr);
    m->backend->set_sinks(nullptr);
  }
  host::set_backend(nullptr);
  plugin_.destroy_devices();
  for (auto& m : meters_) m->device = nullptr;
  worker_.reset();
}

}  // namespace meter_host
