#pragma once
// The history file's layout: what a file is before anything is written to
// it, the tables of the current layout, and the move of a file of the
// first layout (one table of blocks and one of alarms, no version) to it.
#include <cstdint>
#include <string>

#include <sqlite3.h>

namespace hist {

// "KVHS" in the file's header: a file of ours, whatever its version.
constexpr std::int32_t kApplicationId = 0x4B564853;
// 1: blocks deflated, a time per record, the minute and hour tiers.
// 2: the telemetry outbox and its counters.
constexpr int kLayoutVersion = 2;

enum class FileKind {
  empty,    // no table yet: a new history
  first,    // written before the layout had a version: moved on first open
  current,  // this layout, or an earlier one with a version (moved on open)
  newer,    // a later layout: refused
  foreign,  // not a history
};

struct FileLayout {
  FileKind kind = FileKind::foreign;
  int version = 0;
  std::string why;  // for foreign and newer files: what it is
};

// Reads the file's header and table list, writes nothing. False when
// SQLite cannot read it at all (then *error says why).
bool probe_layout(sqlite3* db, FileLayout* layout, std::string* error);

// The refusal line for a newer or foreign file.
std::string refusal(const std::string& path, const FileLayout& layout);

// The tables and the version of the current layout, in a new file.
bool create_layout(sqlite3* db, std::string* error);

// Adds what later layouts added to a file of an earlier version, in the
// transaction the caller holds.
bool upgrade_layout(sqlite3* db, int version, std::string* error);

// Moves the records of the first layout into the current tables, deflating
// their blocks, in the transaction the caller holds. The tiers are filled
// afterwards from the moved records.
bool move_first_layout(sqlite3* db, std::string* error);

}  // namespace hist
