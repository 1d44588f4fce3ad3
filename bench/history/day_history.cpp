#include "day_history.h"

#include <array>
#include <cmath>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <ctime>

#include "acquisition/data_block.h"
#include "history_store.h"
#include "member_slots.h"
#include "publication/signal_catalogue.h"

namespace day_history {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr float kRatio = 40.0f;  // the transformer ratio of the ratio-scaled energies

// Rows by name, found once: a year of rounds is made through here.
const kvrm::SignalRow* row_named(const char* name) {
  static const auto rows = [] {
    std::unordered_map<std::string_view, const kvrm::SignalRow*> m;
    for (const kvrm::SignalRow& row : kvrm::kSignalCatalogue) m.emplace(row.name, &row);
    return m;
  }();
  const auto found = rows.find(name);
  return found == rows.end() ? nullptr : found->second;
}

// Writes a value as the meter would hold it at a member's slots: the
// inverse of the catalogue's decoding.
void put(unsigned char* block, const char* name, double value) {
  if (const kvrm::SignalRow* found = row_named(name)) readings::put_member(block, *found, value);
}

// Deterministic noise in [-1, 1].
double noise(unsigned n, unsigned salt) {
  std::uint32_t x = n * 2654435761u ^ (salt * 40503u + 0x9E3779B9u);
  x ^= x >> 15;
  x *= 0x2C1B3C6Du;
  x ^= x >> 12;
  return static_cast<double>(x % 20001u) / 10000.0 - 1.0;
}

// Share of the full load at an hour of the day.
double load(double hour) {
  const auto bump = [hour](double at, double width) { return std::exp(-std::pow((hour - at) / width, 2)); };
  return 0.3 + 0.45 * bump(10.0, 2.5) + 0.6 * bump(19.0, 2.0);
}

// The tariff of an hour: 1 sharp, 2 peak, 3 flat, 4 valley, 5 deep valley.
int tariff(double hour) {
  if (hour >= 19 && hour < 21) return 1;
  if ((hour >= 8 && hour < 11) || (hour >= 17 && hour < 19) || (hour >= 21 && hour < 22)) return 2;
  if ((hour >= 7 && hour < 8) || (hour >= 11 && hour < 17) || (hour >= 22 && hour < 23)) return 3;
  if (hour >= 2 && hour < 5) return 5;
  return 4;
}

const char* const kTariffWords[6] = {"总", "尖", "峰", "平", "谷", "深谷"};
const char* const kPhases[3] = {"A", "B", "C"};

}  // namespace

void make_block(unsigned char* block, const DaySpec& plan, unsigned n, double* energy) {
  std::memset(block, 0, kvrm::kBlockSize);
  std::memcpy(block, &plan.dataId, sizeof plan.dataId);
  const double seconds = n * kRoundSeconds;
  const double hour = seconds / 3600.0;
  const double l = load(hour);

  double totalP = 0, totalQ = 0, totalS = 0, sumV = 0, sumI = 0;
  double phaseV[3];
  for (int p = 0; p < 3; ++p) {
    const double v = 231.5 - 7.0 * l + 0.8 * std::sin(2 * kPi * hour / 24 + p) + 0.1 * noise(n, 10 + p);
    const double i = 32.0 * l * (1.0 + 0.08 * (p - 1)) * (1.0 + 0.03 * noise(n, 20 + p));
    const double pf = 0.93 + 0.05 * l + 0.005 * noise(n, 30 + p);
    const double s = v * i / 1000.0;
    const double pw = s * pf;
    const double q = s * std::sqrt(1 - pf * pf);
    const std::string ph = kPhases[p];
    put(block, (ph + "相电压").c_str(), v);
    put(block, (ph + "相电流").c_str(), i);
    put(block, (ph + "相有功总功率").c_str(), pw);
    put(block, (ph + "相无功总功率").c_str(), q);
    put(block, (ph + "相视在功率").c_str(), s);
    put(block, (ph + "相功率因数").c_str(), pf);
    put(block, (ph + "相相角").c_str(), std::acos(pf) * 180.0 / kPi);
    phaseV[p] = v;
    totalP += pw;
    totalQ += q;
    totalS += s;
    sumV += v;
    sumI += i;
  }
  double sumLine = 0;
  for (int p = 0; p < 3; ++p) {
    const double line = std::sqrt(phaseV[p] * phaseV[p] + phaseV[(p + 1) % 3] * phaseV[(p + 1) % 3] +
                                  phaseV[p] * phaseV[(p + 1) % 3]);
    put(block, (std::string(kPhases[p]) + "相线电压").c_str(), line);
    sumLine += line;
  }
  put(block, "有功总功率", totalP);
  put(block, "无功总功率", totalQ);
  put(block, "总视在功率", totalS);
  put(block, "总功率因数", totalP / totalS);
  put(block, "电网频率", 50.0 + 0.03 * std::sin(2 * kPi * hour / 3.7) + 0.01 * noise(n, 40));
  put(block, "三相平均线电压", sumLine / 3);
  put(block, "三相平均相电压", sumV / 3);
  put(block, "三相平均电流", sumI / 3);

  // Energy: the total counter integrates the active power, and so does the
  // counter of the tariff in force; the other groups follow in fixed
  // proportions.
  energy[0] += totalP * kRoundSeconds / 3600.0;
  energy[tariff(hour)] += totalP * kRoundSeconds / 3600.0;
  static const std::array<std::pair<const char*, double>, 11> kGroups{{{"组合有功", 1.0},
                                                                      {"正向有功", 1.0},
                                                                      {"反向有功", 0.01},
                                                                      {"组合无功1", 0.3},
                                                                      {"组合无功2", 0.05},
                                                                      {"一象限无功", 0.28},
                                                                      {"二象限无功", 0.01},
                                                                      {"三象限无功", 0.01},
                                                                      {"四象限无功", 0.04},
                                                                      {"正向视在", 1.05},
                                                                      {"反向视在", 0.01}}};
  static const char* const kQuadrantDigits[4] = {"1", "2", "3", "4"};
  for (std::size_t g = 0; g < kGroups.size(); ++g) {
    for (int t = 0; t < 6; ++t) {
      const double e = (12000.0 + energy[t == 0 ? 0 : t]) * kGroups[g].second * (t == 0 ? 1.0 : 0.2);
      const std::string word = kGroups[g].first;
      // The deep valley of the quadrant groups is named with an ASCII digit
      // outside the 0.001 variant.
      const bool quadrant = g >= 5 && g <= 8;
      const std::string plainWord = quadrant && t == 5 ? kQuadrantDigits[g - 5] + std::string("象限无功") : word;
      put(block, (plainWord + kTariffWords[t] + "电能").c_str(), e);
      put(block, (word + kTariffWords[t] + "电能（0.001）").c_str(), e);
      put(block, (plainWord + kTariffWords[t] + "电能（乘变比）").c_str(), e * kRatio);
    }
  }

  const unsigned whole = static_cast<unsigned>(seconds);
  const std::uint16_t year = static_cast<std::uint16_t>(plan.year);
  std::memcpy(block + kvrm::kTimeOffset, &year, sizeof year);
  block[kvrm::kTimeOffset + 2] = static_cast<unsigned char>(plan.month);
  block[kvrm::kTimeOffset + 3] = static_cast<unsigned char>(plan.day);
  block[kvrm::kTimeOffset + 4] = static_cast<unsigned char>(whole / 3600);
  block[kvrm::kTimeOffset + 5] = static_cast<unsigned char>(whole / 60 % 60);
  block[kvrm::kTimeOffset + 6] = static_cast<unsigned char>(whole % 60);
}

bool write_day(const std::string& path, const DaySpec& plan, std::string* error) {
  hist::HistoryStore store;
  if (!store.open(path, error)) return false;
  // Stored as the bench host stores them: their tiers with them.
  std::tm midnight{};
  midnight.tm_year = plan.year - 1900;
  midnight.tm_mon = plan.month - 1;
  midnight.tm_mday = plan.day;
  midnight.tm_isdst = -1;
  const std::int64_t t0 = std::mktime(&midnight);
  double energy[6] = {0, 0, 0, 0, 0, 0};
  hist::Batch batch;
  for (unsigned n = 0; n < plan.rounds; ++n) {
    hist::StoredRound r{plan.dataId, t0 + static_cast<std::int64_t>(n * kRoundSeconds),
                           std::vector<unsigned char>(kvrm::kBlockSize)};
    make_block(r.block.data(), plan, n, energy);
    batch.rounds.push_back(std::move(r));
    if (batch.rounds.size() == 4096 || n + 1 == plan.rounds) {
      if (!store.commit(batch, error)) return false;
      batch = {};
    }
  }
  if (!store.write_open_periods(error)) return false;
  return true;
}

}  // namespace day_history
