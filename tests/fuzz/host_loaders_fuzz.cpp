// The bench host's loaders, each fed the input as a file: the first byte
// chooses a configuration (with its line settings, site and check), a
// simulator register image, history database rows (read back by the bench
// host and by meter-history, decoded and exported), or a time text as
// meter-history's --from and --to take it. A loader may refuse its input;
// it must say why, and never crash.
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <json/value.h>

#include "block_time.h"
#include "config_check.h"
#include "fuzz_input.h"
#include "history_store.h"
#include "history_export.h"
#include "history_reader.h"
#include "history_rows.h"
#include "host_options.h"
#include "line_settings.h"
#include "register_image.h"
#include "site.h"

namespace {

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

void refused_with_reason(bool ok, const std::string& error) {
  if (!ok && error.empty()) std::abort();
}

void configuration(const std::string& bytes) {
  write_file("config.json", bytes);
  Json::Value config;
  std::string error;
  const bool read = meter_host::read_config("config.json", &config, &error);
  refused_with_reason(read, error);
  if (!read) return;
  meter_host::LineSettings line;
  error.clear();
  refused_with_reason(meter_host::resolve_line_settings(meter_host::HostOptions{}, config, 9600, &line, &error,
                                                        config.get("line", Json::Value())),
                      error);
  meter_host::Site site;
  error.clear();
  refused_with_reason(meter_host::site_from_json(config, &site, &error), error);
  readings::check_settings(config);
  readings::effective_mode(config);
}

void register_image(const std::string& bytes) {
  write_file("image.json", bytes);
  std::string error;
  const auto values = meter_sim::read_image_file("image.json", &error);
  if (!error.empty()) return;
  meter_sim::RegisterImage image;
  for (const auto& [reg, value] : values) image.set(reg, value);
}

// The tables as the bench host wrote them before its history had a layout
// version.
bool first_layout() {
  sqlite3* db = nullptr;
  const bool ok = sqlite3_open("history.db", &db) == SQLITE_OK &&
                  sqlite3_exec(db,
                               "CREATE TABLE records (id INTEGER PRIMARY KEY AUTOINCREMENT, data_id INTEGER NOT NULL,"
                               " saved_at TEXT NOT NULL, block BLOB NOT NULL);"
                               "CREATE TABLE alarms (id INTEGER PRIMARY KEY AUTOINCREMENT, data_id INTEGER NOT NULL,"
                               " saved_at TEXT NOT NULL, alarm_id TEXT NOT NULL, signal TEXT NOT NULL,"
                               " level INTEGER NOT NULL, state TEXT NOT NULL, value TEXT NOT NULL, text TEXT NOT NULL);",
                               nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

// Rows as the bench host stored them, their fields from the input: the
// data id, the time saved and a block of any length (mostly a whole one).
bool store_rows(kvfuzz::Input& in) {
  sqlite3* db = nullptr;
  if (sqlite3_open("history.db", &db) != SQLITE_OK) {
    sqlite3_close(db);
    return false;
  }
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO records (data_id, saved_at, block) VALUES (?, ?, ?)", -1, &insert, nullptr);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  for (int row = 0; row < 8 && !in.empty(); ++row) {
    const std::uint8_t shape = in.byte();
    const std::string savedAt = in.bytes(shape % 24);
    const std::size_t length = shape & 0x80 ? in.word() % 2048 : 915;
    const std::string block = in.bytes(length);
    sqlite3_bind_int64(insert, 1, shape & 0x40 ? static_cast<std::int32_t>(in.u32()) : 1 + shape % 3);
    sqlite3_bind_text(insert, 2, savedAt.data(), static_cast<int>(savedAt.size()), SQLITE_TRANSIENT);
    sqlite3_bind_blob(insert, 3, block.data(), static_cast<int>(block.size()), SQLITE_TRANSIENT);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_finalize(insert);
  sqlite3_close(db);
  return true;
}

void history_rows(kvfuzz::Input& in) {
  for (const char* file : {"history.db", "history.db-wal", "history.db-shm"}) std::filesystem::remove(file);
  std::string error;
  if (!first_layout() || !store_rows(in)) return;

  // The first layout is moved to the current one as the bench host opens it.
  hist::HistoryStore history;
  if (!history.open("history.db", &error)) return;
  for (std::uint32_t id = 1; id <= 3; ++id) {
    history.newest(id, &error);
    history.records(id, &error);
  }

  meter_history::HistoryReader reader;
  refused_with_reason(reader.open("history.db", &error), error);
  meter_history::Selection selection;
  selection.signals = meter_history::all_numeric_signals();
  std::string text = meter_history::csv_header(selection.signals);
  meter_history::ReadCounts counts;
  meter_history::read_rows(
      reader, selection,
      [&](const meter_history::HistoryRow& row) {
        meter_history::append_csv_row(text, row);
        meter_history::append_line(text, row, selection.signals);
        readings::local_epoch(row.time);
        readings::iso_text(row.time);
      },
      &counts, &error);
}

void time_text(const std::string& bytes) {
  if (const auto t = readings::parse_time_text(bytes)) {
    readings::iso_text(*t, ' ');
    readings::local_epoch(*t);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvfuzz::work_dir();
  kvfuzz::Input in(data, size);
  switch (in.byte() % 4) {
    case 0:
      configuration(in.rest());
      break;
    case 1:
      register_image(in.rest());
      break;
    case 2:
      history_rows(in);
      break;
    default:
      time_text(in.rest());
      break;
  }
  return 0;
}
