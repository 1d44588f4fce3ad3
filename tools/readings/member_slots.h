#pragma once
// A value written into a member's slots as the meter would hold it: the
// inverse of the catalogue's decoding. For simulated histories, never for
// what a meter sent.
#include "publication/signal_catalogue.h"

namespace readings {

void put_member(unsigned char* block, const kvrm::SignalRow& row, double value);

}  // namespace readings
