#pragma once
// The PLL search in its plain form: every tolerance level, N, P and Q in
// preference order. Far too slow for the driver; the tests and the benchmark
// hold PllSearch to exactly its results and progress steps.
#include <cstdint>

#include "connect/CY22393.h"

namespace kz {

inline PllResult PllSearchReference(std::int32_t frequencyHz, std::uint8_t toleranceSteps,
                                    const ProgressFn& step) {
  PllResult r{};
  std::int32_t f = frequencyHz;
  if (f < 10000) return r;
  std::uint8_t prescale = 0;
  if (f < 1000000) {
    f *= 128;
    prescale = 1;
  }
  const std::int32_t target = f / 8;
  const std::int32_t stepHz = f / 1000000;
  const std::int32_t limit = stepHz * toleranceSteps;
  for (std::int32_t tolerance = 0; tolerance <= limit; tolerance += stepHz) {
    const std::int32_t allowed = tolerance / 8;
    for (std::int32_t n = 127; n >= 1; --n) {
      if (n % 8 == 0 && step) step();
      for (std::int32_t p = 51; p <= 1500; ++p) {
        const std::int32_t qMin = (p - 1) / 50 + 1;
        const std::int32_t qMax = p / 11;
        for (std::int32_t q = qMin; q <= qMax; ++q) {
          const std::int32_t value = (p * 1000000) / (q * n);
          std::int32_t diff = target - value;
          if (diff < 0) diff = -diff;
          if (diff > allowed) continue;
          const std::int32_t pb = (p & ~1) / 2 - 3;
          std::int32_t pump = 4;
          if (p <= 231)
            pump = 0;
          else if (p <= 626)
            pump = 1;
          else if (p <= 834)
            pump = 2;
          else if (p <= 1043)
            pump = 3;
          r.postDivider = static_cast<std::uint8_t>(n);
          r.qRegister = static_cast<std::uint8_t>(q - 2);
          r.pLow = static_cast<std::uint8_t>(pb & 0xFF);
          r.pllControl =
              static_cast<std::uint8_t>(0x40 | (pump << 3) | ((p & 1) << 2) | ((pb >> 8) & 3));
          r.prescale = prescale;
          r.achievedHz = value * 8;
          if (prescale) r.achievedHz = (value * 8 + 64) >> 7;
          return r;
        }
      }
    }
  }
  return r;
}

}  // namespace kz
