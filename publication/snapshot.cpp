#include "publication/snapshot.h"

#include "publication/signal_value.h"

namespace kvrm {

void write_snapshot(Json::Value& snapshot, const unsigned char* block) {
  for (const SignalRow& row : kSignalCatalogue) {
    if (row.decoding == Decoding::Time)
      snapshot[row.name] = Json::Value(update_time_text(block));
    else
      snapshot[row.name] = Json::Value(signal_value(block, row));
  }
}

}  // namespace kvrm
