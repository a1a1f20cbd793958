#pragma once
// The CY22393 clock generator: PLL register search for the crystal frequency,
// the checksummed clock cache, the clock generator command (14) and the CPU
// sampling-timing calibration that picks W1's timing fields for the pod's CPU.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

#include "config/ClockCacheRecord.h"
#include "config/TargetConfig.h"
#include "connect/ProgBar.h"
#include "link/CommandSet.h"
#include "link/EmulatorState.h"

namespace kz {

// One PLL setting as the search returns it. A post divider of 0 means no
// setting was found (every other field is 0 then).
struct PllResult {
  std::uint8_t postDivider = 0;
  std::uint8_t qRegister = 0;
  std::uint8_t pLow = 0;
  std::uint8_t pllControl = 0;
  std::uint8_t prescale = 0;
  std::int32_t achievedHz = 0;
  bool operator==(const PllResult&) const = default;
};

// Called once per progress step of the search; may be empty.
using ProgressFn = std::function<void()>;

inline constexpr int kPllMinP = 51, kPllMaxP = 1500, kPllMaxN = 127;
// Progress steps the search emits per tolerance level (N = 120, 112, ..., 8).
inline constexpr int kPllStepsPerLevel = 15;

// Charge pump field for total multiplier p.
std::uint8_t PllChargePump(int p);
// The PLL control byte for total multiplier p (bit 6, charge pump, P odd, PB bits 8..9).
std::uint8_t PllControlFor(int p);
// P low byte: PB bits 0..7 with PB = (p & ~1) / 2 - 3.
std::uint8_t PllPLowFor(int p);

// Searches N, P, Q with 8 MHz * P / (Q * N) close to frequencyHz. Prefers the
// smallest tolerance level, then the largest N, the smallest P, the smallest Q;
// calls step when N is a multiple of 8 (15 times per level tried).
PllResult PllSearch(std::int32_t frequencyHz, std::uint8_t toleranceSteps, const ProgressFn& step);

// Five bytes of the fixed-clock table: clock divider byte, three PLL register
// bytes, selector (1 or 2 picks W3 bit 3 or 4).
using FixedClockRow = std::array<std::uint8_t, 5>;
inline constexpr FixedClockRow kFixedClockRow14{0x7F, 0x17, 0xFB, 0x48, 0x01};

using ClockRegisterImage = std::array<std::uint8_t, 23>;
inline constexpr ClockRegisterImage kBaseClockImage{0x08, 0x00, 0x19, 0x00, 0x00, 0x00, 0x06, 0x50,
                                                    0x55, 0x00, 0x2F, 0x60, 0x00, 0x00, 0x00, 0x00,
                                                    0x00, 0x00, 0xE9, 0x08, 0x17, 0xAD, 0x61};

// Pass/fail of every timing trial, indexed [A - 1][B][C].
using TrialTable = std::array<std::array<std::array<bool, 32>, 2>, 2>;

struct TimingChoice {
  std::uint8_t a = 0, b = 0, c = 0;
  bool operator==(const TimingChoice&) const = default;
};

// Picks the longest run of passing C values (A = 1 then 2, B = 0 then 1;
// earlier runs win ties); C is the run's second value when it has one.
std::optional<TimingChoice> SelectTimingRun(const TrialTable& pass);

class ClockGenerator {
 public:
  // Result codes of the timing calibration.
  enum CalibrationResult : std::uint8_t {
    kCalibrated = 0,
    kCpuTypeUnstable = 1,  // link failed, kind 6
    kCpuTypeUnknown = 2,   // link failed, kind 6
    kNoPassingTiming = 3,
    kCalibrationSkipped = 4,  // link already failed, or failed during the trials
  };

  // cache is the driver's working copy; prepareTarget runs the emulator's
  // target preparation (TargetPrep::PrepareTarget in the driver).
  ClockGenerator(TargetConfig& config, ClockCacheRecord& cache, CommandSet& commands,
                 EmulatorState& state, TProgForm& progress, std::function<void()> prepareTarget)
      : config_(config),
        cache_(cache),
        commands_(commands),
        state_(state),
        progress_(progress),
        prepareTarget_(std::move(prepareTarget)) {}

  static bool ClockFrequencyCheck(std::int32_t frequencyHz) {
    return frequencyHz >= 20000 && frequencyHz <= 100000000;
  }

  std::uint32_t Checksum() const;
  // Brings the cache up to date with CrystalHz (searches only when stale).
  void UpdateClockSettings();
  // Working copy := the settings record's ClockCache field.
  void LoadFromRecord();
  // Command 14: 1 PLL settings, 2 fixed clock (row), 3 base image.
  void SendClock(std::uint8_t subFunction, const FixedClockRow& row = kFixedClockRow14);
  bool TimingTrial(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t x);
  std::uint8_t TimingCalibration(std::uint8_t x);
  // End of the pod configuration check. False when the calibrating pods
  // found no passing timing value, so the target is sampled with untested
  // timing (the connection stays usable).
  bool ClockAndTimingSetup();

  const ClockCacheRecord& Cache() const { return cache_; }

 private:
  struct TrialOutcome {
    bool pass;
    std::uint8_t reportedType;
  };
  TrialOutcome Trial(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t x);
  void StoreRecord();

  TargetConfig& config_;
  ClockCacheRecord& cache_;
  CommandSet& commands_;
  EmulatorState& state_;
  TProgForm& progress_;
  std::function<void()> prepareTarget_;
};

}  // namespace kz
