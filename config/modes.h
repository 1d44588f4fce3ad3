#pragma once
// The operating modes, the values of b_mode_. The mode decides what
// configuration loading reads, which alarm work a round does and whether
// command 320 is parsed; any other value loads and checks nothing.
namespace kvrm {

constexpr int kPointFileMode = 1;  // the point file's signals, through the host's services; the default
constexpr int kListingMode = 3;    // "thresholdSetting" listed; no alarm work
constexpr int kThresholdMode = 5;  // "thresholdSetting" limits, through the driver's own passes

}  // namespace kvrm
