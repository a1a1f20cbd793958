#include "connect/CY22393.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "connect/umessage.h"

namespace kz {

std::uint8_t PllChargePump(int p) {
  if (p <= 231) return 0;
  if (p <= 626) return 1;
  if (p <= 834) return 2;
  if (p <= 1043) return 3;
  return 4;
}

std::uint8_t PllPLowFor(int p) {
  const int pb = (p & ~1) / 2 - 3;
  return static_cast<std::uint8_t>(pb & 0xFF);
}

std::uint8_t PllControlFor(int p) {
  const int pb = (p & ~1) / 2 - 3;
  return static_cast<std::uint8_t>(0x40 | (PllChargePump(p) << 3) | ((p & 1) << 2) |
                                   ((pb >> 8) & 3));
}

namespace {

constexpr std::int64_t kMega = 1000000;

// Smallest (P, Q) for post divider n whose value floor(P * 10^6 / (Q * n))
// lies in [lo, hi]; false when there is none. Q is admissible for P exactly
// when 11 Q <= P <= 50 Q (that is Qmin <= Q <= Qmax), and for fixed Q the value
// grows with P, so each Q admits one contiguous P range:
//   value >= lo  <=>  P * 10^6 >= lo * Q * n
//   value <= hi  <=>  P * 10^6 <  (hi + 1) * Q * n.
// The smallest P over all Q wins; scanning Q upwards and replacing only on a
// strictly smaller P keeps the smallest Q among equals.
bool BestForDivider(std::int64_t n, std::int64_t lo, std::int64_t hi, int& bestP, int& bestQ) {
  // Every value for this n lies in [floor(11e6 / n), floor(50e6 / n)].
  if (hi < 11 * kMega / n || lo > 50 * kMega / n) return false;
  bestP = kPllMaxP + 1;
  std::int64_t qTop = kPllMaxP / 11;
  if (lo > 0) qTop = std::min<std::int64_t>(qTop, kPllMaxP * kMega / (lo * n));
  for (std::int64_t q = 2; q <= qTop; ++q) {
    const std::int64_t qn = q * n;
    std::int64_t pLo = std::max<std::int64_t>({kPllMinP, 11 * q, (lo * qn + kMega - 1) / kMega});
    if (lo <= 0) pLo = std::max<std::int64_t>(kPllMinP, 11 * q);
    if (pLo >= bestP) continue;
    const std::int64_t pHi =
        std::min<std::int64_t>({kPllMaxP, 50 * q, ((hi + 1) * qn - 1) / kMega});
    if (pLo > pHi) continue;
    bestP = static_cast<int>(pLo);
    bestQ = static_cast<int>(q);
  }
  return bestP <= kPllMaxP;
}

}  // namespace

PllResult PllSearch(std::int32_t frequencyHz, std::uint8_t toleranceSteps, const ProgressFn& step) {
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
  std::int32_t failedAllowed = -1;
  for (std::int32_t tolerance = 0; tolerance <= limit; tolerance += stepHz) {
    const std::int32_t allowed = tolerance / 8;
    // A level with the same window as one that already failed fails too; it
    // still owes its progress steps.
    if (allowed == failedAllowed) {
      if (step)
        for (int i = 0; i < kPllStepsPerLevel; ++i) step();
      continue;
    }
    const std::int64_t lo = std::int64_t{target} - allowed;
    const std::int64_t hi = std::int64_t{target} + allowed;
    for (int n = kPllMaxN; n >= 1; --n) {
      if (n % 8 == 0 && step) step();
      int p = 0, q = 0;
      if (!BestForDivider(n, lo, hi, p, q)) continue;
      const std::int32_t value = (p * 1000000) / (q * n);
      r.postDivider = static_cast<std::uint8_t>(n);
      r.qRegister = static_cast<std::uint8_t>(q - 2);
      r.pLow = PllPLowFor(p);
      r.pllControl = PllControlFor(p);
      r.prescale = prescale;
      r.achievedHz = prescale ? (value * 8 + 64) >> 7 : value * 8;
      return r;
    }
    failedAllowed = allowed;
  }
  return r;
}

std::optional<TimingChoice> SelectTimingRun(const TrialTable& pass) {
  std::optional<TimingChoice> choice;
  int longest = 0;
  for (int a = 1; a <= 2; ++a) {
    for (int b = 0; b <= 1; ++b) {
      const auto& row = pass[a - 1][b];
      int c = 0;
      while (c < 32) {
        if (!row[c]) {
          ++c;
          continue;
        }
        const int first = c;
        while (c < 32 && row[c]) ++c;
        const int length = c - first;
        if (length > longest) {
          longest = length;
          choice = TimingChoice{static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b),
                                static_cast<std::uint8_t>(length > 1 ? first + 1 : first)};
        }
      }
    }
  }
  return choice;
}

std::uint32_t ClockGenerator::Checksum() const {
  std::uint32_t sum = static_cast<std::uint32_t>(static_cast<std::int32_t>(cache_.CachedHz)) +
                      static_cast<std::uint32_t>(static_cast<std::int32_t>(cache_.AchievedHz1)) +
                      static_cast<std::uint32_t>(static_cast<std::int32_t>(cache_.AchievedHz2));
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&cache_);
  for (std::size_t i = 12; i < 28; ++i) sum += bytes[i];
  return sum;
}

void ClockGenerator::StoreRecord() {
  static_assert(sizeof(config_.ClockCache) == sizeof(ClockCacheRecord));
  std::memcpy(config_.ClockCache, &cache_, sizeof(ClockCacheRecord));
}

void ClockGenerator::LoadFromRecord() {
  std::memcpy(&cache_, config_.ClockCache, sizeof(ClockCacheRecord));
}

void ClockGenerator::UpdateClockSettings() {
  if (!ClockFrequencyCheck(config_.CrystalHz)) {
    config_.CrystalHz = 10000000;
    cache_.Checksum = 0;
    cache_.CalValid = 0;
  }
  const std::int32_t crystal = config_.CrystalHz;
  if (crystal != static_cast<std::int32_t>(cache_.CachedHz)) {
    cache_.CachedHz = crystal;
    cache_.Checksum = 0;
    cache_.CalValid = 0;
  }
  if (Checksum() != static_cast<std::uint32_t>(cache_.Checksum)) {
    cache_.CalValid = 0;
    progress_.Start(140, GetMessage(1671) + std::to_string(crystal));
    const ProgressFn step = [this] { progress_.Step(); };
    const PllResult s1 = PllSearch(crystal, 50, step);
    const PllResult s2 = PllSearch(2 * crystal, 50, step);
    cache_.Setting1 = {s1.postDivider, s1.qRegister, s1.pLow, s1.pllControl, s1.prescale};
    cache_.AchievedHz1 = s1.achievedHz;
    cache_.Setting2 = {s2.postDivider, s2.qRegister, s2.pLow, s2.pllControl, s2.prescale};
    cache_.AchievedHz2 = s2.achievedHz;
    cache_.Checksum = Checksum();
    StoreRecord();
    progress_.Reset();
  }
  cache_.Checksum = Checksum();
}

void ClockGenerator::SendClock(std::uint8_t subFunction, const FixedClockRow& row) {
  ClockRegisterImage image = kBaseClockImage;
  if (subFunction == 1) {
    UpdateClockSettings();
    const int pod = config_.PodNumber();
    const bool podUsesSetting2 =
        pod != 4 && pod != 8 && pod != 9 &&
        (pod == 1 || pod == 2 || pod == 3 || pod == 5 || pod == 6 || pod == 7);
    const bool fastType = cache_.CpuTypeCode == 3 || cache_.CpuTypeCode == 4;
    const PllSettingBytes& s = podUsesSetting2 && fastType ? cache_.Setting2 : cache_.Setting1;
    image[0] = s.PostDivider;  // packet byte 16
    image[9] = s.QRegister;    // 25
    image[10] = s.PLow;        // 26
    image[11] = s.PllControl;  // 27
  } else if (subFunction == 2) {
    std::uint16_t w3 = state_.W[3] & static_cast<std::uint16_t>(~0x0018u);
    if (row[4] == 1) w3 |= 0x0008;
    if (row[4] == 2) w3 |= 0x0010;
    state_.W[3] = w3;
    image[2] = row[0];   // packet byte 18
    image[20] = row[1];  // 36
    image[21] = row[2];  // 37
    image[22] = row[3];  // 38
  }
  commands_.ProgramClock(subFunction, image);
}

ClockGenerator::TrialOutcome ClockGenerator::Trial(std::uint8_t a, std::uint8_t b, std::uint8_t c,
                                                   std::uint8_t x) {
  const std::uint8_t t = cache_.CpuTypeCode;
  const bool useSetting2 = t == 3 || t == 4;
  const PllSettingBytes& s = useSetting2 ? cache_.Setting2 : cache_.Setting1;

  std::uint16_t w3 = state_.W[3] & static_cast<std::uint16_t>(~0x0044u);
  if (t != 4) w3 |= 0x0040;
  if (s.Prescale == 1) w3 |= 0x0004;
  state_.W[3] = w3;

  std::uint16_t w1 = state_.W[1] & 0x801Fu;
  w1 |= static_cast<std::uint16_t>((a & 3u) << 5);
  w1 |= static_cast<std::uint16_t>((b & 1u) << 7);
  w1 |= static_cast<std::uint16_t>((c & 31u) << 8);
  w1 |= static_cast<std::uint16_t>((x & 1u) << 13);
  if (useSetting2) w1 |= 0x4000;
  state_.W[1] = w1;

  commands_.WriteConfiguration();
  if (prepareTarget_) prepareTarget_();
  // Full form: the next trial modifies W1 and W3 and sends them again, so the
  // words are refreshed from the emulator like every other modification.
  commands_.ReadStatus(true);

  const std::uint16_t s1 = state_.status[1];
  std::uint8_t reported = static_cast<std::uint8_t>(s1 & 7u);
  if (reported == 2) reported = 3;
  const bool pass = (s1 & 0x0078u) == 0 && (s1 & 0x0580u) == 0x0580u;

  auto known = [](std::uint8_t v) { return v == 3 || v == 4 || v == 6; };
  // Written without the checksum: the next update recomputes the settings.
  if (!known(t) && known(reported)) cache_.CpuTypeCode = reported;
  return {pass, reported};
}

bool ClockGenerator::TimingTrial(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t x) {
  return Trial(a, b, c, x).pass;
}

std::uint8_t ClockGenerator::TimingCalibration(std::uint8_t x) {
  Transport& link = commands_.Link();
  if (link.LinkFailed()) return kCalibrationSkipped;

  std::uint8_t r1 = 0, r2 = 0, r3 = 0;
  for (int round = 0; round < 101; ++round) {
    r1 = Trial(1, 1, 0, x).reportedType;
    r2 = Trial(1, 1, 0, x).reportedType;
    r3 = Trial(1, 1, 0, x).reportedType;
    if (r2 == r1 && r3 == r2) break;
  }
  // Status words read over a failed link are stale; they prove nothing.
  if (link.LinkFailed()) return kCalibrationSkipped;
  if (r2 != r1 && r3 != r2) {
    link.Fail(kErrorNoMcu);
    return kCpuTypeUnstable;
  }
  if (r1 != 3 && r1 != 4 && r1 != 6) {
    link.Fail(kErrorNoMcu);
    return kCpuTypeUnknown;
  }
  cache_.CpuTypeCode = r1;
  SendClock(1);

  progress_.Start(128, GetMessage(1600));
  TrialTable pass{};
  for (int a = 2; a >= 1; --a)
    for (int b = 1; b >= 0; --b)
      for (int c = 0; c < 32; ++c) {
        progress_.Step();
        pass[a - 1][b][c] = TimingTrial(static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b),
                                        static_cast<std::uint8_t>(c), x);
      }
  progress_.Reset();
  // A link lost during the trials leaves stale passes: do not store them.
  if (link.LinkFailed()) {
    cache_.CalValid = 0;
    return kCalibrationSkipped;
  }

  const std::optional<TimingChoice> choice = SelectTimingRun(pass);
  if (!choice) {
    cache_.CalValid = 0;
    return kNoPassingTiming;
  }
  cache_.CalA = choice->a;
  cache_.CalB = choice->b;
  cache_.CalC = choice->c;
  cache_.CalX = x;
  cache_.CalValid = 1;
  cache_.Checksum = Checksum();
  StoreRecord();
  TimingTrial(choice->a, choice->b, choice->c, x);
  return kCalibrated;
}

bool ClockGenerator::ClockAndTimingSetup() {
  state_.W = {0, 0, 0, 0};
  commands_.WriteConfiguration();
  commands_.ReadStatus(true);

  const int pod = config_.PodNumber();
  if (pod == 2 || pod == 3 || pod == 5 || pod == 6 || pod == 7) {
    for (int pass = 0; pass < 2; ++pass) {
      UpdateClockSettings();
      if (cache_.CalValid) {
        SendClock(1);
        if (TimingTrial(cache_.CalA, cache_.CalB, cache_.CalC, cache_.CalX)) {
          commands_.ReadRegisters();
          state_.pcShadow = 0;
          commands_.WriteRegisters();
          return true;
        }
        cache_.CalValid = 0;
      } else if (TimingCalibration(1) != kCalibrated) {
        TimingCalibration(0);
      }
    }
    // A failed link has its own error kind; otherwise no value passed.
    return commands_.Link().LinkFailed() || cache_.CalValid != 0;
  }

  std::uint8_t code = 0;
  switch (pod) {
    case 1:
      code = config_.SixClockMode != 0 ? 3 : 6;
      break;
    case 4:
      code = 4;
      break;
    case 8:
      code = (config_.CpuOptionBytes[0] & 0x08) != 0 ? 3 : 6;
      break;
    case 9:
      code = 1;
      break;
    default:
      return true;
  }
  cache_.CpuTypeCode = code;
  SendClock(1);
  if (prepareTarget_) prepareTarget_();
  commands_.ReadStatus(true);
  return true;
}

}  // namespace kz
