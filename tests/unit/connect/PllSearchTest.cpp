// The production PLL search against the plain search: same six outputs and the
// same progress steps. The plain search costs up to a second per frequency, so
// it runs directly on a few dozen frequencies; the wide comparison uses a
// batched transcription of it (checked against it here) that walks the same
// (N, P, Q) order once per tolerance level for many frequencies together.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "connect/CY22393.h"
#include "connect/PllSearchReference.h"

namespace kz {
namespace {

struct Outcome {
  PllResult result;
  int steps = 0;
};

Outcome RunFast(std::int32_t f, std::uint8_t t = 50) {
  Outcome o;
  o.result = PllSearch(f, t, [&] { ++o.steps; });
  return o;
}

Outcome RunReference(std::int32_t f, std::uint8_t t = 50) {
  Outcome o;
  o.result = PllSearchReference(f, t, [&] { ++o.steps; });
  return o;
}

// Progress steps the plain search emits before returning from level `level`
// at post divider n (N = 120, 112, ... down to n each step once).
int StepsUpTo(int level, int n) {
  int inRow = 0;
  for (int k = kPllMaxN; k >= n; --k)
    if (k % 8 == 0) ++inRow;
  return level * kPllStepsPerLevel + inRow;
}

// The plain search for many frequencies at once: per tolerance level one walk
// over N = 127..1, P = 51..1500, Q = Qmin..Qmax computing the value exactly as
// the plain search does; a value goes to every frequency of the batch that is
// still unmatched and whose window holds it. The first value a frequency gets
// is the one the plain search would return for it.
std::vector<Outcome> BatchReference(const std::vector<std::int32_t>& freqs, std::uint8_t t) {
  struct Job {
    std::int32_t target, step, limit, allowed;
    std::uint8_t prescale;
    std::size_t index;
    bool matched;
  };
  std::vector<Outcome> out(freqs.size());
  std::vector<Job> pending;
  for (std::size_t i = 0; i < freqs.size(); ++i) {
    std::int32_t f = freqs[i];
    if (f < 10000) continue;
    std::uint8_t prescale = 0;
    if (f < 1000000) {
      f *= 128;
      prescale = 1;
    }
    pending.push_back({f / 8, f / 1000000, (f / 1000000) * t, 0, prescale, i, false});
  }
  std::sort(pending.begin(), pending.end(),
            [](const Job& a, const Job& b) { return a.target < b.target; });

  constexpr std::int64_t kBits = std::int64_t{1} << 26;  // values stay below 50e6
  std::vector<std::uint64_t> window(kBits / 64);
  for (int level = 0; !pending.empty(); ++level) {
    std::vector<Job> active;
    for (const Job& j : pending) {
      if (static_cast<std::int64_t>(level) * j.step <= j.limit) {
        active.push_back(j);
        active.back().allowed = (level * j.step) / 8;
      } else {
        out[j.index].steps = level * kPllStepsPerLevel;  // no match
      }
    }
    if (active.empty()) break;
    std::fill(window.begin(), window.end(), 0);
    std::int32_t maxAllowed = 0;
    for (const Job& j : active) {
      maxAllowed = std::max(maxAllowed, j.allowed);
      for (std::int64_t v = std::max<std::int64_t>(0, j.target - j.allowed);
           v <= j.target + j.allowed && v < kBits; ++v)
        window[v >> 6] |= std::uint64_t{1} << (v & 63);
    }
    std::size_t unmatched = active.size();
    for (std::int32_t n = 127; n >= 1 && unmatched > 0; --n) {
      for (std::int32_t p = 51; p <= 1500 && unmatched > 0; ++p) {
        const std::int32_t qMin = (p - 1) / 50 + 1;
        const std::int32_t qMax = p / 11;
        for (std::int32_t q = qMin; q <= qMax; ++q) {
          const std::int32_t value = (p * 1000000) / (q * n);
          if (!(window[value >> 6] >> (value & 63) & 1)) continue;
          auto it = std::lower_bound(active.begin(), active.end(), value - maxAllowed,
                                     [](const Job& j, std::int32_t v) { return j.target < v; });
          for (; it != active.end() && it->target <= value + maxAllowed; ++it) {
            if (it->matched || std::abs(it->target - value) > it->allowed) continue;
            it->matched = true;
            --unmatched;
            Outcome& o = out[it->index];
            const std::int32_t pb = (p & ~1) / 2 - 3;
            const std::int32_t pump = p <= 231    ? 0
                                      : p <= 626  ? 1
                                      : p <= 834  ? 2
                                      : p <= 1043 ? 3
                                                  : 4;
            o.result.postDivider = static_cast<std::uint8_t>(n);
            o.result.qRegister = static_cast<std::uint8_t>(q - 2);
            o.result.pLow = static_cast<std::uint8_t>(pb & 0xFF);
            o.result.pllControl =
                static_cast<std::uint8_t>(0x40 | pump << 3 | (p & 1) << 2 | ((pb >> 8) & 3));
            o.result.prescale = it->prescale;
            o.result.achievedHz = it->prescale ? (value * 8 + 64) >> 7 : value * 8;
            o.steps = StepsUpTo(level, n);
          }
        }
      }
    }
    std::vector<Job> next;
    for (const Job& j : active)
      if (!j.matched) next.push_back(j);
    pending = std::move(next);
  }
  return out;
}

void ExpectSame(const Outcome& want, const Outcome& got, std::int32_t f) {
  EXPECT_EQ(want.result.postDivider, got.result.postDivider) << f;
  EXPECT_EQ(want.result.qRegister, got.result.qRegister) << f;
  EXPECT_EQ(want.result.pLow, got.result.pLow) << f;
  EXPECT_EQ(want.result.pllControl, got.result.pllControl) << f;
  EXPECT_EQ(want.result.prescale, got.result.prescale) << f;
  EXPECT_EQ(want.result.achievedHz, got.result.achievedHz) << f;
  EXPECT_EQ(want.steps, got.steps) << f;
}

// Frequencies for which no setting exists at 50 tolerance steps.
const std::vector<std::int32_t> kNoMatch{187466, 281184, 349977};

const std::vector<std::int32_t> kEdgeFrequencies{
    -1,       0,        9999,     10000,     19999,     20000,    500000,   999999,
    1000000,  1234567,  2000000,  3579545,   10000000,  11059200, 12000000, 24000000,
    33333333, 77777777, 99999999, 100000000, 200000000, 187466,   281184,   349977};

// A log spread plus random picks (fixed seed): the frequencies the plain
// search runs on directly.
std::vector<std::int32_t> DirectSample() {
  std::vector<std::int32_t> f;
  for (int i = 0; i < 24; ++i)
    f.push_back(static_cast<std::int32_t>(10000 * std::pow(10.0, i / 6.0)));
  std::mt19937 rng(22393);
  std::uniform_int_distribution<std::int32_t> any(10000, 100000000);
  for (int i = 0; i < 8; ++i) f.push_back(any(rng));
  return f;
}

TEST(PllSearch, PlainSearchAgreesWithFastAndBatched) {
  std::vector<std::int32_t> f = kEdgeFrequencies;
  for (std::int32_t x : DirectSample()) f.push_back(x);
  const std::vector<Outcome> batch = BatchReference(f, 50);
  for (std::size_t i = 0; i < f.size(); ++i) {
    const Outcome plain = RunReference(f[i]);
    ExpectSame(plain, RunFast(f[i]), f[i]);
    ExpectSame(plain, batch[i], f[i]);
  }
}

TEST(PllSearch, OtherToleranceStepsMatchPlainSearch) {
  // Fewer steps change which levels repeat a window of an earlier one.
  for (std::uint8_t t : {0, 1, 7, 9})
    for (std::int32_t f : {187466, 3579545, 45678901})
      ExpectSame(RunReference(f, t), RunFast(f, t), f);
  ExpectSame(RunReference(3579545, 255), RunFast(3579545, 255), 3579545);
}

TEST(PllSearch, TwentyThousandFrequenciesMatchBatchedPlainSearch) {
  std::vector<std::int32_t> f;
  for (int i = 0; i < 10000; ++i)  // log spread over 10 kHz .. 100 MHz
    f.push_back(static_cast<std::int32_t>(std::lround(10000 * std::pow(10.0, 4.0 * i / 9999))));
  std::mt19937 rng(51);
  std::uniform_int_distribution<std::int32_t> linear(10000, 100000000);
  std::uniform_real_distribution<double> exponent(4.0, 8.0);
  for (int i = 0; i < 5000; ++i) f.push_back(linear(rng));
  for (int i = 0; i < 5000; ++i)
    f.push_back(static_cast<std::int32_t>(std::pow(10.0, exponent(rng))));
  std::uniform_int_distribution<std::int32_t> doubled(100000000, 200000000);  // 2 x CrystalHz
  for (int i = 0; i < 500; ++i) f.push_back(doubled(rng));
  for (std::int32_t x : kNoMatch) f.push_back(x);

  const std::vector<Outcome> batch = BatchReference(f, 50);
  int noMatch = 0, mismatches = 0;
  for (std::size_t i = 0; i < f.size(); ++i) {
    const Outcome fast = RunFast(f[i]);
    if (!(fast.result == batch[i].result) || fast.steps != batch[i].steps) {
      if (++mismatches <= 10) ExpectSame(batch[i], fast, f[i]);
    }
    if (batch[i].result.postDivider == 0) ++noMatch;
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_GE(noMatch, 20);  // the spread must reach the no-match case
}

TEST(PllSearch, ExactMatchTakesLargestDividerOnFirstLevel) {
  // 8 MHz * 127 / (8 * 127) = 1 MHz: N = 127, P = 127, Q = 8.
  const Outcome o = RunFast(1000000);
  EXPECT_EQ(o.steps, 0);
  EXPECT_EQ(o.result.postDivider, 127);
  EXPECT_EQ(o.result.qRegister, 6);
  EXPECT_EQ(o.result.pLow, 127 / 2 - 3);
  EXPECT_EQ(o.result.pllControl, 0x40 | 0x04);
  EXPECT_EQ(o.result.achievedHz, 1000000);
}

TEST(PllSearch, LowFrequencyIsSearchedPrescaled) {
  const Outcome o = RunFast(500000);  // searched as 64 MHz
  EXPECT_EQ(o.result.prescale, 1);
  EXPECT_EQ(o.result.achievedHz, 500000);
  EXPECT_NE(o.result.postDivider, 0);
  const Outcome plain = RunFast(64000000);
  EXPECT_EQ(plain.result.prescale, 0);
  EXPECT_EQ(plain.result.postDivider, o.result.postDivider);
  EXPECT_EQ(plain.result.achievedHz, 64000000);
}

TEST(PllSearch, BelowTenKilohertzGivesNothing) {
  for (std::int32_t f : {9999, 0, -20000000}) {
    const Outcome o = RunFast(f);
    EXPECT_EQ(o.result, PllResult{});
    EXPECT_EQ(o.steps, 0);
  }
  const Outcome none = RunFast(kNoMatch[0]);
  EXPECT_EQ(none.result, PllResult{});
  EXPECT_EQ(none.steps, 51 * kPllStepsPerLevel);
}

TEST(PllEncoding, ChargePumpBoundaries) {
  EXPECT_EQ(PllChargePump(231), 0);
  EXPECT_EQ(PllChargePump(232), 1);
  EXPECT_EQ(PllChargePump(626), 1);
  EXPECT_EQ(PllChargePump(627), 2);
  EXPECT_EQ(PllChargePump(834), 2);
  EXPECT_EQ(PllChargePump(835), 3);
  EXPECT_EQ(PllChargePump(1043), 3);
  EXPECT_EQ(PllChargePump(1044), 4);
  // PB = 310 (bits 8..9 = 1), odd P, pump 1.
  EXPECT_EQ(PllControlFor(626), 0x40 | 1 << 3 | 1);
  EXPECT_EQ(PllControlFor(627), 0x40 | 2 << 3 | 1 << 2 | 1);
  EXPECT_EQ(PllPLowFor(627), 310 & 0xFF);
  EXPECT_EQ(PllControlFor(1043), 0x40 | 3 << 3 | 1 << 2 | 2);  // PB = 518
  EXPECT_EQ(PllControlFor(1044), 0x40 | 4 << 3 | 2);           // PB = 519
  EXPECT_EQ(PllPLowFor(1500), (747 & 0xFF));
  EXPECT_EQ(PllControlFor(1500), 0x40 | 4 << 3 | 2);
}

TEST(PllEncoding, RegistersDecodeToAchievedFrequency) {
  const std::vector<std::int32_t> sample = DirectSample();
  std::size_t decoded = 0;
  for (std::int32_t f : sample) {
    const PllResult r = RunFast(f).result;
    if (r.postDivider == 0) continue;
    ++decoded;
    const int pb = r.pLow | (r.pllControl & 3) << 8;
    const int p = (pb + 3) * 2 + (r.pllControl >> 2 & 1);
    const int q = r.qRegister + 2;
    ASSERT_GE(p, kPllMinP);
    ASSERT_LE(p, kPllMaxP);
    EXPECT_LE(q * 11, p) << f;
    EXPECT_LE(p, q * 50) << f;
    EXPECT_EQ(r.pllControl >> 3 & 7, PllChargePump(p)) << f;
    const std::int32_t value = (p * 1000000) / (q * r.postDivider);
    EXPECT_EQ(r.achievedHz, r.prescale ? (value * 8 + 64) >> 7 : value * 8) << f;
    EXPECT_LE(std::abs(static_cast<double>(r.achievedHz) - f), f * 1e-4 + 64) << f;
  }
  // Frequencies without a setting are rare, so most of the sample is decoded.
  EXPECT_GE(decoded * 2, sample.size());
}

}  // namespace
}  // namespace kz
