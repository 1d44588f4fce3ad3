#include "session.h"

#include <cstring>
#include <exception>
#include <thread>

namespace meter_host {

namespace {

// Commands that take over the driver's request state run between two
// replies, never during one; the snapshot commands take the driver's own
// lock and run at any time, as on the real host.
bool takes_over_the_line(int code) { return code != kvrm::kSnapshotText && code != kvrm::kSnapshotAddress; }

constexpr std::size_t kOutputCapacity = 64 * 1024;

}  // namespace

Session::~Session() { stop(); }

bool Session::start(const SessionSetup& setup, std::string* error) {
  if (!plugin_.load(setup.pluginPath, error)) return false;
  device_ = plugin_.create(error);
  if (!device_) return false;
  settings_ = setup.line;
  if (settings_.baud == 0) settings_.baud = device_->baudRate_ > 0 ? static_cast<unsigned>(device_->baudRate_) : 9600;

  if (!setup.historyPath.empty() && !history_.open(setup.historyPath, error)) return false;
  backend_ = std::make_unique<BenchBackend>(log_, history_, setup.dataId, settings_.slave);
  std::string dbError;
  backend_->set_alarm_states(history_.alarm_states(setup.dataId, &dbError));
  if (!dbError.empty()) log_.line(dbError);
  host::set_backend(backend_.get());

  device_->slaveAddress_ = static_cast<std::uint8_t>(settings_.slave);
  try {
    const int rc = device_->Init(controller_, setup.dataId, setup.config);
    log_.detail("device configured, data id " + std::to_string(setup.dataId) + ", result " + std::to_string(rc));
  } catch (const std::exception& e) {
    *error = std::string("the driver refused its configuration: ") + e.what();
    return false;
  }

  if (!line_.open(settings_, error)) return false;
  worker_ = std::make_unique<SerialWorker>(*device_, deviceMutex_, line_, log_);
  backend_->attach(worker_.get());
  load_cache(setup.dataId);
  worker_->start();
  log_.line("polling slave " + std::to_string(settings_.slave) + " on " + settings_.port + " at " +
            std::to_string(settings_.baud) + " baud, parity " + settings_.parity + ", reply time-out " +
            std::to_string(settings_.timeoutMs) + " ms");
  return true;
}

void Session::load_cache(std::uint32_t dataId) {
  std::string error;
  const auto record = history_.newest(dataId, &error);
  if (!error.empty()) log_.line(error);
  if (!record) return;
  bool taken = false;
  backend_->set_loading_cache(true);
  try {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    taken = device_->LoadFromCache(record->block.data(), static_cast<int>(record->block.size()));
  } catch (const std::exception& e) {
    log_.line(std::string("the driver failed on the history record: ") + e.what());
  }
  backend_->set_loading_cache(false);
  if (taken) cacheSecond_ = std::time(nullptr);
  log_.line("history record " + std::to_string(record->id) + " of " + record->savedAt +
            (taken ? " loaded into the driver" : " refused by the driver"));
}

RoundEnd Session::run_round(unsigned round, std::chrono::milliseconds timeout, std::string* why) {
  // The driver publishes one round per second of its clock: a round that
  // completed in the second of the history record loaded at start-up would
  // leave the record's values standing. Start the first one a second later.
  if (cacheSecond_) {
    while (std::time(nullptr) == *cacheSecond_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    cacheSecond_.reset();
  }
  worker_->request_refresh(round);
  return worker_->wait_round(round, Clock::now() + timeout, why);
}

IoctlOutcome Session::call(int code, const void* in, int inLen, std::size_t capacity) {
  IoctlOutcome r;
  r.output.resize(capacity);
  auto invoke = [&] {
    return device_->DeviceIoControl(code, in, inLen, r.output.data(), static_cast<int>(r.output.size()),
                                    r.outLenRet);
  };
  try {
    if (takes_over_the_line(code)) {
      std::lock_guard<std::mutex> lock(deviceMutex_);
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

std::optional<std::string> Session::snapshot(std::string* error) {
  IoctlOutcome r = call(kvrm::kSnapshotText, nullptr, 0, kOutputCapacity);
  if (r.result == -1 && r.outLenRet > static_cast<int>(kOutputCapacity))
    r = call(kvrm::kSnapshotText, nullptr, 0, static_cast<std::size_t>(r.outLenRet));
  if (r.result != 0) {
    *error = "command 801 answered " + std::to_string(r.result);
    return std::nullopt;
  }
  return std::string(r.output.begin(), r.output.end());
}

int Session::write(const WriteCommand& cmd) {
  const IoRequest request = write_request(cmd);
  std::uint64_t before = 0, ticket = 0;
  {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    before = worker_->last_ticket();
    int outLenRet = 0;
    try {
      device_->DeviceIoControl(request.code, request.input.data(), static_cast<int>(request.input.size()), nullptr,
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
  return outcome();
}

int Session::outcome() {
  const IoctlOutcome r = call(kOutcomeCode, nullptr, 0, sizeof(std::int32_t));
  std::int32_t value = -1;
  if (r.outLenRet == static_cast<int>(sizeof value) && r.output.size() == sizeof value)
    std::memcpy(&value, r.output.data(), sizeof value);
  return value;
}

IoctlOutcome Session::ioctl(int code, const std::string& input) {
  IoctlOutcome r = call(code, input.data(), static_cast<int>(input.size()), kOutputCapacity);
  if (r.result == -1 && r.outLenRet > static_cast<int>(kOutputCapacity))
    r = call(code, input.data(), static_cast<int>(input.size()), static_cast<std::size_t>(r.outLenRet));
  return r;
}

void Session::interrupt() {
  if (worker_) worker_->interrupt();
}

void Session::stop() {
  if (worker_) worker_->stop();
  if (backend_) backend_->attach(nullptr);
  host::set_backend(nullptr);
  plugin_.destroy_device();
  device_ = nullptr;
  worker_.reset();
}

}  // namespace meter_host
