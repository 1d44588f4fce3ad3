#pragma once
// The command codes that the driver handles itself, and the write outcomes
// that the host reads back with any other code.

namespace kvrm {

constexpr int kWriteRegister = 206;    // one holding register
constexpr int kWriteRegisters = 210;   // a run of consecutive holding registers
constexpr int kSignalCommand = 310;    // checked as JSON, then the host's
constexpr int kModeSignalCommand = 320;  // as 310, checked only outside point-file mode
constexpr int kSnapshotText = 801;     // the snapshot as compact JSON text
constexpr int kSnapshotAddress = 803;  // the snapshot by reference

constexpr int kOutcomeNone = -1;  // no write yet, or its reply still awaited
constexpr int kOutcomeConfirmed = 1;
constexpr int kOutcomeNotConfirmed = 3;

}  // namespace kvrm
