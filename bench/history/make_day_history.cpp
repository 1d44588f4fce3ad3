// Writes a simulated day of history for meter-history to read:
//   make_day_history DB [DATA_ID]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "day_history.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: make_day_history DB [DATA_ID]\n");
    return 2;
  }
  day_history::DaySpec plan;
  if (argc == 3) plan.dataId = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10));
  std::string error;
  if (!day_history::write_day(argv[1], plan, &error)) {
    std::fprintf(stderr, "make_day_history: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
