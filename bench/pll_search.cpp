// PLL search: the plain search against the production search on the same
// frequencies (matched ones and ones without any setting), in one run.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "connect/CY22393.h"
#include "connect/PllSearchReference.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename Search>
double Seconds(const std::vector<std::int32_t>& freqs, int rounds, Search search,
               std::uint64_t& sink) {
  const auto start = Clock::now();
  for (int r = 0; r < rounds; ++r) {
    sink = 0;  // each round sums the same results
    for (std::int32_t f : freqs) {
      int steps = 0;
      const kz::PllResult res = search(f, 50, [&] { ++steps; });
      sink = sink * 31 + static_cast<std::uint64_t>(res.achievedHz) + res.postDivider +
             res.qRegister + res.pLow + res.pllControl + res.prescale + steps;
    }
  }
  return std::chrono::duration<double>(Clock::now() - start).count() / rounds;
}

}  // namespace

int main() {
  // Crystal frequencies and their doubles, low (prescaled) ones and three
  // frequencies without any setting.
  const std::vector<std::int32_t> freqs{20000,    187466,    281184,    500000,   999999,
                                        3579545,  7372800,   11059200,  12000000, 14745600,
                                        22118400, 24000000,  33000000,  40000000, 66000000,
                                        99999999, 100000000, 200000000, 349977,   45678901};
  std::uint64_t sinkRef = 0, sinkFast = 0;
  const double ref = Seconds(freqs, 1, kz::PllSearchReference, sinkRef);
  const double fast = Seconds(freqs, 200, kz::PllSearch, sinkFast);
  std::printf("frequencies: %zu (3 without a setting)\n", freqs.size());
  std::printf("plain search:      %10.3f ms per set\n", ref * 1e3);
  std::printf("production search: %10.3f ms per set\n", fast * 1e3);
  std::printf("ratio:             %10.0f\n", ref / fast);
  std::printf("results %s\n", sinkRef == sinkFast ? "agree" : "DIFFER");
  return sinkRef == sinkFast ? 0 : 1;
}
